// varkel-host check on plug-ins with one known fault each: the test aimed at
// the fault fails, and the tests aimed at other faults do not.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "tests/e2e/e2e_support.h"

namespace {

struct FaultRow {
    const char* fixture;
    std::string plugin;
    std::vector<std::string> extra;  // options besides --json
    const char* mustFail;            // empty: nothing may fail
    const char* failDetail;          // a part of the failed test's detail
    // Other tests that the same fault fails (it is theirs too).
    std::vector<std::string> mayFail;
    std::vector<std::string> mustPass;
};

const std::vector<std::string> kProcessing{"process-out-of-place", "process-in-place",
                                           "process-rates", "silence", "denormals"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<FaultRow> rows() {
    const std::vector<std::string> parameters{"param-sweep", "param-fuzz", "param-text"};
    const std::vector<std::string> state{"state-roundtrip", "state-stale"};
    // Not determinism: its warning (output after switching off and on) is
    // no fault.
#if defined(CHECK_WITHOUT_WATCH_LIBRARY)
    // A sanitizer build watches neither allocations nor system calls:
    // realtime-safety only warns there.
    const std::vector<std::string> realtime{};
#else
    const std::vector<std::string> realtime{"realtime-safety"};
#endif
    const std::vector<std::string> rest = with({"load", "metadata", "latency", "threads"}, realtime);
    const auto allBut = [&](const std::string& out) {
        std::vector<std::string> all = with(with(with(kProcessing, parameters), state), rest);
        std::erase(all, out);
        return all;
    };
    std::vector<FaultRow> table{
        {"crash on its 20th call", CHECK_CRASH_ON_20TH_CALL_PLUGIN, {}, "process-out-of-place",
         "died by signal", {}, {"load", "metadata", "param-text"}},
        {"NaN at the top of its range", CHECK_NAN_AT_TOP_OF_RANGE_PLUGIN, {}, "param-sweep", "NaN", {"param-fuzz"},
         with(with(with(kProcessing, state), rest), {"param-text"})},
        {"reports 5 frames, delays by 10", CHECK_LATENCY_UNDERSTATED_PLUGIN, {}, "latency",
         "reports 5 frames, the impulse response peaks at 10, 10", {}, allBut("latency")},
        {"a static shared between instances", CHECK_SHARED_STATIC_PLUGIN, {}, "determinism",
         "two fresh instances differ",
         {"state-roundtrip", "state-stale", "threads"},
         with(with(kProcessing, parameters), with({"load", "metadata", "latency"}, realtime))},
        {"never returns from process", STUCK_PLUGIN, {"--timeout", "2"}, "process-out-of-place",
         "passed the deadline of 2 s", {}, {"load", "metadata"}},
        {"a name that is not UTF-8", BAD_TEXT_PLUGIN, {}, "metadata",
         "the effect name is not valid UTF-8", {}, allBut("metadata")},
        {"chatter on stdout", CHECK_PRINTS_ON_STDOUT_PLUGIN, {}, "", "", {}, allBut("")},
        {"Varkel, VST 2.4", VARKEL_MODULE_PATH, {}, "", "", {}, allBut("")},
        {"Varkel, LV2", std::string(VARKEL_LV2_PATH) + "/Varkel.lv2", {}, "", "", {}, allBut("")},
    };
#if !defined(CHECK_WITHOUT_WATCH_LIBRARY)
    // A sanitizer's allocator leaves no room for the check's own, nor its
    // runtime's system calls for the trap.
    table.push_back({"allocates in process", CHECK_ALLOCATES_PLUGIN, {}, "realtime-safety",
                     "200 allocations, 200 releases", {}, allBut("realtime-safety")});
    table.push_back({"a system call in process", CHECK_SYSTEM_CALL_PLUGIN, {}, "realtime-safety",
                     "200 system calls (getppid)", {}, allBut("realtime-safety")});
#endif
    return table;
}

TEST(Check, EachFaultFailsTheTestAimedAtItAndNoOther) {
    for (const FaultRow& row : rows()) {
        SCOPED_TRACE(row.fixture);
        const e2e::RunResult run =
            e2e::runHost(with(with({"check", "--json"}, row.extra), {row.plugin}));
        EXPECT_EQ(run.status, *row.mustFail ? 1 : 0) << run.err;
        const auto report = nlohmann::json::parse(run.out);
        EXPECT_EQ(report["plugin"], row.plugin);
        std::map<std::string, nlohmann::json> tests;
        for (const auto& test : report["tests"]) tests[test["name"]] = test;
        ASSERT_EQ(tests.size(), 18u);  // every test but the slow one
        for (const auto& [name, test] : tests) {
            if (name == row.mustFail) {
                EXPECT_EQ(test["status"], "fail") << name << ": " << test["detail"];
                EXPECT_NE(test["detail"].get<std::string>().find(row.failDetail), std::string::npos)
                    << test["detail"];
            } else if (std::find(row.mayFail.begin(), row.mayFail.end(), name) == row.mayFail.end()) {
                EXPECT_NE(test["status"], "fail") << name << ": " << test["detail"];
            }
        }
        for (const std::string& name : row.mustPass)
            EXPECT_EQ(tests[name]["status"], "pass") << name << ": " << tests[name]["detail"];
        EXPECT_EQ(tests["instrument-notes"]["status"], "skip");
    }
}

// A test whose needed test failed is skipped, not failed.
TEST(Check, TestsAfterAFailedLoadAreSkipped) {
    const e2e::RunResult run = e2e::runHost({"check", "--json", NO_ENTRY_PLUGIN});
    EXPECT_EQ(run.status, 1);
    const auto report = nlohmann::json::parse(run.out);
    ASSERT_FALSE(report["tests"].empty());
    for (const auto& test : report["tests"])
        EXPECT_EQ(test["status"], test["name"] == "load" ? "fail" : "skip") << test["name"];
}

// What a CI system reads: the JUnit elements and attributes it requires,
// checked with Python's XML reader.
TEST(Check, JunitReportIsReadByAnXmlReader) {
    e2e::ScratchDir dir;
    const std::string junit = dir / "check.xml";
    const e2e::RunResult run =
        e2e::runHost({"check", "--junit", junit, "--only-failed", "--test", "load", "--test",
                      "param-*", "--test", "instrument-notes", CHECK_NAN_AT_TOP_OF_RANGE_PLUGIN,
                      VARKEL_MODULE_PATH});
    EXPECT_EQ(run.status, 1) << run.err;
    // The text lists the failed test alone, then the counts.
    EXPECT_NE(run.out.find("fail  param-sweep"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("pass  "), std::string::npos) << run.out;
    const char* script = R"(
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
assert root.tag == 'testsuites', root.tag
suites = root.findall('testsuite')
assert len(suites) == 2
for suite in suites:
    cases = suite.findall('testcase')
    assert suite.get('name') and int(suite.get('tests')) == len(cases) == 5
    assert int(suite.get('failures')) == len(suite.findall('testcase/failure'))
    assert int(suite.get('skipped')) == len(suite.findall('testcase/skipped'))
    for case in cases:
        assert case.get('name') and case.get('classname') and float(case.get('time')) >= 0
failed = [c.get('name') for s in suites for c in s.findall('testcase') if c.find('failure') is not None]
assert failed == ['param-sweep', 'param-fuzz'], failed
assert int(root.get('skipped')) == 2 and int(root.get('failures')) == 2
)";
    const e2e::RunResult read = e2e::runProgram("python3", {"-c", script, junit}, {});
    EXPECT_EQ(read.status, 0) << read.err;
}

TEST(Check, UnknownTestIsAUsageError) {
    e2e::expectRefusal(e2e::runHost({"check", "--test", "no-such-*", VARKEL_MODULE_PATH}),
                       "--test no-such-* names no test", 2);
}

}  // namespace
