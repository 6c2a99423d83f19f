#include "engine/plugins/vst/vst_state_file.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <unistd.h>

#include "engine/engine_error.h"

namespace varkel::engine {

namespace {

namespace fs = std::filesystem;

constexpr VstInt32 kContainer = fourCharCode('C', 'c', 'n', 'K');
constexpr VstInt32 kParameterProgram = fourCharCode('F', 'x', 'C', 'k');
constexpr VstInt32 kChunkProgram = fourCharCode('F', 'P', 'C', 'h');
constexpr VstInt32 kProgramBank = fourCharCode('F', 'x', 'B', 'k');
constexpr VstInt32 kChunkBank = fourCharCode('F', 'B', 'C', 'h');

constexpr std::size_t kNameBytes = 28;
constexpr std::size_t kBankReservedBytes = 128;
// The magic up to the count: what both files share.
constexpr std::size_t kHeaderBytes = 28;
constexpr std::size_t kProgramHeaderBytes = kHeaderBytes + kNameBytes;

std::string sizeText(std::size_t bytes) { return std::to_string(bytes) + " bytes"; }

// Reads big-endian fields from [at, end) of the bytes, refusing to read
// past the end.
class Reader {
public:
    Reader(const std::string& bytes, std::size_t start, std::size_t end, const std::string& what)
        : bytes(bytes), at(start), end(end), what(what) {}

    VstInt32 integer(const char* field) {
        need(4, field);
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at++]);
        return static_cast<VstInt32>(value);
    }
    float number(const char* field) { return std::bit_cast<float>(integer(field)); }
    std::string text(std::size_t length, const char* field) {
        std::string value = raw(length, field);
        return value.substr(0, value.find('\0'));
    }
    std::string raw(std::size_t length, const char* field) {
        need(length, field);
        std::string value = bytes.substr(at, length);
        at += length;
        return value;
    }
    std::size_t position() const { return at; }
    std::size_t left() const { return end - at; }
    void need(std::size_t length, const char* field) const {
        if (left() < length)
            throw EngineError(what + ": cut short at byte " + std::to_string(at) + ": " + field +
                              " needs " + sizeText(length) + ", " + sizeText(left()) + " left");
    }

private:
    const std::string& bytes;
    std::size_t at;
    std::size_t end;
    const std::string& what;
};

// A size field (byteSize, chunkSize): within the limit and no more than
// the bytes that follow it.
std::size_t boundedSize(VstInt32 declared, std::size_t present, const char* field,
                        const std::string& what) {
    const auto size = static_cast<std::uint32_t>(declared);
    if (size > kMaxStateBytes)
        throw EngineError(what + ": its " + field + " of " + sizeText(size) +
                          " is beyond the 256 MiB a state may hold");
    if (size > present)
        throw EngineError(what + ": cut short: its " + field + " says " + sizeText(size) +
                          " follow, " + std::to_string(present) + " do");
    return size;
}

// The same, where the size must account for every byte that follows.
std::size_t exactSize(VstInt32 declared, std::size_t present, const char* field,
                      const std::string& what) {
    const std::size_t size = boundedSize(declared, present, field, what);
    if (size < present)
        throw EngineError(what + ": its " + field + " says " + sizeText(size) + " follow, but " +
                          std::to_string(present) + " do");
    return size;
}

std::string chunkOf(Reader& in, const std::string& what) {
    // Read before what is left is counted: as arguments of one call the two
    // would come in whichever order the compiler picks.
    const VstInt32 declared = in.integer("chunkSize");
    const std::size_t size = exactSize(declared, in.left(), "chunkSize", what);
    return in.raw(size, "the chunk");
}

std::vector<float> parameterList(Reader& in, VstInt32 count, const std::string& what) {
    if (count < 0 || static_cast<std::size_t>(count) * 4 != in.left())
        throw EngineError(what + ": its " + std::to_string(count) + " parameters need " +
                          sizeText(static_cast<std::size_t>(std::max(count, 0)) * 4) + ", " +
                          sizeText(in.left()) + " follow");
    std::vector<float> values(static_cast<std::size_t>(count));
    for (float& value : values) value = in.number("a parameter");
    return values;
}

// The record's 'CcnK' and byteSize, byteSize bounded by what lies in
// [at, end); the record's body as a reader of its own.
Reader containerAt(const std::string& bytes, std::size_t at, std::size_t end, bool exact,
                   const std::string& what) {
    Reader head(bytes, at, end, what);
    const VstInt32 container = head.integer("the header");
    if (container != kContainer)
        throw EngineError(what + ": not a VST 2.4 program or bank: it starts with " +
                          pluginIdText(container) + ", not 'CcnK'");
    const VstInt32 declared = head.integer("byteSize");
    const std::size_t size = exact ? exactSize(declared, head.left(), "byteSize", what)
                                   : boundedSize(declared, head.left(), "byteSize", what);
    return Reader(bytes, head.position(), head.position() + size, what);
}

void readIdentity(Reader& in, VstStateFile& file) {
    file.version = in.integer("version");
    file.pluginId = in.integer("fxID");
    file.pluginVersion = in.integer("fxVersion");
    file.elements = in.integer("the count");
}

void parseProgram(Reader& in, VstInt32 magic, VstStateFile& file, const std::string& what) {
    readIdentity(in, file);
    file.programName = in.text(kNameBytes, "prgName");
    if (magic == kChunkProgram) {
        file.form = VstStateFile::Form::ProgramChunk;
        file.chunk = chunkOf(in, what);
    } else {
        file.form = VstStateFile::Form::Parameters;
        file.parameters = parameterList(in, file.elements, what);
    }
}

void parseBank(const std::string& bytes, Reader& in, VstInt32 magic, VstStateFile& file,
               const std::string& what) {
    readIdentity(in, file);
    const VstInt32 current = in.integer("currentProgram");
    if (file.version >= 2) file.currentProgram = current;
    in.raw(kBankReservedBytes - 4, "the reserved bytes");
    if (magic == kChunkBank) {
        file.form = VstStateFile::Form::BankChunk;
        file.chunk = chunkOf(in, what);
        return;
    }
    file.form = VstStateFile::Form::Programs;
    if (file.elements < 0 || static_cast<std::size_t>(file.elements) > in.left() / kProgramHeaderBytes)
        throw EngineError(what + ": " + std::to_string(file.elements) + " programs cannot fit in " +
                          sizeText(in.left()));
    std::size_t at = in.position();
    const std::size_t end = at + in.left();
    for (VstInt32 i = 0; i < file.elements; ++i) {
        const std::string which = what + ", program " + std::to_string(i);
        Reader record = containerAt(bytes, at, end, false, which);
        at = record.position() + record.left();
        const VstInt32 recordMagic = record.integer("fxMagic");
        if (recordMagic != kParameterProgram)
            throw EngineError(which + ": a bank's programs are 'FxCk', not " +
                              pluginIdText(recordMagic));
        VstStateFile program;
        parseProgram(record, recordMagic, program, which);
        file.programs.push_back({program.programName, std::move(program.parameters)});
    }
    if (at != end)
        throw EngineError(what + ": " + sizeText(end - at) + " follow its last program");
}

void putInteger(std::string& out, VstInt32 value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((bits >> shift) & 0xff);
}

void putText(std::string& out, const std::string& text, std::size_t field) {
    // Always terminated within the field.
    std::string value = text.substr(0, field - 1);
    value.resize(field, '\0');
    out += value;
}

// 'CcnK' and byteSize before the body.
std::string contained(const std::string& body) {
    std::string out;
    putInteger(out, kContainer);
    putInteger(out, static_cast<VstInt32>(body.size()));
    return out + body;
}

std::string programRecord(VstInt32 magic, const VstStateFile& file, const std::string& name,
                          const std::vector<float>& parameters, const std::string& chunk) {
    std::string body;
    putInteger(body, magic);
    putInteger(body, 1);
    putInteger(body, file.pluginId);
    putInteger(body, file.pluginVersion);
    putInteger(body, magic == kChunkProgram ? file.elements
                                            : static_cast<VstInt32>(parameters.size()));
    putText(body, name, kNameBytes);
    if (magic == kChunkProgram) {
        putInteger(body, static_cast<VstInt32>(chunk.size()));
        body += chunk;
    } else {
        for (const float value : parameters) putInteger(body, std::bit_cast<VstInt32>(value));
    }
    return contained(body);
}

}  // namespace

VstStateFile parseVstState(const std::string& bytes, const std::string& what) {
    Reader body = containerAt(bytes, 0, bytes.size(), true, what);
    const VstInt32 magic = body.integer("fxMagic");
    VstStateFile file;
    if (magic == kParameterProgram || magic == kChunkProgram)
        parseProgram(body, magic, file, what);
    else if (magic == kProgramBank || magic == kChunkBank)
        parseBank(bytes, body, magic, file, what);
    else
        throw EngineError(what + ": its fxMagic " + pluginIdText(magic) +
                          " is none of 'FxCk', 'FPCh', 'FxBk' and 'FBCh'");
    return file;
}

std::string serialiseVstState(const VstStateFile& file) {
    using Form = VstStateFile::Form;
    if (file.form == Form::Parameters)
        return programRecord(kParameterProgram, file, file.programName, file.parameters, "");
    if (file.form == Form::ProgramChunk)
        return programRecord(kChunkProgram, file, file.programName, {}, file.chunk);
    std::string body;
    putInteger(body, file.form == Form::BankChunk ? kChunkBank : kProgramBank);
    putInteger(body, 2);
    putInteger(body, file.pluginId);
    putInteger(body, file.pluginVersion);
    putInteger(body, file.elements);
    putInteger(body, file.currentProgram);
    body.append(kBankReservedBytes - 4, '\0');
    if (file.form == Form::BankChunk) {
        putInteger(body, static_cast<VstInt32>(file.chunk.size()));
        body += file.chunk;
    } else {
        for (const VstProgramRecord& program : file.programs)
            body += programRecord(kParameterProgram, file, program.name, program.parameters, "");
    }
    return contained(body);
}

VstStateFile readVstStateFile(const std::string& path, const std::string& what) {
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        throw FileNotFound(what + ": " + (fs::exists(path, error) ? "not a file" : "no such file"));
    const std::uintmax_t size = fs::file_size(path, error);
    if (!error && size > kMaxStateBytes + 8)
        throw EngineError(what + ": " + sizeText(size) + " is beyond the 256 MiB a state may hold");
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || !in.is_open()) throw EngineError(what + ": cannot be read");
    return parseVstState(bytes, what);
}

void writeVstStateFile(const std::string& path, const VstStateFile& file) {
    const std::string bytes = serialiseVstState(file);
    const std::string partial = path + ".partial-" + std::to_string(::getpid());
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::remove(partial.c_str());
            throw EngineError(path + ": cannot be written");
        }
    }
    std::error_code error;
    fs::rename(partial, path, error);
    if (error) {
        std::remove(partial.c_str());
        throw EngineError(path + ": cannot be written: " + error.message());
    }
}

std::string pluginIdText(VstInt32 id) {
    const auto code = static_cast<std::uint32_t>(id);
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<char>((code >> shift) & 0xff);
        if (c < 0x20 || c > 0x7e) return std::to_string(id);
        text += c;
    }
    return "'" + text + "'";
}

}  // namespace varkel::engine
