#include "check/check_runner.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace varkel::check;
using namespace std::chrono_literals;

ChildCommand shell(const std::string& script) { return {{"/bin/sh", "-c", script}, {}}; }

const char* kPassing = R"(echo '{"plugin": "p", "tests": [{"name": "load", "status": "pass", "detail": "fine"}]}')";

TEST(CheckRunner, ChildOutcomes) {
    const struct {
        const char* what;
        std::string script;
        Status status;
        const char* detail;
    } rows[] = {
        {"a report", kPassing, Status::Pass, "fine"},
        {"a report after noise on stderr", std::string("echo chatter >&2; ") + kPassing,
         Status::Pass, "fine"},
        {"killed by a signal", "echo 'last words' >&2; kill -SEGV $$", Status::Fail,
         "died by signal 11 (Segmentation fault) (stderr: last words)"},
        {"past the deadline", "sleep 30", Status::Fail, "passed the deadline of 1 s"},
        {"its child past the deadline too", "sleep 30 & wait", Status::Fail, "passed the deadline"},
        {"no report", "exit 3", Status::Fail, "exited with status 3 without a report"},
        {"a report of another test", kPassing, Status::Fail, "no result for"},
    };
    for (const auto& row : rows) {
        const std::string test = std::string(row.what) == "a report of another test" ? "silence" : "load";
        const auto start = std::chrono::steady_clock::now();
        const Outcome outcome = runChild(test, shell(row.script), 1000ms);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << row.what;
        EXPECT_EQ(outcome.status, row.status) << row.what << ": " << outcome.detail;
        EXPECT_NE(outcome.detail.find(row.detail), std::string::npos) << row.what << ": " << outcome.detail;
        EXPECT_EQ(outcome.name, test);
    }
}

TEST(CheckRunner, ChildGetsTheAddedEnvironment) {
    ChildCommand command = shell(
        R"(echo "{\"tests\": [{\"name\": \"load\", \"status\": \"pass\", \"detail\": \"$CHECK_PROBE\"}]}")");
    command.environment = {"CHECK_PROBE=seen"};
    EXPECT_EQ(runChild("load", command, 5000ms).detail, "seen");
}

TEST(CheckRunner, TestsAfterAFailedNeededTestAreSkipped) {
    std::vector<std::string> ran;
    const auto outcomes = runTests(
        {"load", "metadata", "process-out-of-place", "process-in-place", "latency", "param-text"},
        [&](const std::string& test) {
            ran.push_back(test);
            return Outcome{test, test == "process-out-of-place" ? Status::Fail : Status::Pass, "", 0};
        });
    EXPECT_EQ(ran, (std::vector<std::string>{"load", "metadata", "process-out-of-place", "param-text"}));
    ASSERT_EQ(outcomes.size(), 6u);
    EXPECT_EQ(outcomes[3].status, Status::Skip);
    EXPECT_EQ(outcomes[3].detail, "process-out-of-place did not pass");
    EXPECT_EQ(outcomes[4].status, Status::Skip);
    EXPECT_EQ(outcomes[5].status, Status::Pass);
}

TEST(CheckRunner, AFailedLoadSkipsEverythingAfterIt) {
    const auto outcomes = runTests(chooseTests({}, false), [](const std::string& test) {
        return Outcome{test, test == "load" ? Status::Fail : Status::Pass, "", 0};
    });
    for (std::size_t i = 1; i < outcomes.size(); ++i)
        EXPECT_EQ(outcomes[i].status, Status::Skip) << outcomes[i].name;
}

TEST(CheckRunner, TestsChosenByGlobInRunningOrder) {
    using Names = std::vector<std::string>;
    EXPECT_EQ(chooseTests({"state-*", "load"}, false),
              (Names{"load", "state-roundtrip", "state-stale"}));
    EXPECT_EQ(chooseTests({"process-?n-place"}, false), (Names{"process-in-place"}));
    // The slow test only with --strict, or when named outright.
    const Names normal = chooseTests({}, false), strict = chooseTests({}, true);
    EXPECT_EQ(normal.size(), 18u);
    EXPECT_EQ(strict.size(), normal.size() + 1);
    EXPECT_EQ(chooseTests({"so*"}, false), Names{});
    EXPECT_EQ(chooseTests({"soak"}, false), Names{"soak"});
    EXPECT_THROW(chooseTests({"nothing-*"}, false), std::invalid_argument);
}

}  // namespace
