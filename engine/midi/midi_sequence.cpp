#include "engine/midi/midi_sequence.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace varkel::engine {

namespace {
constexpr double kFarFrame = 4611686018427387904.0;  // 2^62
}  // namespace

void MidiSequence::add(double seconds, const std::uint8_t* bytes, std::size_t size) {
    if (!std::isfinite(seconds) || seconds < 0.0)
        throw std::invalid_argument("a MIDI message's time must be a finite, non-negative number");
    if (!list.empty() && seconds < list.back().seconds)
        throw std::invalid_argument("MIDI messages must come in order of time");
    if (size == 0 || bytes == nullptr) throw std::invalid_argument("a MIDI message is empty");
    if (size > 0xFFFFFFFFu - storage.size())
        throw std::invalid_argument("MIDI messages too large to hold");
    list.push_back({seconds, static_cast<std::uint32_t>(storage.size()),
                    static_cast<std::uint32_t>(size)});
    storage.insert(storage.end(), bytes, bytes + size);
}

MidiSequence MidiSequence::onChannel(int channel) const {
    MidiSequence kept;
    for (const Message& m : list) {
        const std::uint8_t status = bytesOf(m)[0];
        const bool channelMessage = status >= 0x80 && status < 0xF0;
        if (channelMessage && (status & 0x0F) != channel - 1) continue;
        kept.add(m.seconds, bytesOf(m), m.size);
    }
    return kept;
}

MidiSchedule::MidiSchedule(const MidiSequence& sequence, double sampleRate) {
    framed.reserve(sequence.messages().size());
    for (const MidiSequence::Message& m : sequence.messages()) {
        // A time no render reaches (years at any rate) is held at a frame
        // that still fits, rather than overflowing the conversion.
        const double at = std::floor(m.seconds * sampleRate + 0.5);
        const auto frame = at < kFarFrame ? static_cast<std::int64_t>(at) : std::int64_t{1} << 62;
        framed.push_back({frame, static_cast<std::uint32_t>(storage.size()), m.size});
        const std::uint8_t* bytes = sequence.bytesOf(m);
        storage.insert(storage.end(), bytes, bytes + m.size);
    }
}

MidiSchedule MidiSchedule::from(std::int64_t start) const {
    MidiSchedule left;
    const auto first = std::lower_bound(framed.begin(), framed.end(), start,
                                        [](const Framed& f, std::int64_t at) { return f.frame < at; });
    for (auto it = first; it != framed.end(); ++it) left.append(*it, storage, -start);
    return left;
}

MidiSchedule MidiSchedule::merged(const MidiSchedule& first, const MidiSchedule& second) {
    MidiSchedule both;
    both.framed.reserve(first.framed.size() + second.framed.size());
    auto a = first.framed.begin();
    auto b = second.framed.begin();
    while (a != first.framed.end() || b != second.framed.end()) {
        if (b == second.framed.end() || (a != first.framed.end() && a->frame <= b->frame))
            both.append(*a++, first.storage, 0);
        else
            both.append(*b++, second.storage, 0);
    }
    return both;
}

void MidiSchedule::append(const Framed& message, const std::vector<std::uint8_t>& bytes,
                          std::int64_t shift) {
    framed.push_back({message.frame + shift, static_cast<std::uint32_t>(storage.size()),
                      message.size});
    storage.insert(storage.end(), bytes.begin() + message.offset,
                   bytes.begin() + message.offset + message.size);
}

void MidiSchedule::eventsIn(std::int64_t start, int frames, std::vector<MidiEvent>& out) const {
    out.clear();
    const auto first = std::lower_bound(framed.begin(), framed.end(), start,
                                        [](const Framed& f, std::int64_t at) { return f.frame < at; });
    for (auto it = first; it != framed.end() && it->frame < start + frames; ++it)
        out.push_back({static_cast<int>(it->frame - start), it->size, storage.data() + it->offset});
}

}  // namespace varkel::engine
