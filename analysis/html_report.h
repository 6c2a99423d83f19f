// One self-contained HTML page of an analysis: the plots inline as SVG, the
// summary, the settings, the plug-ins' identity and the host's version. It
// needs nothing outside itself: no scripts, fonts, images or styles from
// elsewhere, so it opens the same with no network.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace varkel::analysis {

struct ReportPlot {
    std::string name;  // "response"
    std::string svg;   // the file as cairo wrote it
};

// json: what analysisJson made of the analysis; summary: the lines the
// terminal showed.
std::string htmlReport(const nlohmann::ordered_json& json, const std::vector<ReportPlot>& plots,
                       const std::vector<std::string>& summary, const std::string& version);

// The SVG file's markup, ready to sit inline in a page beside others: no
// XML declaration or namespace declarations (HTML gives them), its ids made
// its own by prefix, and scaled to the page's width.
std::string inlineSvg(const std::string& svg, const std::string& prefix);

}  // namespace varkel::analysis
