// A saved analysis (the --compare reference) read as --compare reads it and
// compared with a fixed current analysis. A reference that is no analysis
// must be told apart (plan differences or malformed), never crash; the
// current analysis compared with itself stays within tolerance.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "analysis/comparison.h"

namespace {

using Json = nlohmann::ordered_json;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "analysis_compare_fuzzer: %s\n", what);
    std::abort();
}

const Json& current() {
    static const Json now = [] {
        std::ifstream in(VARKEL_FUZZ_CURRENT_ANALYSIS);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return Json::parse(text);
    }();
    return now;
}

void checkLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        if (line.empty() || line.find('\n') != std::string::npos) fail("a finding not one line");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const varkel::analysis::Comparison same =
        varkel::analysis::compareAnalyses(current(), current(), {});
    if (!same.planDifferences.empty() || !same.malformed.empty() || !same.differences.empty() ||
        same.compared == 0)
        fail("the current analysis is not the same as itself");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Json reference;
    try {
        reference = Json::parse(data, data + size);
    } catch (const nlohmann::json::exception&) {
        return 0;
    }
    const varkel::analysis::Comparison comparison =
        varkel::analysis::compareAnalyses(current(), reference, {});
    checkLines(comparison.planDifferences);
    checkLines(comparison.malformed);
    checkLines(comparison.differences);
    return 0;
}
