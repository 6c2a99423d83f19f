// A reader of our own rather than libsmf: libsmf brings in glib and reports
// damage through g_critical on stderr, while this one is small, checks every
// read against the bytes there are, can be fuzzed on its own and says in one
// line what is wrong and where.
#include "engine/midi/midi_file.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "engine/engine_error.h"

namespace varkel::engine {

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kDefaultMicrosecondsPerQuarter = 500000;  // 120 beats a minute

std::string at(std::size_t offset) { return "byte " + std::to_string(offset); }
std::string hex(std::uint8_t b) {
    const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[b >> 4] + digits[b & 15];
}

// Big-endian fields and variable-length quantities from [pos, end).
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t pos, std::size_t end)
        : data(data), pos(pos), end(end) {}

    bool done() const { return pos >= end; }
    std::size_t position() const { return pos; }
    std::size_t left() const { return end - pos; }

    std::uint8_t byte(const char* what) {
        need(1, what);
        return data[pos++];
    }
    std::uint32_t big(int bytes, const char* what) {
        need(static_cast<std::size_t>(bytes), what);
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value = (value << 8) | data[pos++];
        return value;
    }
    // At most four bytes of seven bits, as the format allows.
    std::uint32_t quantity(const char* what) {
        const std::size_t start = pos;
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const std::uint8_t b = byte(what);
            value = (value << 7) | (b & 0x7F);
            if ((b & 0x80) == 0) return value;
        }
        throw MidiFileError(std::string(what) + " longer than 4 bytes at " + at(start));
    }
    void unread() { --pos; }
    const std::uint8_t* take(std::size_t length, const char* what) {
        need(length, what);
        const std::uint8_t* bytes = data + pos;
        pos += length;
        return bytes;
    }
    void need(std::size_t length, const char* what) const {
        if (left() < length)
            throw MidiFileError(std::string(what) + " runs past the end of its chunk at " + at(pos));
    }

private:
    const std::uint8_t* data;
    std::size_t pos;
    std::size_t end;
};

struct TrackMessage {
    std::uint64_t tick = 0;
    std::uint32_t offset = 0;  // into Track::bytes
    std::uint32_t size = 0;
};

struct TempoChange {
    std::uint64_t tick = 0;
    std::uint32_t microsecondsPerQuarter = 0;
};

struct Track {
    std::vector<TrackMessage> messages;
    std::vector<std::uint8_t> bytes;
    std::vector<TempoChange> tempos;
    std::uint64_t endTick = 0;  // of its end-of-track, or of its last event
};

// Whether a sysex packet holds only data bytes, but for an F7 at its end.
bool dataOnly(const std::uint8_t* packet, std::uint32_t length) {
    for (std::uint32_t i = 0; i < length; ++i)
        if (packet[i] > 0x7F && !(i + 1 == length && packet[i] == 0xF7)) return false;
    return true;
}

// Data bytes a channel message's status takes.
int dataBytesOf(std::uint8_t status) {
    const std::uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

class TrackParser {
public:
    TrackParser(const std::uint8_t* data, std::size_t start, std::size_t end, int number)
        : in(data, start, end), number(number) {}

    Track parse() {
        try {
            while (!in.done()) {
                tick += in.quantity("a delta time");
                if (!event()) break;
            }
        } catch (const MidiFileError& error) {
            throw MidiFileError("track " + std::to_string(number) + ": " + error.what());
        }
        // A chunk that ends at a message boundary without its end-of-track
        // is taken as ending there: what writers that drop it meant.
        closeSysex();
        track.endTick = tick;
        return std::move(track);
    }

private:
    // Reads one event after its delta time; false at the end of the track.
    bool event() {
        const std::size_t start = in.position();
        std::uint8_t status = in.byte("an event");
        if (status < 0x80) {
            // Kept across meta and sysex events, as players do, though the
            // format says they cancel it.
            if (running == 0)
                throw MidiFileError("running status with no status before it at " + at(start));
            status = running;
            in.unread();  // the byte was the message's first data byte
        }
        if (status < 0xF0) {
            running = status;
            std::uint8_t message[3] = {status, 0, 0};
            const int count = dataBytesOf(status);
            for (int i = 1; i <= count; ++i) message[i] = dataByte();
            add(message, static_cast<std::size_t>(count) + 1);
            return true;
        }
        switch (status) {
        case 0xF0: sysex(); return true;
        case 0xF7: escape(); return true;
        case 0xFF: return meta();
        case 0xF1:
        case 0xF3: {
            const std::uint8_t message[2] = {status, dataByte()};
            add(message, 2);
            return true;
        }
        case 0xF2: {
            const std::uint8_t message[3] = {status, dataByte(), dataByte()};
            add(message, 3);
            return true;
        }
        case 0xF6:
        case 0xF8:
        case 0xFA:
        case 0xFB:
        case 0xFC:
        case 0xFE: add(&status, 1); return true;
        default:
            throw MidiFileError("undefined status byte " + hex(status) + " at " + at(start));
        }
    }

    std::uint8_t dataByte() {
        const std::size_t where = in.position();
        const std::uint8_t b = in.byte("a message");
        if (b > 0x7F)
            throw MidiFileError("status byte " + hex(b) + " where a data byte belongs at " +
                                at(where));
        return b;
    }

    // F0 and its packet; a packet without F7 is continued by F7 packets
    // (a dump split in parts) and closed by the first that ends in F7, or
    // by the next other message.
    void sysex() {
        closeSysex();
        const std::uint32_t length = in.quantity("a sysex length");
        const std::size_t start = in.position();
        const std::uint8_t* packet = in.take(length, "a sysex message");
        if (!dataOnly(packet, length))
            throw MidiFileError("a status byte inside a sysex message at " + at(start));
        const std::uint8_t f0 = 0xF0;
        add(&f0, 1);
        appendToLast(packet, length);
        open = true;
        if (length > 0 && packet[length - 1] == 0xF7) open = false;
    }

    // An F7 packet outside a split dump, or one holding status bytes, is an
    // escape of raw bytes (song position, real-time...) that need not be one
    // whole message: skipped rather than handed to a plug-in as one.
    void escape() {
        const std::uint32_t length = in.quantity("an escape length");
        const std::uint8_t* packet = in.take(length, "an escape packet");
        if (!open) return;
        if (!dataOnly(packet, length)) {
            closeSysex();
            return;
        }
        appendToLast(packet, length);
        if (length > 0 && packet[length - 1] == 0xF7) open = false;
    }

    bool meta() {
        const std::size_t start = in.position() - 1;
        const std::uint8_t type = in.byte("a meta event");
        const std::uint32_t length = in.quantity("a meta length");
        const std::uint8_t* body = in.take(length, "a meta event");
        if (type == 0x2F) return false;
        if (type == 0x51) {
            if (length < 3) throw MidiFileError("tempo shorter than 3 bytes at " + at(start));
            const std::uint32_t tempo = std::uint32_t{body[0]} << 16 | body[1] << 8 | body[2];
            if (tempo == 0) throw MidiFileError("a tempo of 0 at " + at(start));
            track.tempos.push_back({tick, tempo});
        }
        return true;
    }

    void add(const std::uint8_t* message, std::size_t size) {
        closeSysex();
        track.messages.push_back({tick, static_cast<std::uint32_t>(track.bytes.size()),
                                  static_cast<std::uint32_t>(size)});
        track.bytes.insert(track.bytes.end(), message, message + size);
    }
    void appendToLast(const std::uint8_t* bytes, std::size_t size) {
        track.bytes.insert(track.bytes.end(), bytes, bytes + size);
        track.messages.back().size += static_cast<std::uint32_t>(size);
    }
    void closeSysex() {
        if (!open) return;
        open = false;
        const std::uint8_t f7 = 0xF7;
        appendToLast(&f7, 1);
    }

    ByteReader in;
    int number;
    std::uint64_t tick = 0;
    std::uint8_t running = 0;
    bool open = false;  // a sysex whose F7 has not come yet (the last message)
    Track track;
};

// Ticks to seconds through a tempo map (or the fixed rate of SMPTE time),
// each segment's start accumulated once so that a time is exact within its
// segment rather than a sum of rounded steps.
class Timeline {
public:
    // Ticks per quarter note: tempo changes apply.
    explicit Timeline(std::uint32_t ticksPerQuarter) : ticksPerQuarter(ticksPerQuarter) {
        segments.push_back({0, 0.0, kDefaultMicrosecondsPerQuarter});
    }
    // SMPTE: ticks per second, tempo changes do not apply.
    static Timeline smpte(double ticksPerSecond) {
        Timeline line(1);
        line.fixedTicksPerSecond = ticksPerSecond;
        return line;
    }

    // Changes in order of tick; the last at a tick holds.
    void change(std::uint64_t tick, std::uint32_t microsecondsPerQuarter) {
        if (fixedTicksPerSecond > 0.0) return;
        Segment& last = segments.back();
        if (tick == last.tick) {
            last.microsecondsPerQuarter = microsecondsPerQuarter;
            return;
        }
        segments.push_back({tick, seconds(tick), microsecondsPerQuarter});
    }

    double seconds(std::uint64_t tick) const {
        if (fixedTicksPerSecond > 0.0) return static_cast<double>(tick) / fixedTicksPerSecond;
        const auto next = std::upper_bound(
            segments.begin(), segments.end(), tick,
            [](std::uint64_t t, const Segment& s) { return t < s.tick; });
        const Segment& s = *(next - 1);
        return s.seconds + static_cast<double>(tick - s.tick) *
                               static_cast<double>(s.microsecondsPerQuarter) /
                               (1e6 * static_cast<double>(ticksPerQuarter));
    }

private:
    struct Segment {
        std::uint64_t tick;
        double seconds;
        std::uint32_t microsecondsPerQuarter;
    };
    std::vector<Segment> segments;
    std::uint32_t ticksPerQuarter;
    double fixedTicksPerSecond = 0.0;
};

Timeline timelineOf(std::uint16_t division) {
    if ((division & 0x8000) == 0) {
        if (division == 0) throw MidiFileError("a division of 0 ticks per quarter note");
        return Timeline(division);
    }
    const int framesPerSecond = -static_cast<std::int8_t>(division >> 8);
    const int ticksPerFrame = division & 0xFF;
    if (framesPerSecond != 24 && framesPerSecond != 25 && framesPerSecond != 29 &&
        framesPerSecond != 30)
        throw MidiFileError("SMPTE division of " + std::to_string(framesPerSecond) +
                            " frames a second (24, 25, 29 or 30)");
    if (ticksPerFrame == 0) throw MidiFileError("SMPTE division of 0 ticks a frame");
    // 29 is drop-frame time: 30 frames a second slowed by 1000/1001.
    const double frameRate = framesPerSecond == 29 ? 30000.0 / 1001.0 : framesPerSecond;
    return Timeline::smpte(frameRate * ticksPerFrame);
}

struct Placed {
    std::uint64_t tick;
    const Track* track;
    const TrackMessage* message;
};

}  // namespace

MidiSequence parseMidiFile(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxMidiFileBytes)
        throw MidiFileError(std::to_string(size) + " bytes, beyond the " +
                            std::to_string(kMaxMidiFileBytes >> 20) + " MiB a MIDI file may hold");
    ByteReader file(data, 0, size);
    if (size < 4 || data[0] != 'M' || data[1] != 'T' || data[2] != 'h' || data[3] != 'd')
        throw MidiFileError("not a MIDI file: no MThd header");
    file.take(4, "the header");
    const std::uint32_t headerLength = file.big(4, "the header");
    if (headerLength < 6) throw MidiFileError("a header of " + std::to_string(headerLength) + " bytes");
    if (headerLength > file.left())
        throw MidiFileError("the header claims " + std::to_string(headerLength) +
                            " bytes, the file has " + std::to_string(file.left()));
    ByteReader header(data, file.position(), file.position() + headerLength);
    const std::uint32_t format = header.big(2, "the header");
    const std::uint32_t trackCount = header.big(2, "the header");
    const auto division = static_cast<std::uint16_t>(header.big(2, "the header"));
    file.take(headerLength, "the header");
    if (format > 2) throw MidiFileError("format " + std::to_string(format) + " (0, 1 or 2)");
    Timeline timeline = timelineOf(division);

    std::vector<Track> tracks;
    while (tracks.size() < trackCount) {
        if (file.done())
            throw MidiFileError("the file ends after " + std::to_string(tracks.size()) + " of " +
                                std::to_string(trackCount) + " tracks");
        const std::size_t chunkStart = file.position();
        if (file.left() < 8) throw MidiFileError("a chunk header cut short at " + at(chunkStart));
        const std::uint8_t* type = file.take(4, "a chunk");
        const std::uint32_t length = file.big(4, "a chunk");
        if (length > file.left())
            throw MidiFileError("the chunk at " + at(chunkStart) + " claims " +
                                std::to_string(length) + " bytes, the file has " +
                                std::to_string(file.left()));
        const std::size_t bodyStart = file.position();
        file.take(length, "a chunk");
        // Chunks of other types are for other programs.
        if (std::equal(type, type + 4, "MTrk")) {
            TrackParser parser(data, bodyStart, bodyStart + length,
                               static_cast<int>(tracks.size()) + 1);
            tracks.push_back(parser.parse());
        }
    }

    // Every message of a track takes at least two bytes of the file (a
    // delta time and a byte), so these lists stay within the file's size.
    std::vector<Placed> placed;
    if (format == 2) {
        // Tracks one after another, each from the end of the one before; a
        // tempo holds until a later track changes it.
        std::uint64_t trackStart = 0;
        for (const Track& track : tracks) {
            for (const TempoChange& t : track.tempos)
                timeline.change(trackStart + t.tick, t.microsecondsPerQuarter);
            for (const TrackMessage& m : track.messages)
                placed.push_back({trackStart + m.tick, &track, &m});
            trackStart += track.endTick;
        }
    } else {
        // One tempo map for all tracks, from whichever track holds it.
        std::vector<TempoChange> tempos;
        for (const Track& track : tracks)
            tempos.insert(tempos.end(), track.tempos.begin(), track.tempos.end());
        std::stable_sort(tempos.begin(), tempos.end(),
                         [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
        for (const TempoChange& t : tempos) timeline.change(t.tick, t.microsecondsPerQuarter);
        for (const Track& track : tracks)
            for (const TrackMessage& m : track.messages) placed.push_back({m.tick, &track, &m});
        // Ties keep track order, then file order.
        std::stable_sort(placed.begin(), placed.end(),
                         [](const Placed& a, const Placed& b) { return a.tick < b.tick; });
    }
    MidiSequence sequence;
    for (const Placed& p : placed) {
        const double seconds = timeline.seconds(p.tick);
        if (seconds > kLongestMidiFileSeconds)
            throw MidiFileError("a message at " + std::to_string(seconds) +
                                " s, past the 24 hours a MIDI file may last");
        sequence.add(seconds, p.track->bytes.data() + p.message->offset, p.message->size);
    }
    return sequence;
}

MidiSequence readMidiFile(const std::string& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        throw FileNotFound(path + ": " + (fs::exists(path, error) ? "not a file" : "no such file"));
    const std::uintmax_t size = fs::file_size(path, error);
    if (!error && size > kMaxMidiFileBytes)
        throw EngineError(path + ": " + std::to_string(size) + " bytes, beyond the " +
                          std::to_string(kMaxMidiFileBytes >> 20) + " MiB a MIDI file may hold");
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    if (in.bad() || !in.is_open()) throw EngineError(path + ": cannot be read");
    try {
        return parseMidiFile(bytes.data(), bytes.size());
    } catch (const MidiFileError& e) {
        throw EngineError(path + ": " + e.what());
    }
}

bool isMidiFileName(const std::string& path) {
    std::string extension = fs::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".mid" || extension == ".midi" || extension == ".smf";
}

}  // namespace varkel::engine
