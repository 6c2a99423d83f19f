// A check's results as text for people, JSON for tools and JUnit XML for CI
// systems, and an outcome read back from a child's JSON.
#pragma once

#include <string>
#include <vector>

#include "check/check_test.h"

namespace varkel::check {

struct PluginReport {
    std::string plugin;  // as it was named
    std::vector<Outcome> tests;

    bool failed() const;
};

// One line per test (only the failed ones when onlyFailed), then the counts.
std::string reportText(const std::vector<PluginReport>& reports, bool onlyFailed);
// {"plugin": ..., "tests": [{"name", "status", "detail", "seconds"}]}, or an
// array of them for more than one plug-in.
std::string reportJson(const std::vector<PluginReport>& reports, bool onlyFailed);
// <testsuites> with a <testsuite> per plug-in and a <testcase> per test: a
// fail holds <failure>, a skip <skipped>, a warning <system-out>.
std::string reportJunit(const std::vector<PluginReport>& reports);

// The first test of a plug-in report in JSON, renamed nothing: test is the
// name expected; throws std::runtime_error when it is not there.
Outcome outcomeFromJson(const std::string& json, const std::string& test);

}  // namespace varkel::check
