#include "tests/e2e/midi_file_writer.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>

namespace e2e {

namespace {

void bigEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

// Seven bits a byte, most significant first, the top bit set on all but the last.
void variableLength(std::string& out, std::uint32_t value) {
    std::uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = value & 0x7F;
        value >>= 7;
    } while (value != 0);
    while (count > 1) out += static_cast<char>(groups[--count] | 0x80);
    out += static_cast<char>(groups[0]);
}

std::uint32_t tempoOf(const MidiFileEvent& e) {
    return (std::uint32_t{e.bytes[2]} << 16) | (std::uint32_t{e.bytes[3]} << 8) | e.bytes[4];
}

bool isTempo(const MidiFileEvent& e) {
    return e.bytes.size() == 5 && e.bytes[0] == 0xFF && e.bytes[1] == 0x51;
}

std::string trackChunk(std::vector<MidiFileEvent> events, const MidiFileContent& content) {
    std::stable_sort(events.begin(), events.end(),
                     [](const auto& a, const auto& b) { return a.tick < b.tick; });
    std::string data;
    std::uint32_t now = 0;
    int status = -1;  // for running status
    for (const MidiFileEvent& e : events) {
        if (e.bytes.empty()) throw std::invalid_argument("a MIDI file event without bytes");
        variableLength(data, e.tick - now);
        now = e.tick;
        const auto first = e.bytes[0];
        if (first == 0xF0 || first == 0xFF) {
            // Both cancel running status; each carries its length.
            const std::size_t head = first == 0xFF ? 2 : 1;
            data.append(e.bytes.begin(), e.bytes.begin() + static_cast<long>(head));
            variableLength(data, static_cast<std::uint32_t>(e.bytes.size() - head));
            data.append(e.bytes.begin() + static_cast<long>(head), e.bytes.end());
            status = -1;
            continue;
        }
        const bool repeat = content.runningStatus && first == status;
        data.append(e.bytes.begin() + (repeat ? 1 : 0), e.bytes.end());
        status = first;
    }
    if (content.endTracks) data += std::string("\x00\xFF\x2F\x00", 4);
    std::string chunk = "MTrk";
    bigEndian(chunk, static_cast<std::uint32_t>(data.size()), 4);
    return chunk + data;
}

}  // namespace

void MidiFileContent::addNote(std::uint32_t tick, std::uint32_t length, int channel, int note,
                              int velocity, int track) {
    const auto c = static_cast<std::uint8_t>(channel & 0x0F);
    const auto k = static_cast<std::uint8_t>(note & 0x7F);
    events.push_back({tick, track, {static_cast<std::uint8_t>(0x90 | c), k,
                                    static_cast<std::uint8_t>(velocity & 0x7F)}});
    events.push_back({tick + length, track, {static_cast<std::uint8_t>(0x80 | c), k, 0}});
}

void MidiFileContent::addTempo(std::uint32_t tick, double quartersPerMinute, int track) {
    const auto micros = static_cast<std::uint32_t>(std::lround(60e6 / quartersPerMinute));
    events.push_back({tick, track, {0xFF, 0x51, static_cast<std::uint8_t>(micros >> 16),
                                    static_cast<std::uint8_t>(micros >> 8),
                                    static_cast<std::uint8_t>(micros)}});
}

double MidiFileContent::secondsAt(std::uint32_t tick) const {
    std::vector<MidiFileEvent> tempos;
    std::copy_if(events.begin(), events.end(), std::back_inserter(tempos), isTempo);
    std::stable_sort(tempos.begin(), tempos.end(),
                     [](const auto& a, const auto& b) { return a.tick < b.tick; });
    double seconds = 0.0;
    std::uint32_t at = 0;
    std::uint32_t micros = 500000;
    for (const MidiFileEvent& t : tempos) {
        if (t.tick >= tick) break;
        seconds += (t.tick - at) * micros / 1e6 / ticksPerQuarter;
        at = t.tick;
        micros = tempoOf(t);
    }
    return seconds + (tick - at) * micros / 1e6 / ticksPerQuarter;
}

std::string midiFileBytes(const MidiFileContent& content) {
    int tracks = 1;
    if (content.format != 0)
        for (const MidiFileEvent& e : content.events) tracks = std::max(tracks, e.track + 1);
    std::string file = "MThd";
    bigEndian(file, 6, 4);
    bigEndian(file, static_cast<std::uint32_t>(content.format), 2);
    bigEndian(file, static_cast<std::uint32_t>(tracks), 2);
    bigEndian(file, static_cast<std::uint32_t>(content.ticksPerQuarter), 2);
    for (int track = 0; track < tracks; ++track) {
        std::vector<MidiFileEvent> own;
        std::copy_if(content.events.begin(), content.events.end(), std::back_inserter(own),
                     [&](const MidiFileEvent& e) { return content.format == 0 || e.track == track; });
        file += trackChunk(std::move(own), content);
    }
    return file;
}

void writeMidiFile(const std::string& path, const MidiFileContent& content) {
    std::ofstream file(path, std::ios::binary);
    file << midiFileBytes(content);
    if (!file.flush()) throw std::runtime_error("cannot write " + path);
}

}  // namespace e2e
