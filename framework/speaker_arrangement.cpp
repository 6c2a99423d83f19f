// Heap-held speaker arrangements for plug-ins that answer the arrangement
// opcodes. A block is 8 header bytes plus one 112-byte record per channel.
#include <cstring>

#include "framework/audio_effect_x.h"

namespace {
// The largest count whose block size fits a signed 32-bit integer.
constexpr VstInt32 kMaxArrangementChannels = 19173961;
}  // namespace

// A count outside 0..kMaxArrangementChannels, or no pointer variable to fill,
// is refused before anything is released.
bool AudioEffectX::allocateArrangement(VstSpeakerArrangement** arrangement, VstInt32 nbChannels) {
    if (arrangement == nullptr) return false;
    if (nbChannels < 0 || nbChannels > kMaxArrangementChannels) return false;
    if (*arrangement != nullptr) {
        delete[] reinterpret_cast<unsigned char*>(*arrangement);
        // Never left pointing at the released block, even if the next
        // allocation throws.
        *arrangement = nullptr;
    }
    auto* block = new unsigned char[speakerArrangementBytes(nbChannels)]();
    *arrangement = reinterpret_cast<VstSpeakerArrangement*>(block);
    (*arrangement)->numChannels = nbChannels;
    return true;
}

bool AudioEffectX::deallocateArrangement(VstSpeakerArrangement** arrangement) {
    if (arrangement == nullptr) return false;
    if (*arrangement != nullptr) {
        delete[] reinterpret_cast<unsigned char*>(*arrangement);
        *arrangement = nullptr;
    }
    return true;
}

bool AudioEffectX::copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from) {
    if (from == nullptr || to == nullptr) return false;
    // strncpy semantics over 63 bytes; the source need not be terminated.
    // memmove, because a speaker may be copied onto itself.
    std::size_t length = 0;
    while (length < 63 && from->name[length] != 0) ++length;
    std::memmove(to->name, from->name, length);
    std::memset(to->name + length, 0, sizeof(to->name) - length);
    to->type = from->type;
    to->azimuth = from->azimuth;
    to->elevation = from->elevation;
    to->radius = from->radius;
    to->reserved = from->reserved;
    std::memmove(to->future, from->future, sizeof(to->future));
    return true;
}

bool AudioEffectX::matchArrangement(VstSpeakerArrangement** to, VstSpeakerArrangement* from) {
    if (from == nullptr) return false;
    // Matching a block to itself: releasing it first would leave nothing to
    // copy from, and it already is its own copy.
    if (to != nullptr && *to == from) return true;
    if (!deallocateArrangement(to)) return false;
    if (!allocateArrangement(to, from->numChannels)) return false;
    (*to)->type = from->type;
    for (VstInt32 i = 0; i < (*to)->numChannels; ++i) {
        if (!copySpeaker(speakerAt(*to, i), speakerAt(from, i))) return false;
    }
    return true;
}
