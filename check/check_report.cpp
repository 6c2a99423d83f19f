#include "check/check_report.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace varkel::check {

namespace {

using Json = nlohmann::ordered_json;

bool shown(const Outcome& outcome, bool onlyFailed) {
    return !onlyFailed || outcome.status == Status::Fail;
}

std::array<int, 4> counts(const std::vector<Outcome>& tests) {
    std::array<int, 4> n{};
    for (const Outcome& t : tests) ++n[static_cast<std::size_t>(t.status)];
    return n;
}

std::string xmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default:
                // XML 1.0 has no other control characters.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') out += ' ';
                else out += c;
        }
    }
    return out;
}

std::string seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", s);
    return text;
}

}  // namespace

bool PluginReport::failed() const {
    return std::any_of(tests.begin(), tests.end(),
                       [](const Outcome& t) { return t.status == Status::Fail; });
}

std::string reportText(const std::vector<PluginReport>& reports, bool onlyFailed) {
    std::string out;
    for (const PluginReport& report : reports) {
        out += report.plugin + "\n";
        std::size_t width = 0;
        for (const Outcome& t : report.tests) width = std::max(width, t.name.size());
        for (const Outcome& t : report.tests) {
            if (!shown(t, onlyFailed)) continue;
            out += "  " + std::string(statusName(t.status)) + "  " + t.name +
                   std::string(width - t.name.size(), ' ') + "  " + t.detail + "\n";
        }
        const auto n = counts(report.tests);
        char line[160];
        std::snprintf(line, sizeof line, "  %zu tests: %d passed, %d failed, %d warned, %d skipped\n",
                      report.tests.size(), n[0], n[1], n[2], n[3]);
        out += line;
    }
    return out;
}

std::string reportJson(const std::vector<PluginReport>& reports, bool onlyFailed) {
    Json all = Json::array();
    for (const PluginReport& report : reports) {
        Json tests = Json::array();
        for (const Outcome& t : report.tests)
            if (shown(t, onlyFailed))
                tests.push_back({{"name", t.name},
                                 {"status", statusName(t.status)},
                                 {"detail", t.detail},
                                 {"seconds", t.seconds}});
        all.push_back({{"plugin", report.plugin}, {"tests", std::move(tests)}});
    }
    const Json& shownJson = all.size() == 1 ? all[0] : all;
    // A plug-in's texts need not be UTF-8; the report must still be JSON.
    return shownJson.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string reportJunit(const std::vector<PluginReport>& reports) {
    std::array<int, 4> total{};
    std::size_t tests = 0;
    double time = 0.0;
    std::string suites;
    for (const PluginReport& report : reports) {
        const auto n = counts(report.tests);
        double suiteTime = 0.0;
        std::string cases;
        for (const Outcome& t : report.tests) {
            suiteTime += t.seconds;
            cases += "    <testcase name=\"" + xmlEscaped(t.name) + "\" classname=\"" +
                     xmlEscaped(report.plugin) + "\" time=\"" + seconds(t.seconds) + "\"";
            const std::string detail = xmlEscaped(t.detail);
            switch (t.status) {
                case Status::Pass: cases += "/>\n"; continue;
                case Status::Fail:
                    cases += ">\n      <failure message=\"" + detail + "\">" + detail + "</failure>\n";
                    break;
                case Status::Skip: cases += ">\n      <skipped message=\"" + detail + "\"/>\n"; break;
                case Status::Warn: cases += ">\n      <system-out>warning: " + detail + "</system-out>\n"; break;
            }
            cases += "    </testcase>\n";
        }
        suites += "  <testsuite name=\"" + xmlEscaped(report.plugin) + "\" tests=\"" +
                  std::to_string(report.tests.size()) + "\" failures=\"" + std::to_string(n[1]) +
                  "\" errors=\"0\" skipped=\"" + std::to_string(n[3]) + "\" time=\"" +
                  seconds(suiteTime) + "\">\n" + cases + "  </testsuite>\n";
        for (std::size_t i = 0; i < total.size(); ++i) total[i] += n[i];
        tests += report.tests.size();
        time += suiteTime;
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"varkel-host check\" tests=\"" +
           std::to_string(tests) + "\" failures=\"" + std::to_string(total[1]) +
           "\" errors=\"0\" skipped=\"" + std::to_string(total[3]) + "\" time=\"" + seconds(time) +
           "\">\n" + suites + "</testsuites>\n";
}

Outcome outcomeFromJson(const std::string& json, const std::string& test) {
    const Json report = Json::parse(json);
    for (const Json& t : report.at("tests")) {
        if (t.at("name").get<std::string>() != test) continue;
        const auto status = statusNamed(t.at("status").get<std::string>());
        if (!status) throw std::runtime_error("an unknown status");
        return {test, *status, t.at("detail").get<std::string>(), t.value("seconds", 0.0)};
    }
    throw std::runtime_error("no result for " + test);
}

}  // namespace varkel::check
