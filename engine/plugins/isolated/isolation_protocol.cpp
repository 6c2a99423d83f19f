#include "engine/plugins/isolated/isolation_protocol.h"

#include "engine/engine_error.h"
#include "engine/plugins/isolated/wire.h"

namespace varkel::engine::isolated {

namespace {

// Characters no plug-in's name or file name in a message holds.
constexpr char kMentionStart = '\x1c';
constexpr char kMentionGiven = '\x1d';
constexpr char kMentionEnd = '\x1e';

void put(WireWriter& out, const ParameterInfo& info) {
    out.put(info.name).put(info.symbol).put(info.unit).put(info.minimum).put(info.maximum);
    out.put(info.defaultValue).put(info.toggled).put(info.integer).put(info.enumeration);
    out.put(info.logarithmic).put(static_cast<std::uint64_t>(info.scalePoints.size()));
    for (const auto& [value, label] : info.scalePoints) out.put(value).put(label);
}

void get(WireReader& in, ParameterInfo& info) {
    in.get(info.name);
    in.get(info.symbol);
    in.get(info.unit);
    in.get(info.minimum);
    in.get(info.maximum);
    in.get(info.defaultValue);
    in.get(info.toggled);
    in.get(info.integer);
    in.get(info.enumeration);
    in.get(info.logarithmic);
    info.scalePoints.resize(in.next<std::uint64_t>());
    for (auto& [value, label] : info.scalePoints) {
        in.get(value);
        in.get(label);
    }
}

}  // namespace

std::string encodeDescription(const PluginDescription& description) {
    WireWriter out;
    out.put(description.format).put(description.name).put(description.location);
    out.put(description.inputs).put(description.outputs).put(description.takesMidi);
    out.put(description.instrument).put(description.stateKind);
    out.put(static_cast<std::uint64_t>(description.inputInfo.size()));
    for (const InputInfo& input : description.inputInfo)
        out.put(input.label).put(input.sideChain).put(input.reason);
    out.put(static_cast<std::uint64_t>(description.parameters.size()));
    for (const ParameterInfo& info : description.parameters) put(out, info);
    out.put(description.presets).put(description.warnings);
    return out.bytes();
}

PluginDescription decodeDescription(const char* data, std::size_t size) {
    WireReader in(data, size);
    PluginDescription description;
    in.get(description.format);
    in.get(description.name);
    in.get(description.location);
    in.get(description.inputs);
    in.get(description.outputs);
    in.get(description.takesMidi);
    in.get(description.instrument);
    in.get(description.stateKind);
    description.inputInfo.resize(in.next<std::uint64_t>());
    for (InputInfo& input : description.inputInfo) {
        in.get(input.label);
        in.get(input.sideChain);
        in.get(input.reason);
    }
    description.parameters.resize(in.next<std::uint64_t>());
    for (ParameterInfo& info : description.parameters) get(in, info);
    in.get(description.presets);
    in.get(description.warnings);
    return description;
}

std::string encodeControlOutputs(const std::vector<ControlOutput>& outputs) {
    WireWriter out;
    out.put(static_cast<std::uint64_t>(outputs.size()));
    for (const ControlOutput& output : outputs)
        out.put(output.name).put(output.symbol).put(output.unit).put(output.minimum)
            .put(output.maximum).put(output.value);
    return out.bytes();
}

std::vector<ControlOutput> decodeControlOutputs(const char* data, std::size_t size) {
    WireReader in(data, size);
    std::vector<ControlOutput> outputs(in.next<std::uint64_t>());
    for (ControlOutput& output : outputs) {
        in.get(output.name);
        in.get(output.symbol);
        in.get(output.unit);
        in.get(output.minimum);
        in.get(output.maximum);
        in.get(output.value);
    }
    return outputs;
}

std::string markedMention(RequestField field, const std::string& given) {
    return kMentionStart + std::to_string(static_cast<int>(field)) + kMentionGiven + given +
           kMentionEnd;
}

std::string rewordMentions(const std::string& message) {
    std::string text;
    std::size_t at = 0;
    for (;;) {
        const std::size_t start = message.find(kMentionStart, at);
        const std::size_t given = message.find(kMentionGiven, start);
        const std::size_t end = message.find(kMentionEnd, given);
        if (start == std::string::npos || given == std::string::npos || end == std::string::npos)
            break;
        text.append(message, at, start - at);
        const auto field = static_cast<RequestField>(std::stoi(message.substr(start + 1, given - start - 1)));
        text += mention(field, message.substr(given + 1, end - given - 1));
        at = end + 1;
    }
    return text + message.substr(at);
}

}  // namespace varkel::engine::isolated
