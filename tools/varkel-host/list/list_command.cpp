#include "tools/varkel-host/list/list_command.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

#include "engine/report/clean_text.h"
#include "tools/varkel-host/cli/options.h"
#include "tools/varkel-host/info/info_command.h"

namespace varkel::tool {

namespace {

using engine::CatalogEntry;

const char* formatName(CatalogEntry::Format format) {
    return format == CatalogEntry::Format::Vst2 ? "VST 2.4" : "LV2";
}

// Columns: name, identity, channels, path (and, when it failed, why).
std::array<std::string, 4> columns(const CatalogEntry& e) {
    const std::string identity =
        e.failed() ? "-"
        : e.format == CatalogEntry::Format::Vst2
            ? fmt::format("'{}' ({})", fourCharacters(e.uniqueId), e.uniqueId)
            : engine::cleanText(e.uri);
    const std::string channels =
        e.failed() ? "-"
                   : fmt::format("{} in, {} out{}", e.inputs, e.outputs,
                                 e.instrument ? ", instrument" : "");
    return {engine::cleanText(e.name), identity, channels, engine::cleanText(e.path)};
}

// The width of a text on a terminal, one column per character.
std::size_t displayWidth(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string plural(std::size_t count, const char* one, const char* many) {
    return fmt::format("{} {}", count, count == 1 ? one : many);
}

}  // namespace

std::string catalogText(const std::vector<CatalogEntry>& entries) {
    std::vector<std::array<std::string, 4>> rows;
    std::array<std::size_t, 3> widths{};
    for (const CatalogEntry& entry : entries) {
        rows.push_back(columns(entry));
        for (std::size_t c = 0; c < widths.size(); ++c)
            widths[c] = std::max(widths[c], displayWidth(rows.back()[c]));
    }
    std::string out;
    std::array<std::size_t, 2> counts{};
    std::size_t failed = 0;
    for (const auto format : {CatalogEntry::Format::Vst2, CatalogEntry::Format::Lv2}) {
        std::size_t& count = counts[format == CatalogEntry::Format::Vst2 ? 0 : 1];
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].format != format) continue;
            if (count++ == 0) out += fmt::format("{}\n", formatName(format));
            std::string line;
            for (std::size_t c = 0; c < widths.size(); ++c)
                line += "  " + rows[i][c] + std::string(widths[c] - displayWidth(rows[i][c]), ' ');
            line += "  " + rows[i][3];
            if (entries[i].failed()) {
                line += "  failed: " + engine::cleanText(entries[i].failure);
                ++failed;
            }
            out += line + "\n";
        }
    }
    out += fmt::format("{}: {} VST 2.4, {} LV2; {} failed\n",
                       plural(entries.size(), "plug-in", "plug-ins"), counts[0], counts[1], failed);
    return out;
}

std::string catalogJson(const std::vector<CatalogEntry>& entries) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const CatalogEntry& e : entries) {
        nlohmann::ordered_json item = {{"name", engine::cleanText(e.name)},
                                       {"format", formatName(e.format)}};
        if (e.format == CatalogEntry::Format::Lv2) item["uri"] = engine::cleanText(e.uri);
        if (!e.failed()) {
            if (e.format == CatalogEntry::Format::Vst2)
                item["uniqueId"] = {{"text", fourCharacters(e.uniqueId)}, {"number", e.uniqueId}};
            item["inputs"] = e.inputs;
            item["outputs"] = e.outputs;
            item["instrument"] = e.instrument;
        }
        item["path"] = engine::cleanText(e.path);
        item["failure"] = e.failed() ? nlohmann::ordered_json(engine::cleanText(e.failure)) : nullptr;
        list.push_back(std::move(item));
    }
    return list.dump(2) + "\n";
}

namespace {

class ListCommand : public Command {
public:
    std::string name() const override { return "list"; }
    std::string summary() const override {
        return "Lists the VST 2.4 and LV2 plug-ins found on this machine";
    }
    void declare(CLI::App& command) override {
        command.add_flag("--json", json, "As JSON");
        addVerbose(command);
    }
    int run() override {
        const std::vector<engine::CatalogEntry> entries = engine::catalogPlugins();
        fmt::print("{}", json ? catalogJson(entries) : catalogText(entries));
        // A plug-in that failed is part of the answer, not a failure to list.
        return kExitSuccess;
    }

private:
    bool json = false;
};

}  // namespace

std::unique_ptr<Command> makeListCommand() { return std::make_unique<ListCommand>(); }

}  // namespace varkel::tool
