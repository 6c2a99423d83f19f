// What analyze writes beside its JSON and what it does with a saved one:
// the HTML report opened in a headless Chromium with every host unreachable,
// the CSV tables, and --compare's verdicts and exit statuses.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "tests/e2e/e2e_support.h"

namespace {

const char* const kChromium = "/usr/bin/chromium";

struct Browser {
    int status = -1;
    std::string log;
};

// Chromium, headless and cut off from the network, on a local file; its
// console goes to its log.
Browser openInChromium(const e2e::ScratchDir& dir, const std::string& page,
                       const std::string& flag, const std::string& output = "/dev/null") {
    const std::string log = dir / "chromium.log";
    const std::string command =
        std::string(kChromium) +
        " --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking"
        " --disable-component-update --disable-sync --enable-logging=stderr --v=0"
        " --host-resolver-rules='MAP * ~NOTFOUND' --window-size=1200,6000 --user-data-dir=" +
        dir / ("profile" + std::to_string(std::rand())) + " " + flag + " file://" + page +
        " >" + output + " 2>" + log;
    Browser browser;
    browser.status = std::system(command.c_str());
    browser.log = e2e::fileBytes(log);
    return browser;
}

// Console messages (the page has no script, so any is an error) and failed
// loads, as Chromium logs them.
bool complains(const std::string& log) {
    return log.find(":CONSOLE") != std::string::npos ||
           log.find("net::ERR_") != std::string::npos;
}

// Distinct colours in a PNG, a few thousand pixels apart.
std::size_t coloursIn(const std::string& png) {
    cairo_surface_t* image = cairo_image_surface_create_from_png(png.c_str());
    std::set<std::uint32_t> colours;
    if (cairo_surface_status(image) == CAIRO_STATUS_SUCCESS) {
        const auto* data = cairo_image_surface_get_data(image);
        const int stride = cairo_image_surface_get_stride(image);
        for (int y = 0; y < cairo_image_surface_get_height(image); y += 7)
            for (int x = 0; x < cairo_image_surface_get_width(image); x += 7)
                colours.insert(*reinterpret_cast<const std::uint32_t*>(data + y * stride + 4 * x));
    }
    cairo_surface_destroy(image);
    return colours.size();
}

class AnalyzeReport : public ::testing::Test {
protected:
    e2e::ScratchDir dir;
};

TEST_F(AnalyzeReport, HtmlOpensOfflineWithEveryPlotAndNoOutsideReference) {
    if (!std::filesystem::exists(kChromium)) GTEST_SKIP() << "chromium is not installed";
    const e2e::RunResult run =
        e2e::runHost({"analyze", "--plugin", ANALYSIS_LOWPASS_PLUGIN, "--out", dir / "out",
                      "--what", "response,impulse,imd", "--html", "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string page = dir / "out/report.html";
    const std::string html = e2e::fileBytes(page);
    // Nothing it could fetch: no URL, no source, no style or link from outside.
    EXPECT_EQ(html.find("http:"), std::string::npos);
    EXPECT_EQ(html.find("https:"), std::string::npos);
    // Every reference points inside the page: src="#..", href="#..", url(#..).
    for (const std::string opening : {"src=\"", "href=\"", "url("})
        for (std::size_t at = html.find(opening); at != std::string::npos;
             at = html.find(opening, at + 1))
            EXPECT_EQ(html[at + opening.size()], '#') << html.substr(at, 40);
    EXPECT_NE(html.find("Lowpass Fixture"), std::string::npos);
    EXPECT_NE(html.find("varkel-host "), std::string::npos);

    const Browser dom = openInChromium(dir, page, "--dump-dom", dir / "dom.html");
    ASSERT_EQ(dom.status, 0) << dom.log;
    EXPECT_FALSE(complains(dom.log)) << dom.log;
    // response, impulse, step, group delay, imd: each inline, each drawn.
    const std::string shown = e2e::fileBytes(dir / "dom.html");
    std::size_t svgs = 0;
    for (std::size_t at = shown.find("<svg"); at != std::string::npos; at = shown.find("<svg", at + 1))
        ++svgs;
    EXPECT_EQ(svgs, 5u);
    for (const char* name : {"response", "impulse", "step", "group-delay", "imd"})
        EXPECT_NE(shown.find(std::string("<figure id=\"") + name + "\">"), std::string::npos)
            << name;

    const Browser shot = openInChromium(dir, page, "--screenshot=" + dir / "shot.png");
    ASSERT_EQ(shot.status, 0) << shot.log;
    EXPECT_FALSE(complains(shot.log)) << shot.log;
    EXPECT_GT(coloursIn(dir / "shot.png"), 20u);

    // The log does show a console error.
    e2e::writeBytes(dir / "broken.html",
                    "<!DOCTYPE html><html><body><script>undefinedName();</script></body></html>");
    EXPECT_TRUE(complains(openInChromium(dir, dir / "broken.html", "--dump-dom").log));
}

TEST_F(AnalyzeReport, CsvHasARowPerPointAndAColumnPerOutput) {
    const e2e::RunResult run =
        e2e::runHost({"analyze", "--plugin", ANALYSIS_UNITY_PLUGIN, "--out", dir / "out",
                      "--what", "response,aliasing", "--csv", "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string response = e2e::fileBytes(dir / "out/response.csv");
    EXPECT_EQ(response.substr(0, response.find('\n')),
              "frequency_hz,out1_gain_db,out1_phase_deg,out1_phase_without_latency_deg,"
              "out1_gain_change_db,out2_gain_db,out2_phase_deg,out2_phase_without_latency_deg,"
              "out2_gain_change_db");
    EXPECT_EQ(response.substr(response.find('\n') + 1, 3), "10,");
    // 5 to 20 kHz in 1 kHz steps, and the header.
    const std::string aliasing = e2e::fileBytes(dir / "out/aliasing.csv");
    EXPECT_EQ(std::count(aliasing.begin(), aliasing.end(), '\n'), 17);

    // A 7-frame delay's group delay, in milliseconds as its column says.
    ASSERT_EQ(e2e::runHost({"analyze", "--plugin", ANALYSIS_DELAY_PLUGIN, "--out", dir / "delay",
                            "--what", "impulse", "--csv", "--quiet"})
                  .status,
              0);
    std::istringstream delay(e2e::fileBytes(dir / "delay/group-delay.csv"));
    std::string line;
    std::getline(delay, line);
    EXPECT_EQ(line, "frequency_hz,out1_group_delay_ms,out2_group_delay_ms");
    int rows = 0;
    for (; std::getline(delay, line); ++rows) {
        const double ms = std::stod(line.substr(line.find(',') + 1));
        EXPECT_NEAR(ms, 1000.0 * 7 / 44100, 1e-3) << line;
    }
    EXPECT_GT(rows, 10);
}

TEST_F(AnalyzeReport, CompareNamesWhatChangedAndRefusesAnotherPlan) {
    const std::vector<std::string> measure{"analyze", "--plugin", ANALYSIS_LOWPASS_PLUGIN, "--quiet",
                                           "--what", "response,impulse"};
    auto run = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = measure;
        args.insert(args.end(), extra.begin(), extra.end());
        return e2e::runHost(args);
    };
    ASSERT_EQ(run({"--out", dir / "reference"}).status, 0);
    const std::string reference = dir / "reference/analysis.json";

    const e2e::RunResult same = run({"--out", dir / "same", "--compare", reference});
    EXPECT_EQ(same.status, 0) << same.out << same.err;
    EXPECT_NE(same.out.find("within tolerance"), std::string::npos) << same.out;

    // Gain 0.49 is 2 x 0.49 = -0.175 dB: beyond 0.1 dB, within 0.2 dB.
    const e2e::RunResult changed =
        run({"--out", dir / "changed", "--set", "Gain=0.49", "--compare", reference});
    EXPECT_EQ(changed.status, 1) << changed.out << changed.err;
    EXPECT_NE(changed.out.find("Gain: 0.49, was 0.5"), std::string::npos) << changed.out;
    EXPECT_NE(changed.out.find("gain at 1 kHz (response, out 1): -1.14 dB, was -0.96 dB"),
              std::string::npos)
        << changed.out;
    const e2e::RunResult looser = run({"--out", dir / "looser", "--set", "Gain=0.49",
                                       "--compare", reference, "--tolerance-db", "0.2"});
    EXPECT_EQ(looser.status, 0) << looser.out;

    const e2e::RunResult otherRate =
        run({"--out", dir / "rate", "--rate", "48000", "--compare", reference});
    EXPECT_EQ(otherRate.status, 2) << otherRate.out;
    EXPECT_NE(otherRate.out.find("sample_rate_hz: 48000 here, 44100 in the reference"),
              std::string::npos)
        << otherRate.out;

    // An analysis.json of the schema before the aliasing orders, the IMD
    // figures and the phase changed is of another plan, not another sound.
    auto older = nlohmann::json::parse(e2e::fileBytes(reference));
    older["schema_version"] = 2;
    e2e::writeBytes(dir / "older.json", older.dump());
    const e2e::RunResult olderSchema = run({"--out", dir / "older", "--compare", dir / "older.json"});
    EXPECT_EQ(olderSchema.status, 2) << olderSchema.out;
    EXPECT_NE(olderSchema.out.find("schema version is 2; this varkel-host writes 3"),
              std::string::npos)
        << olderSchema.out;
}

TEST_F(AnalyzeReport, CompareReadsAReferenceInOutBeforeReplacingIt) {
    const std::vector<std::string> measure{"analyze", "--plugin", ANALYSIS_LOWPASS_PLUGIN,
                                           "--quiet", "--what", "response", "--out", dir / "A"};
    ASSERT_EQ(e2e::runHost(measure).status, 0);
    std::vector<std::string> again = measure;
    for (const char* arg : {"--set", "Gain=0.49", "--compare"}) again.push_back(arg);
    again.push_back(dir / "A/analysis.json");
    const e2e::RunResult changed = e2e::runHost(again);
    EXPECT_EQ(changed.status, 1) << changed.out << changed.err;
    EXPECT_NE(changed.out.find("Gain: 0.49, was 0.5"), std::string::npos) << changed.out;
    // The folder holds the new analysis, as without --compare.
    const auto json = nlohmann::json::parse(e2e::fileBytes(dir / "A/analysis.json"));
    EXPECT_FLOAT_EQ(json["devices"][0]["parameters"]["Gain"].get<float>(), 0.49f);
}

TEST_F(AnalyzeReport, CompareRefusesAReferenceThatIsNoComparableAnalysis) {
    using Json = nlohmann::ordered_json;
    const std::vector<std::string> measure{"analyze", "--plugin", ANALYSIS_LOWPASS_PLUGIN,
                                           "--quiet", "--what", "response,impulse"};
    std::vector<std::string> first = measure;
    first.insert(first.end(), {"--out", dir / "reference"});
    ASSERT_EQ(e2e::runHost(first).status, 0);
    const Json good = Json::parse(e2e::fileBytes(dir / "reference/analysis.json"));
    struct Case {
        const char* name;
        std::function<void(Json&)> spoil;
        const char* message;
        bool measures;  // found only once the numbers are there to hold it against
    };
    const Case cases[] = {
        {"empty device", [](Json& j) { j["devices"][0] = Json::object(); },
         "devices[0]: no device name", false},
        {"no devices", [](Json& j) { j["devices"] = Json::array(); },
         "devices: not a list of 1", false},
        {"not an object", [](Json& j) { j = Json::array(); }, "not a JSON object", false},
        {"a measurement missing", [](Json& j) { j["devices"][0].erase("impulse"); },
         "devices[0].impulse: missing", true},
        {"halved series",
         [](Json& j) {
             Json& gain = j["devices"][0]["response"]["outputs"][0]["magnitude_db"];
             gain.erase(gain.begin() + static_cast<long>(gain.size() / 2), gain.end());
         },
         "magnitude_db: 67 values where 135 were measured", true},
        {"text for a number",
         [](Json& j) { j["devices"][0]["impulse"]["outputs"][1]["latency_frames"] = "0"; },
         "devices[0].impulse.outputs[1].latency_frames: not a number", true},
        {"null for a number",
         [](Json& j) { j["devices"][0]["response"]["outputs"][0]["phase_deg"][3] = nullptr; },
         "outputs[0].phase_deg[3]: not a number", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Json spoilt = good;
        c.spoil(spoilt);
        const std::string path = dir / (std::string(c.name) + ".json");
        e2e::writeBytes(path, spoilt.dump());
        std::vector<std::string> args = measure;
        args.insert(args.end(), {"--out", dir / c.name, "--compare", path});
        const e2e::RunResult run = e2e::runHost(args);
        EXPECT_EQ(run.status, 2) << run.out << run.err;
        EXPECT_NE(run.out.find("not a comparable analysis"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
        EXPECT_EQ(std::filesystem::exists(dir / c.name), c.measures);
    }
}

}  // namespace
