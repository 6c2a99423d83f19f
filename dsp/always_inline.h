// Functions that must never exist as a separate body: the chain's stages, and
// the helpers that the AVX2 pipeline shares with the rest. That file is built
// for AVX2, and a body of a shared helper compiled there could be the one
// the linker keeps for every caller, AVX2 or not.
#pragma once

#if defined(__GNUC__)
#define VARKEL_INLINE [[gnu::always_inline]] inline
#define VARKEL_MEMBER_INLINE [[gnu::always_inline]]
#else
#define VARKEL_INLINE inline
#define VARKEL_MEMBER_INLINE
#endif
