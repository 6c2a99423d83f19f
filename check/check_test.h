// The named tests of a plug-in check: what each is, which earlier test it
// needs, and running one in this process.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varkel::check {

enum class Status { Pass, Fail, Warn, Skip };

// "pass", "fail", "warn", "skip".
const char* statusName(Status status);
std::optional<Status> statusNamed(const std::string& name);

struct Outcome {
    std::string name;
    Status status = Status::Pass;
    std::string detail;
    double seconds = 0.0;
};

struct TestInfo {
    std::string name;
    std::string summary;
    // A test whose failure makes this one meaningless; empty for none.
    std::string needs;
    // Run only with --strict.
    bool slow = false;
};

// In the order they run.
const std::vector<TestInfo>& checkTests();
const TestInfo* findTest(const std::string& name);

struct CheckSettings {
    // Silence in must give output below this, or decay to it.
    double silenceDbfs = -80.0;
};

// Runs one test on the plug-in here and now; a C++ exception becomes a fail
// naming it. A crash or hang takes the process down: run it in a child
// (check_runner.h) to survive that.
Outcome runTest(const std::string& test, const std::string& plugin, const CheckSettings& settings);

}  // namespace varkel::check
