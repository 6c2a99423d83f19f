// Running a plug-in's tests, each in a child process of its own with a
// deadline, so that a test that crashes or hangs fails alone; a test whose
// needed test did not pass is skipped.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "check/check_test.h"

namespace varkel::check {

struct ChildCommand {
    // The program's path and arguments that run one test and print its report as
    // JSON (check_report.h) on stdout.
    std::vector<std::string> arguments;
    // Added to the child's environment ("NAME=value").
    std::vector<std::string> environment;
};

// Runs the command with a deadline; the outcome it printed, or a fail saying
// it died by a signal, passed the deadline, exited without a report, or
// printed one that cannot be read. stderr's last lines go into a fail's
// detail.
Outcome runChild(const std::string& test, const ChildCommand& command,
                 std::chrono::milliseconds deadline);

// Runs the tests in order through run, skipping a test whose needed test ran
// and did not pass or warn.
std::vector<Outcome> runTests(const std::vector<std::string>& tests,
                              const std::function<Outcome(const std::string&)>& run);

// The tests named by patterns (globs: * and ?) in the order they run, the
// slow ones only when strict or named outright; throws std::invalid_argument
// naming a pattern that matches no test.
std::vector<std::string> chooseTests(const std::vector<std::string>& patterns, bool strict);

}  // namespace varkel::check
