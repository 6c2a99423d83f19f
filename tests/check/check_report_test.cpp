#include "check/check_report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace {

using namespace varkel::check;

const std::vector<PluginReport> kReports{
    {"a.so",
     {{"load", Status::Pass, "loaded", 0.5},
      {"latency", Status::Fail, "reports 5 <frames> & \"10\"", 1.25},
      {"threads", Status::Warn, "slow", 0.0},
      {"instrument-notes", Status::Skip, "not an instrument", 0.0},
      {"param-fuzz", Status::Skip, "no parameters", 0.0}}},
};

TEST(CheckReport, JsonHoldsEveryTestOrOnlyTheFailed) {
    const auto all = nlohmann::json::parse(reportJson(kReports, false));
    EXPECT_EQ(all["plugin"], "a.so");
    ASSERT_EQ(all["tests"].size(), 5u);
    EXPECT_EQ(all["tests"][1]["name"], "latency");
    EXPECT_EQ(all["tests"][1]["status"], "fail");
    EXPECT_EQ(all["tests"][3]["status"], "skip");
    const auto failed = nlohmann::json::parse(reportJson(kReports, true));
    ASSERT_EQ(failed["tests"].size(), 1u);
    EXPECT_EQ(failed["tests"][0]["name"], "latency");
    // More than one plug-in: one report each, in an array.
    const auto two = nlohmann::json::parse(reportJson({kReports[0], kReports[0]}, false));
    ASSERT_TRUE(two.is_array());
    EXPECT_EQ(two.size(), 2u);
}

TEST(CheckReport, JsonSurvivesTextThatIsNotUtf8) {
    const std::vector<PluginReport> odd{{"b.so", {{"metadata", Status::Fail, "name \xE4", 0.0}}}};
    EXPECT_NO_THROW(nlohmann::json::parse(reportJson(odd, false)));
}

TEST(CheckReport, ChildOutcomeReadBack) {
    const Outcome read = outcomeFromJson(reportJson(kReports, false), "latency");
    EXPECT_EQ(read.status, Status::Fail);
    EXPECT_EQ(read.detail, kReports[0].tests[1].detail);
    EXPECT_DOUBLE_EQ(read.seconds, 1.25);
    EXPECT_THROW(outcomeFromJson(reportJson(kReports, false), "silence"), std::runtime_error);
    EXPECT_ANY_THROW(outcomeFromJson("not json", "load"));
}

TEST(CheckReport, TextCountsEachStatus) {
    const std::string text = reportText(kReports, false);
    EXPECT_NE(text.find("  fail  latency           reports 5"), std::string::npos) << text;
    EXPECT_NE(text.find("5 tests: 1 passed, 1 failed, 1 warned, 2 skipped"), std::string::npos)
        << text;
    EXPECT_EQ(reportText(kReports, true).find("pass  load"), std::string::npos);
}

TEST(CheckReport, JunitEscapesAndCounts) {
    const std::string xml = reportJunit(kReports);
    EXPECT_NE(xml.find("<testsuites name=\"varkel-host check\" tests=\"5\" failures=\"1\" "
                       "errors=\"0\" skipped=\"2\" time=\"1.750\">"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<failure message=\"reports 5 &lt;frames&gt; &amp; &quot;10&quot;\">"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<skipped message=\"not an instrument\"/>"), std::string::npos);
    EXPECT_NE(xml.find("<system-out>warning: slow</system-out>"), std::string::npos);
    EXPECT_EQ(xml.find("\x01"), std::string::npos);
}

}  // namespace
