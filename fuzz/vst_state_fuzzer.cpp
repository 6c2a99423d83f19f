// .fxp and .fxb files through the reader. A file it takes must hold what its
// header counts, and written back and read again must give the same state:
// what a plug-in would be handed (parameters, chunk, programs) survives a
// save unchanged.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/engine_error.h"
#include "engine/plugins/vst/vst_state_file.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    VstStateFile file;
    try {
        file = varkel::engine::parseVstState(bytes, "state.fxp");
    } catch (const varkel::engine::EngineError& error) {
        if (std::strncmp(error.what(), "state.fxp", 9) != 0 || std::strchr(error.what(), '\n'))
            fail("an error that does not name the file in one line");
        return 0;
    }
    checkCounts(file);
    VstStateFile again;
    try {
        again = varkel::engine::parseVstState(varkel::engine::serialiseVstState(file), "again");
    } catch (const varkel::engine::EngineError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        fail("a state written back is not read again");
    }
    checkCounts(again);
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
    return 0;
}
