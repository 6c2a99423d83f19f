// .fxp and .fxb files through the reader and on into a plug-in, as --state
// loads them. A file the reader takes must hold what its header counts, and
// written back and read again must give the same state; the input read as
// the fields of a state must come back from the writer and reader the same. Loaded into the
// chunk fixture (one parameter, two programs, its gain in a chunk), the
// fixture must then hold the file's parameter or chunk.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "engine/engine_error.h"
#include "engine/plugins/vst/vst_plugin.h"
#include "engine/plugins/vst/vst_state_file.h"
#include "fuzz/input_reader.h"

namespace {

using varkel::engine::VstStateFile;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "vst_state_fuzzer: %s\n", what);
    std::abort();
}

bool sameFloats(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

// Names are kept to 27 characters and a NUL when written.
bool sameName(const std::string& written, const std::string& read) {
    return written.substr(0, 27) == read;
}

void checkCounts(const VstStateFile& file) {
    using Form = VstStateFile::Form;
    if (file.form == Form::Parameters && file.parameters.size() != std::size_t(file.elements))
        fail("a program whose parameters are not its count");
    if (file.form == Form::Programs && file.programs.size() != std::size_t(file.elements))
        fail("a bank whose programs are not its count");
    if (file.chunk.size() > varkel::engine::kMaxStateBytes) fail("a chunk beyond the limit");
}

using varkel::engine::ProcessMode;
using varkel::engine::VstPlugin;

const std::string& statePath() {
    // In memory where there is such a folder: a file on disk for each input
    // cost five times the rest.
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string folder = dir != nullptr && *dir != '\0' ? dir : "/tmp";
        if (::access("/dev/shm", W_OK) == 0) folder = "/dev/shm";
        return folder + "/vst_state_fuzzer-" + std::to_string(::getpid()) + ".fxp";
    }();
    return path;
}

// What the fixture holds after a file that the reader took: its parameter,
// or the gain its chunk carries.
void checkLoaded(const VstStateFile& file, VstPlugin& plugin) {
    using Form = VstStateFile::Form;
    if (file.form == Form::Parameters && !file.parameters.empty()) {
        const float value = plugin.parameter(0);
        if (std::memcmp(&value, file.parameters.data(), 4) != 0)
            fail("the plug-in does not hold the program's parameter");
    }
    const char* tag = file.form == Form::ProgramChunk ? "PROG" : "BANK";
    if (file.isChunk() && file.chunk.size() == 8 && file.chunk.compare(0, 4, tag) == 0 &&
        plugin.stateBytes().substr(4) != file.chunk.substr(4))
        fail("the plug-in does not hold the chunk's gain");
}

void load(const std::string& bytes, const VstStateFile* file) {
    {
        std::ofstream out(statePath(), std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    // Loading the module for each input would cost more than the rest; a
    // fresh one now and then keeps the warnings it collects bounded.
    static std::unique_ptr<VstPlugin> instance;
    static int uses = 0;
    if (!instance || ++uses % 4096 == 0)
        instance = std::make_unique<VstPlugin>(VARKEL_FUZZ_CHUNK_PLUGIN, 48000.0, 512,
                                               ProcessMode::Offline);
    VstPlugin& plugin = *instance;
    // Removed after each input: libFuzzer leaves without running exit handlers.
    struct Removal {
        ~Removal() { std::remove(statePath().c_str()); }
    } removal;
    try {
        plugin.loadState(statePath());
    } catch (const varkel::engine::EngineError& error) {
        if (file != nullptr && file->pluginId == fourCharCode('C', 'h', 'k', 'F') && file->pluginVersion <= 1 &&
            !file->isBank() && file->form == VstStateFile::Form::Parameters)
            fail("a program for this plug-in refused");
        if (std::strchr(error.what(), '\n')) fail("an error of more than one line");
        return;
    }
    if (file == nullptr) fail("a file the reader refused loaded");
    checkLoaded(*file, plugin);
}

void checkSame(const VstStateFile& file, const VstStateFile& again) {
    if (again.form != file.form || again.pluginId != file.pluginId ||
        again.pluginVersion != file.pluginVersion || again.elements != file.elements ||
        again.currentProgram != file.currentProgram || again.chunk != file.chunk ||
        !sameFloats(again.parameters, file.parameters) ||
        !sameName(file.programName, again.programName) ||
        again.programs.size() != file.programs.size())
        fail("a state written back reads differently");
    for (std::size_t i = 0; i < file.programs.size(); ++i)
        if (!sameFloats(again.programs[i].parameters, file.programs[i].parameters) ||
            !sameName(file.programs[i].name, again.programs[i].name))
            fail("a bank's program written back reads differently");
}

VstStateFile readBack(const VstStateFile& file) {
    try {
        return varkel::engine::parseVstState(varkel::engine::serialiseVstState(file), "again");
    } catch (const varkel::engine::EngineError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        fail("a state written is not read again");
    }
}

// Any state the writer can be given, from the input's bytes.
VstStateFile stateOf(const std::uint8_t* data, std::size_t size) {
    InputReader in(data, size);
    VstStateFile file;
    file.form = static_cast<VstStateFile::Form>(in.byte() % 4);
    file.pluginId = in.raw<VstInt32>();
    file.pluginVersion = in.raw<VstInt32>();
    auto text = [&](std::size_t most) {
        std::string t;
        for (std::size_t n = in.byte() % (most + 1); n > 0; --n) t += static_cast<char>(in.byte() | 1);
        return t;
    };
    auto floats = [&] {
        std::vector<float> values(in.byte() % 8);
        for (float& v : values) v = in.raw<float>();
        return values;
    };
    if (!file.isBank()) file.programName = text(27);
    switch (file.form) {
        case VstStateFile::Form::Parameters: file.parameters = floats(); break;
        case VstStateFile::Form::Programs:
            file.currentProgram = in.raw<VstInt32>();
            for (int n = in.byte() % 4; n > 0; --n) file.programs.push_back({text(27), floats()});
            break;
        default:
            if (file.form == VstStateFile::Form::BankChunk) file.currentProgram = in.raw<VstInt32>();
            file.chunk = text(64);
            break;
    }
    file.elements = file.form == VstStateFile::Form::Parameters ? VstInt32(file.parameters.size())
                    : file.form == VstStateFile::Form::Programs ? VstInt32(file.programs.size())
                                                                : in.raw<VstInt32>();
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const VstStateFile made = stateOf(data, size);
    checkSame(made, readBack(made));

    const std::string bytes(reinterpret_cast<const char*>(data), size);
    VstStateFile file;
    try {
        file = varkel::engine::parseVstState(bytes, "state.fxp");
    } catch (const varkel::engine::EngineError& error) {
        if (std::strncmp(error.what(), "state.fxp", 9) != 0 || std::strchr(error.what(), '\n'))
            fail("an error that does not name the file in one line");
        load(bytes, nullptr);
        return 0;
    }
    load(bytes, &file);
    checkCounts(file);
    const VstStateFile again = readBack(file);
    checkCounts(again);
    checkSame(file, again);
    return 0;
}
