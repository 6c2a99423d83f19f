// The LV2 description's own version, apart from the project's: hosts read a
// minor version of 0 as experimental and an odd minor or micro version as a
// development build, so a release raises either by an even step.
#pragma once

namespace varkel::lv2 {

inline constexpr int kMinorVersion = 2;
inline constexpr int kMicroVersion = 0;

}  // namespace varkel::lv2
