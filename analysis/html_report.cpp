#include "analysis/html_report.h"

#include <cctype>
#include <cstdio>

namespace varkel::analysis {

namespace {

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    return out;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// Numbers as a person reads them: a parameter stored as a float shows no
// digits beyond its precision.
std::string valueText(const nlohmann::ordered_json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (!value.is_number()) return value.dump();
    char text[32];
    std::snprintf(text, sizeof(text), "%.7g", value.get<double>());
    return text;
}

// Removes every ` xmlns="..."` and ` xmlns:name="..."` attribute: inline SVG
// takes its namespace from the page. By hand: std::regex trips the sanitizer
// build's warnings, and costs more to compile than the rest of this file.
void removeNamespaceAttributes(std::string& text) {
    const auto isWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    std::size_t at = 0;
    while ((at = text.find(" xmlns", at)) != std::string::npos) {
        std::size_t p = at + 6;
        if (p < text.size() && text[p] == ':') {
            std::size_t q = p + 1;
            while (q < text.size() && isWord(text[q])) ++q;
            p = q > p + 1 ? q : std::string::npos;
        }
        const std::size_t close =
            p != std::string::npos && text.compare(p, 2, "=\"") == 0 ? text.find('"', p + 2)
                                                                     : std::string::npos;
        if (close == std::string::npos) {
            ++at;
            continue;
        }
        text.erase(at, close + 1 - at);
    }
}

// In each <svg tag, removes the first ` width="..." height="..."` pair: the
// page scales the figure, and its view box keeps its shape.
void removeFixedSize(std::string& text) {
    std::size_t at = text.find("<svg");
    while (at != std::string::npos) {
        const std::size_t tagEnd = text.find('>', at);
        std::size_t next = at + 4;  // past this tag's name, or past what was removed
        for (std::size_t w = text.find(" width=\"", at + 4); w != std::string::npos && w < tagEnd;
             w = text.find(" width=\"", w + 1)) {
            const std::size_t widthEnd = text.find('"', w + 8);
            if (widthEnd == std::string::npos || text.compare(widthEnd + 1, 9, " height=\"") != 0) continue;
            const std::size_t heightEnd = text.find('"', widthEnd + 10);
            if (heightEnd == std::string::npos) continue;
            text.erase(w, heightEnd + 1 - w);
            next = w;
            break;
        }
        at = text.find("<svg", next);
    }
}

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:2em auto;max-width:60em;padding:0 1em;color:#222}"
    "h1{font-size:1.6em}h2{font-size:1.2em;margin-top:2em;border-bottom:1px solid #ccc}"
    "table{border-collapse:collapse}td,th{padding:.2em .8em;text-align:left;"
    "border-bottom:1px solid #eee;vertical-align:top}pre{background:#f6f6f6;padding:.8em;"
    "overflow-x:auto}figure{margin:1.5em 0}svg{display:block;width:100%;height:auto}";

}  // namespace

std::string inlineSvg(const std::string& svg, const std::string& prefix) {
    std::string out = svg;
    const std::size_t start = out.find("<svg");
    if (start != std::string::npos) out.erase(0, start);
    removeNamespaceAttributes(out);
    removeFixedSize(out);
    replaceAll(out, "xlink:href=", "href=");
    replaceAll(out, "id=\"", "id=\"" + prefix);
    replaceAll(out, "href=\"#", "href=\"#" + prefix);
    replaceAll(out, "url(#", "url(#" + prefix);
    return out;
}

std::string htmlReport(const nlohmann::ordered_json& json, const std::vector<ReportPlot>& plots,
                       const std::vector<std::string>& summary, const std::string& version) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>Analysis of " +
        escape(json["devices"][0]["device"].get<std::string>()) + "</title>\n<style>" + kStyle +
        "</style>\n</head>\n<body>\n<h1>Analysis of " +
        escape(json["devices"][0]["device"].get<std::string>()) + "</h1>\n<p>Measured by " +
        escape(version) + ".</p>\n";

    html += "<h2>Plug-ins</h2>\n";
    for (const auto& device : json["devices"]) {
        html += "<table>\n<tr><th>measured</th><td>" +
                escape(device["device"].get<std::string>()) + "</td></tr>\n";
        if (!device["identity"].get<std::string>().empty())
            html += "<tr><th>plug-in</th><td>" + escape(device["identity"].get<std::string>()) +
                    "</td></tr>\n";
        html += "<tr><th>outputs</th><td>" + device["outputs"].dump() + "</td></tr>\n";
        for (const auto& [name, value] : device["parameters"].items())
            html += "<tr><th>" + escape(name) + "</th><td>" + escape(valueText(value)) +
                    "</td></tr>\n";
        html += "</table>\n";
    }

    html += "<h2>Settings</h2>\n<table>\n";
    for (const auto& [key, value] : json["plan"].items()) {
        std::string shown;
        if (value.is_array())
            for (const auto& v : value) shown.append(shown.empty() ? "" : ", ").append(valueText(v));
        else
            shown = valueText(value);
        html += "<tr><th>" + escape(key) + "</th><td>" + escape(shown) + "</td></tr>\n";
    }
    html += "</table>\n";

    html += "<h2>Summary</h2>\n<pre>";
    for (const std::string& line : summary) html += escape(line) + "\n";
    html += "</pre>\n";

    html += "<h2>Plots</h2>\n";
    for (std::size_t i = 0; i < plots.size(); ++i)
        html += "<figure id=\"" + escape(plots[i].name) + "\">\n" +
                inlineSvg(plots[i].svg, std::string("p").append(std::to_string(i)).append("-")) +
                "\n<figcaption>" +
                escape(plots[i].name) + "</figcaption>\n</figure>\n";
    html += "<p>Every number behind the plots is in analysis.json beside this page.</p>\n"
            "</body>\n</html>\n";
    return html;
}

}  // namespace varkel::analysis
