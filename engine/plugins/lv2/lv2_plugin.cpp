#include "engine/plugins/lv2/lv2_plugin.h"

#include <lv2/atom/atom.h>
#include <lv2/midi/midi.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/port-props/port-props.h>
#include <lv2/presets/presets.h>
#include <lv2/state/state.h>
#include <lv2/units/units.h>
#include <lv2/worker/worker.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "engine/engine_error.h"
#include "engine/plugins/lv2/lv2_midi_ports.h"
#include "engine/plugins/lv2/lv2_world.h"
#include "engine/plugins/parameter_lookup.h"
#include "engine/plugins/side_chain.h"

namespace varkel::engine {

namespace {

constexpr const char* kRdfsLabel = "http://www.w3.org/2000/01/rdf-schema#label";
// Newer than the LV2 headers Debian 12 has.
constexpr const char* kIsSideChain = "http://lv2plug.in/ns/lv2core#isSideChain";
constexpr const char* kPortGroup = "http://lv2plug.in/ns/ext/port-groups#group";
constexpr const char* kSideChainGroup = "http://lv2plug.in/ns/ext/port-groups#SideChainGroup";
constexpr const char* kSideChainOf = "http://lv2plug.in/ns/ext/port-groups#sideChainOf";
constexpr const char* kRdfType = "http://www.w3.org/1999/02/22-rdf-syntax-ns#type";
// Room for what a plug-in writes to an atom output in one run.
constexpr std::size_t kAtomBufferBytes = 65536;
// Room for the worker's replies within one run.
constexpr std::size_t kWorkerReplyBytes = 65536;

// Common units, for bundles whose unit descriptions are not loaded.
const std::map<std::string, std::string> kUnitSymbols = {
    {LV2_UNITS__db, "dB"},       {LV2_UNITS__hz, "Hz"},     {LV2_UNITS__khz, "kHz"},
    {LV2_UNITS__mhz, "MHz"},     {LV2_UNITS__ms, "ms"},     {LV2_UNITS__s, "s"},
    {LV2_UNITS__min, "min"},     {LV2_UNITS__pc, "%"},      {LV2_UNITS__bpm, "BPM"},
    {LV2_UNITS__semitone12TET, "semi"}, {LV2_UNITS__cent, "ct"}, {LV2_UNITS__oct, "oct"},
    {LV2_UNITS__degree, "°"},    {LV2_UNITS__frame, "frames"}, {LV2_UNITS__midiNote, "note"},
    {LV2_UNITS__m, "m"},         {LV2_UNITS__cm, "cm"},     {LV2_UNITS__mm, "mm"},
    {LV2_UNITS__bar, "bars"},    {LV2_UNITS__beat, "beats"}, {LV2_UNITS__coef, ""},
};

const std::set<std::string> kProvidedFeatures = {
    LV2_URID__map,          LV2_URID__unmap,      LV2_OPTIONS__options,
    LV2_BUF_SIZE__boundedBlockLength, LV2_LOG__log, LV2_WORKER__schedule,
    LV2_STATE__loadDefaultState, LV2_STATE__mapPath, LV2_STATE__makePath, LV2_STATE__freePath,
    // Promises about the plug-in, not services: nothing to provide.
    LV2_CORE__isLive,       LV2_CORE__hardRTCapable, LV2_CORE__inPlaceBroken,
};

int logVprintf(LV2_Log_Handle handle, LV2_URID, const char* format, va_list arguments) {
    if (!pluginLogging()) return 0;
    std::fprintf(stderr, "%s: ", static_cast<const char*>(handle));
    return std::vfprintf(stderr, format, arguments);
}

int logPrintf(LV2_Log_Handle handle, LV2_URID type, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int written = logVprintf(handle, type, format, arguments);
    va_end(arguments);
    return written;
}

std::string text(const LilvNode* node) {
    if (node == nullptr) return {};
    if (lilv_node_is_string(node) || lilv_node_is_literal(node)) return lilv_node_as_string(node);
    if (lilv_node_is_uri(node)) return lilv_node_as_uri(node);
    return {};
}

std::string takeText(LilvNode* node) {
    std::string result = text(node);
    lilv_node_free(node);
    return result;
}

std::string unitOf(Lv2World& lv2, const LilvPlugin* plugin, const LilvPort* port) {
    LilvNode* unit = lilv_port_get(plugin, port, lv2.node(LV2_UNITS__unit));
    if (unit == nullptr) return {};
    std::string symbol =
        takeText(lilv_world_get(lv2.world(), unit, lv2.node(LV2_UNITS__symbol), nullptr));
    if (symbol.empty() && lilv_node_is_uri(unit)) {
        const auto known = kUnitSymbols.find(lilv_node_as_uri(unit));
        if (known != kUnitSymbols.end()) symbol = known->second;
    }
    lilv_node_free(unit);
    return symbol;
}

// A port in a group that is some other group's side-chain.
bool inSideChainGroup(Lv2World& lv2, const LilvPlugin* plugin, const LilvPort* port) {
    LilvNode* group = lilv_port_get(plugin, port, lv2.node(kPortGroup));
    if (group == nullptr) return false;
    const bool side =
        lilv_world_ask(lv2.world(), group, lv2.node(kRdfType), lv2.node(kSideChainGroup)) ||
        lilv_world_ask(lv2.world(), group, lv2.node(kSideChainOf), nullptr);
    lilv_node_free(group);
    return side;
}

// A port value as a preset or state holds it: presets are written with
// float, double, integer and boolean literals alike.
std::optional<float> numberOf(const void* value, std::uint32_t size, std::uint32_t type) {
    Lv2World& lv2 = Lv2World::instance();
    if (type == lv2.map(LV2_ATOM__Float) && size == sizeof(float))
        return *static_cast<const float*>(value);
    if (type == lv2.map(LV2_ATOM__Double) && size == sizeof(double))
        return static_cast<float>(*static_cast<const double*>(value));
    if ((type == lv2.map(LV2_ATOM__Int) || type == lv2.map(LV2_ATOM__Bool)) &&
        size == sizeof(std::int32_t))
        return static_cast<float>(*static_cast<const std::int32_t*>(value));
    if (type == lv2.map(LV2_ATOM__Long) && size == sizeof(std::int64_t))
        return static_cast<float>(*static_cast<const std::int64_t*>(value));
    return std::nullopt;
}

std::vector<std::pair<std::string, float>> portValuesOf(const LilvState* state) {
    std::vector<std::pair<std::string, float>> values;
    lilv_state_emit_port_values(
        state,
        [](const char* symbol, void* user, const void* value, std::uint32_t size,
           std::uint32_t type) {
            if (const auto number = numberOf(value, size, type))
                static_cast<std::vector<std::pair<std::string, float>>*>(user)->emplace_back(
                    symbol, *number);
        },
        &values);
    return values;
}

// Why lilv could not instantiate a plug-in, where its binary says so: the
// file is missing, is no library that loads, or does not describe the URI.
// Empty when the binary is sound (the plug-in itself refused).
std::string binaryTrouble(const LilvPlugin* plugin, const std::string& uri) {
    char* parsed = lilv_file_uri_parse(lilv_node_as_uri(lilv_plugin_get_library_uri(plugin)), nullptr);
    const std::string path = parsed != nullptr ? parsed : "";
    lilv_free(parsed);
    if (path.empty()) return "it names no binary";
    if (::access(path.c_str(), F_OK) != 0) return "its binary " + path + " is missing";
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* error = ::dlerror();
        return "its binary " + path + " does not load (" + (error != nullptr ? error : "") + ")";
    }
    std::string trouble;
    const auto entry = reinterpret_cast<LV2_Descriptor_Function>(::dlsym(library, "lv2_descriptor"));
    if (entry == nullptr) {
        // The library form describes its plug-ins through lv2_lib_descriptor,
        // which lilv asks for itself.
        if (::dlsym(library, "lv2_lib_descriptor") == nullptr)
            trouble = "its binary " + path + " is not an LV2 library (it has no lv2_descriptor)";
    } else {
        bool found = false;
        for (std::uint32_t i = 0; !found && i < 100000; ++i) {
            const LV2_Descriptor* descriptor = entry(i);
            if (descriptor == nullptr) break;
            found = descriptor->URI != nullptr && uri == descriptor->URI;
        }
        if (!found) trouble = "its binary " + path + " does not hold " + uri;
    }
    ::dlclose(library);
    return trouble;
}

}  // namespace

// Everything whose address a plug-in keeps.
struct Lv2Plugin::Features {
    float sampleRate = 0.0f;
    std::int32_t minBlock = 1, maxBlock = 0, nominalBlock = 0;
    LV2_Options_Option options[5]{};
    std::string logName;
    LV2_Log_Log log{};
    LV2_Worker_Schedule schedule{};
    const LV2_Worker_Interface* worker = nullptr;
    LV2_Handle handle = nullptr;
    std::vector<std::uint8_t> replies = std::vector<std::uint8_t>(kWorkerReplyBytes);
    std::size_t replyBytes = 0;
    LV2_Feature map{}, unmap{}, optionsFeature{}, bounded{}, logFeature{}, scheduleFeature{},
        defaultState{};
    // What save and restore are given; lilv adds its own path features.
    const LV2_Feature* list[8]{};
    // Files the plug-in makes (state:makePath) go into a scratch folder of
    // the instance's, made when first asked for, which a saved state copies
    // from.
    std::string scratch;
    LV2_State_Make_Path makePath{};
    LV2_State_Free_Path freePath{};
    LV2_Feature makePathFeature{}, freePathFeature{};
    const LV2_Feature* instantiateList[10]{};

    static char* pathIn(LV2_State_Make_Path_Handle self, const char* path);

    // The worker does its work at once, inside run; its replies wait for
    // the end of the run, as the interface asks.
    static LV2_Worker_Status respond(LV2_Worker_Respond_Handle self, std::uint32_t size,
                                     const void* data) {
        auto* f = static_cast<Features*>(self);
        const std::size_t needed = sizeof(std::uint32_t) + size;
        if (f->replyBytes + needed > f->replies.size()) return LV2_WORKER_ERR_NO_SPACE;
        std::memcpy(f->replies.data() + f->replyBytes, &size, sizeof(size));
        std::memcpy(f->replies.data() + f->replyBytes + sizeof(size), data, size);
        f->replyBytes += needed;
        return LV2_WORKER_SUCCESS;
    }
    static LV2_Worker_Status scheduleWork(LV2_Worker_Schedule_Handle self, std::uint32_t size,
                                          const void* data) {
        auto* f = static_cast<Features*>(self);
        if (f->worker == nullptr || f->worker->work == nullptr) return LV2_WORKER_ERR_UNKNOWN;
        return f->worker->work(f->handle, respond, f, size, data);
    }
    void deliverReplies() {
        if (worker == nullptr) return;
        for (std::size_t at = 0; at < replyBytes;) {
            std::uint32_t size = 0;
            std::memcpy(&size, replies.data() + at, sizeof(size));
            if (worker->work_response != nullptr)
                worker->work_response(handle, size, replies.data() + at + sizeof(size));
            at += sizeof(size) + size;
        }
        replyBytes = 0;
        if (worker->end_run != nullptr) worker->end_run(handle);
    }
};

Lv2Plugin::Lv2Plugin(const std::string& uriOrBundle, double sampleRate, int blockFrames)
    : rate(sampleRate), blockFrames(blockFrames), features(std::make_unique<Features>()) {
    Lv2World& lv2 = Lv2World::instance();
    const std::lock_guard guard(lv2.lock());
    plugin = lv2.find(uriOrBundle);
    uri = lilv_node_as_uri(lilv_plugin_get_uri(plugin));
    pluginName = takeText(lilv_plugin_get_name(plugin));
    if (pluginName.empty()) pluginName = uri;

    LilvNodes* required = lilv_plugin_get_required_features(plugin);
    LILV_FOREACH (nodes, i, required) {
        const std::string feature = lilv_node_as_uri(lilv_nodes_get(required, i));
        if (!kProvidedFeatures.contains(feature)) {
            lilv_nodes_free(required);
            throw EngineError(uriOrBundle + ": " + pluginName + " requires the host feature " +
                              feature + ", which varkel-host does not provide");
        }
    }
    lilv_nodes_free(required);

    const LilvNode* audio = lv2.node(LV2_CORE__AudioPort);
    const LilvNode* control = lv2.node(LV2_CORE__ControlPort);
    const LilvNode* cv = lv2.node(LV2_CORE__CVPort);
    const LilvNode* atom = lv2.node(LV2_ATOM__AtomPort);
    const LilvNode* input = lv2.node(LV2_CORE__InputPort);
    const LilvNode* optional = lv2.node(LV2_CORE__connectionOptional);
    instrumentClass = isInstrumentClass(plugin);
    const std::uint32_t ports = lilv_plugin_get_num_ports(plugin);
    std::vector<float> minimum(ports), maximum(ports), defaults(ports);
    lilv_plugin_get_port_ranges_float(plugin, minimum.data(), maximum.data(), defaults.data());
    portValues.assign(ports, 0.0f);
    const LilvPort* latencyOutput = lilv_plugin_get_port_by_designation(
        plugin, lv2.node(LV2_CORE__OutputPort), lv2.node(LV2_CORE__latency));

    for (std::uint32_t p = 0; p < ports; ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
        const bool isInput = lilv_port_is_a(plugin, port, input);
        const auto has = [&](const char* property) {
            return lilv_port_has_property(plugin, port, lv2.node(property));
        };
        if (lilv_port_is_a(plugin, port, audio)) {
            if (!isInput) {
                audioOutputs.push_back(p);
                continue;
            }
            audioInputs.push_back(p);
            InputInfo role;
            role.label = takeText(lilv_port_get_name(plugin, port));
            if (has(kIsSideChain)) {
                role.sideChain = true;
                role.reason = SideChainReason::Property;
            } else if (inSideChainGroup(lv2, plugin, port)) {
                role.sideChain = true;
                role.reason = SideChainReason::Group;
            }
            inputRoles.push_back(role);
        } else if (lilv_port_is_a(plugin, port, control)) {
            // A range written the wrong way round is taken with its ends
            // swapped, so that its default and its values stay usable.
            float low = minimum[p], high = maximum[p];
            if (std::isfinite(low) && std::isfinite(high) && low > high) std::swap(low, high);
            if (!isInput) {
                // Meters, gain reduction, latency: every run writes them, so
                // each has a place to go.
                if (port == latencyOutput || has(LV2_CORE__reportsLatency))
                    latencyPort = static_cast<int>(p);
                ControlOutput reported;
                reported.name = takeText(lilv_port_get_name(plugin, port));
                reported.symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
                reported.unit = unitOf(lv2, plugin, port);
                reported.minimum = std::isfinite(low) ? low : 0.0f;
                reported.maximum = std::isfinite(high) ? high : reported.minimum;
                outputControls.push_back({p, std::move(reported)});
                continue;
            }
            Control c;
            c.port = p;
            ParameterInfo& info = c.info;
            info.name = takeText(lilv_port_get_name(plugin, port));
            info.symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
            info.minimum = std::isfinite(low) ? low : 0.0f;
            info.maximum = std::isfinite(high) ? high : std::max(info.minimum, 1.0f);
            info.defaultValue = std::isfinite(defaults[p]) ? defaults[p] : info.minimum;
            info.defaultValue = std::clamp(info.defaultValue, info.minimum, info.maximum);
            info.toggled = has(LV2_CORE__toggled);
            info.integer = has(LV2_CORE__integer);
            info.enumeration = has(LV2_CORE__enumeration);
            info.logarithmic = has(LV2_PORT_PROPS__logarithmic);
            info.unit = unitOf(lv2, plugin, port);
            if (LilvScalePoints* points = lilv_port_get_scale_points(plugin, port)) {
                LILV_FOREACH (scale_points, i, points) {
                    const LilvScalePoint* point = lilv_scale_points_get(points, i);
                    info.scalePoints.emplace_back(
                        lilv_node_as_float(lilv_scale_point_get_value(point)),
                        text(lilv_scale_point_get_label(point)));
                }
                lilv_scale_points_free(points);
                std::sort(info.scalePoints.begin(), info.scalePoints.end());
            }
            portValues[p] = info.defaultValue;
            controls.push_back(std::move(c));
        } else if (lilv_port_is_a(plugin, port, atom)) {
            if (midiInput < 0 && takesMidiEvents(lv2, plugin, port))
                midiInput = static_cast<int>(atomInputs.size());
            (isInput ? atomInputs : atomOutputs).push_back(p);
        } else if (lilv_port_is_a(plugin, port, cv)) {
            (isInput ? cvInputs : cvOutputs).push_back(p);
        } else if (!lilv_port_has_property(plugin, port, optional)) {
            throw EngineError(uriOrBundle + ": " + pluginName + " has a port (" +
                              lilv_node_as_string(lilv_port_get_symbol(plugin, port)) +
                              ") of a kind varkel-host cannot connect");
        }
    }
    // Mapped here, so that a run takes no lock.
    chunkType = lv2.map(LV2_ATOM__Chunk);
    midiEventType = lv2.map(LV2_MIDI__MidiEvent);
    atomBuffers.assign(atomInputs.size() + atomOutputs.size(),
                       std::vector<std::uint64_t>(kAtomBufferBytes / sizeof(std::uint64_t)));
    cvBuffers.assign(cvInputs.size() + cvOutputs.size(),
                     std::vector<float>(static_cast<std::size_t>(blockFrames)));

    Features& f = *features;
    f.sampleRate = static_cast<float>(sampleRate);
    f.maxBlock = blockFrames;
    f.nominalBlock = blockFrames;
    const LV2_URID intType = lv2.map(LV2_ATOM__Int);
    f.options[0] = {LV2_OPTIONS_INSTANCE, 0, lv2.map(LV2_PARAMETERS__sampleRate), sizeof(float),
                    lv2.map(LV2_ATOM__Float), &f.sampleRate};
    f.options[1] = {LV2_OPTIONS_INSTANCE, 0, lv2.map(LV2_BUF_SIZE__minBlockLength),
                    sizeof(std::int32_t), intType, &f.minBlock};
    f.options[2] = {LV2_OPTIONS_INSTANCE, 0, lv2.map(LV2_BUF_SIZE__maxBlockLength),
                    sizeof(std::int32_t), intType, &f.maxBlock};
    f.options[3] = {LV2_OPTIONS_INSTANCE, 0, lv2.map(LV2_BUF_SIZE__nominalBlockLength),
                    sizeof(std::int32_t), intType, &f.nominalBlock};
    f.logName = pluginName;
    f.log = {f.logName.data(), logPrintf, logVprintf};
    f.schedule = {&f, Features::scheduleWork};
    f.map = {LV2_URID__map, lv2.mapFeature()};
    f.unmap = {LV2_URID__unmap, lv2.unmapFeature()};
    f.optionsFeature = {LV2_OPTIONS__options, f.options};
    f.bounded = {LV2_BUF_SIZE__boundedBlockLength, nullptr};
    f.logFeature = {LV2_LOG__log, &f.log};
    f.scheduleFeature = {LV2_WORKER__schedule, &f.schedule};
    f.defaultState = {LV2_STATE__loadDefaultState, nullptr};
    const LV2_Feature* list[] = {&f.map,        &f.unmap,           &f.optionsFeature, &f.bounded,
                                 &f.logFeature, &f.scheduleFeature, &f.defaultState,   nullptr};
    std::copy(std::begin(list), std::end(list), f.list);
    f.makePath = {&f, Features::pathIn};
    f.freePath = {nullptr, [](LV2_State_Free_Path_Handle, char* path) { std::free(path); }};
    f.makePathFeature = {LV2_STATE__makePath, &f.makePath};
    f.freePathFeature = {LV2_STATE__freePath, &f.freePath};
    std::copy(std::begin(list), std::end(list) - 1, f.instantiateList);
    f.instantiateList[7] = &f.makePathFeature;
    f.instantiateList[8] = &f.freePathFeature;

    instance = instantiate();
    f.handle = lilv_instance_get_handle(instance);
    f.worker = static_cast<const LV2_Worker_Interface*>(
        lilv_instance_get_extension_data(instance, LV2_WORKER__interface));
    connectFixedPorts(instance);

    // The plug-in's own default state, where it describes one.
    if (LilvState* state = lilv_state_new_from_world(lv2.world(), lv2.mapFeature(),
                                                     lilv_plugin_get_uri(plugin))) {
        restore(state);
        lilv_state_free(state);
    }
}

void Lv2Plugin::restore(const LilvState* state) {
    lilv_state_restore(
        state, instance,
        [](const char* symbol, void* self, const void* value, std::uint32_t size,
           std::uint32_t type) {
            if (const auto number = numberOf(value, size, type))
                static_cast<Lv2Plugin*>(self)->setBySymbol(symbol, *number);
        },
        this, 0, features->list);
}

Lv2Plugin::~Lv2Plugin() {
    // Some plug-ins free in cleanup what only activate allocated (SWH's
    // delays and filters), and crash on an instance that never started, as
    // no workstation leaves one: each is started once before it goes.
    if (!everActive && instance != nullptr) {
        lilv_instance_activate(instance);
        active = true;
    }
    stop();
    {
        const std::lock_guard guard(Lv2World::instance().lock());
        if (instance != nullptr) lilv_instance_free(instance);
    }
    removeScratch();
}

LilvInstance* Lv2Plugin::instantiate() {
    // The binary checked first, once per plug-in, so that lilv, which prints
    // its complaints where nothing can take them, is never asked to load one
    // that cannot load; stderr is not touched here, where other threads may
    // be printing. Called under the world's lock.
    static std::map<std::string, std::string> checked;
    auto found = checked.find(uri);
    if (found == checked.end()) found = checked.emplace(uri, binaryTrouble(plugin, uri)).first;
    if (!found->second.empty())
        throw EngineError(uri + ": " + pluginName + " cannot be loaded: " + found->second);
    LilvInstance* made = lilv_plugin_instantiate(plugin, rate, features->instantiateList);
    if (made == nullptr)
        throw EngineError(uri + ": " + pluginName + " refused to start at " +
                          std::to_string(static_cast<long>(rate)) + " Hz");
    return made;
}

void Lv2Plugin::connectFixedPorts(LilvInstance* target) {
    for (const Control& c : controls) lilv_instance_connect_port(target, c.port, &portValues[c.port]);
    for (const OutputControl& o : outputControls)
        lilv_instance_connect_port(target, o.port, &portValues[o.port]);
    std::size_t buffer = 0;
    const LV2_URID sequence = Lv2World::instance().map(LV2_ATOM__Sequence);
    for (const std::uint32_t port : atomInputs) {
        auto* atom = reinterpret_cast<LV2_Atom_Sequence*>(atomBuffers[buffer++].data());
        atom->atom.size = sizeof(LV2_Atom_Sequence_Body);
        atom->atom.type = sequence;
        atom->body.unit = 0;
        atom->body.pad = 0;
        lilv_instance_connect_port(target, port, atom);
    }
    for (const std::uint32_t port : atomOutputs)
        lilv_instance_connect_port(target, port, atomBuffers[buffer++].data());
    std::size_t cvBuffer = 0;
    for (const std::uint32_t port : cvInputs)
        lilv_instance_connect_port(target, port, cvBuffers[cvBuffer++].data());
    for (const std::uint32_t port : cvOutputs)
        lilv_instance_connect_port(target, port, cvBuffers[cvBuffer++].data());
}

void Lv2Plugin::runOnce(LilvInstance* target, int frames) {
    // An atom output is handed over empty with its whole room each run.
    for (std::size_t i = atomInputs.size(); i < atomBuffers.size(); ++i) {
        auto* atom = reinterpret_cast<LV2_Atom*>(atomBuffers[i].data());
        atom->size = static_cast<std::uint32_t>(kAtomBufferBytes - sizeof(LV2_Atom));
        atom->type = chunkType;
    }
    lilv_instance_run(target, static_cast<std::uint32_t>(frames));
    features->deliverReplies();
    if (midiQueued) {
        auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(
            atomBuffers[static_cast<std::size_t>(midiInput)].data());
        sequence->atom.size = sizeof(LV2_Atom_Sequence_Body);
        midiQueued = false;
    }
}

void Lv2Plugin::queueMidi(std::span<const MidiEvent> events) {
    if (midiInput < 0 || events.empty()) return;
    const auto padded = [](std::size_t bytes) { return (bytes + 7) / 8 * 8; };
    std::size_t needed = sizeof(LV2_Atom_Sequence);
    for (const MidiEvent& e : events) needed += sizeof(LV2_Atom_Event) + padded(e.size);
    auto& buffer = atomBuffers[static_cast<std::size_t>(midiInput)];
    if (needed > buffer.size() * sizeof(std::uint64_t)) {
        // More than a block's usual worth: a larger buffer, connected in
        // place of the old one before the run that reads it.
        buffer.resize(padded(needed) / sizeof(std::uint64_t));
        auto* grown = reinterpret_cast<LV2_Atom_Sequence*>(buffer.data());
        grown->atom.type = Lv2World::instance().map(LV2_ATOM__Sequence);
        grown->body.unit = 0;
        grown->body.pad = 0;
        lilv_instance_connect_port(instance, atomInputs[static_cast<std::size_t>(midiInput)], grown);
    }
    auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(buffer.data());
    auto* at = reinterpret_cast<std::uint8_t*>(sequence + 1);
    for (const MidiEvent& e : events) {
        auto* event = reinterpret_cast<LV2_Atom_Event*>(at);
        event->time.frames = e.frame;
        event->body.size = e.size;
        event->body.type = midiEventType;
        std::memcpy(event + 1, e.bytes, e.size);
        at += sizeof(LV2_Atom_Event) + padded(e.size);
    }
    sequence->atom.size = static_cast<std::uint32_t>(needed - sizeof(LV2_Atom));
    midiQueued = true;
}

// Here, beside the features it hands the plug-in.
LilvState* Lv2Plugin::snapshot(const std::string& dir) {
    Lv2World& lv2 = Lv2World::instance();
    const char* folder = dir.empty() ? nullptr : dir.c_str();
    const char* scratch = features->scratch.empty() || dir.empty() ? nullptr : features->scratch.c_str();
    return lilv_state_new_from_instance(
        plugin, instance, lv2.mapFeature(), scratch, folder, folder, folder,
        [](const char* symbol, void* self, std::uint32_t* size, std::uint32_t* type) -> const void* {
            auto* me = static_cast<Lv2Plugin*>(self);
            for (const Control& c : me->controls) {
                if (c.info.symbol != symbol) continue;
                *size = sizeof(float);
                *type = Lv2World::instance().map(LV2_ATOM__Float);
                return &me->portValues[c.port];
            }
            *size = 0;
            *type = 0;
            return nullptr;
        },
        this, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, features->list);
}

std::vector<InputInfo> Lv2Plugin::inputInfo() const {
    return markSideChains(inputRoles, outputs());
}

ParameterInfo Lv2Plugin::parameterInfo(int index) const {
    return controls.at(static_cast<std::size_t>(index)).info;
}

std::string Lv2Plugin::parameterDisplay(int index) const {
    const ParameterInfo& info = controls.at(static_cast<std::size_t>(index)).info;
    const float value = parameter(index);
    for (const auto& [point, label] : info.scalePoints)
        if (point == value && !label.empty()) return label;
    if (info.toggled) return value > 0.0f ? "on" : "off";
    char shown[32];
    std::snprintf(shown, sizeof(shown), info.integer ? "%.0f" : "%g", static_cast<double>(value));
    return shown;
}

float Lv2Plugin::parameter(int index) const {
    return portValues[controls.at(static_cast<std::size_t>(index)).port];
}

void Lv2Plugin::setParameter(int index, float value) {
    portValues[controls.at(static_cast<std::size_t>(index)).port] = value;
}

void Lv2Plugin::setBySymbol(const std::string& symbol, float value) {
    for (const Control& c : controls)
        if (c.info.symbol == symbol) portValues[c.port] = value;
}

std::vector<std::string> Lv2Plugin::presets() const {
    Lv2World& lv2 = Lv2World::instance();
    const std::lock_guard guard(lv2.lock());
    std::vector<std::string> names;
    LilvNodes* related = lilv_plugin_get_related(plugin, lv2.node(LV2_PRESETS__Preset));
    LILV_FOREACH (nodes, i, related) {
        const LilvNode* preset = lilv_nodes_get(related, i);
        lilv_world_load_resource(lv2.world(), preset);
        std::string label =
            takeText(lilv_world_get(lv2.world(), preset, lv2.node(kRdfsLabel), nullptr));
        names.push_back(label.empty() ? lilv_node_as_uri(preset) : label);
    }
    lilv_nodes_free(related);
    std::sort(names.begin(), names.end());
    return names;
}

void Lv2Plugin::loadPreset(const std::string& preset) {
    Lv2World& lv2 = Lv2World::instance();
    std::vector<std::string> labels;
    LilvState* state = nullptr;
    {
        const std::lock_guard guard(lv2.lock());
        LilvNodes* related = lilv_plugin_get_related(plugin, lv2.node(LV2_PRESETS__Preset));
        LILV_FOREACH (nodes, i, related) {
            const LilvNode* node = lilv_nodes_get(related, i);
            lilv_world_load_resource(lv2.world(), node);
            const std::string label =
                takeText(lilv_world_get(lv2.world(), node, lv2.node(kRdfsLabel), nullptr));
            labels.push_back(label.empty() ? lilv_node_as_uri(node) : label);
            if (state == nullptr && (label == preset || preset == lilv_node_as_uri(node)))
                state = lilv_state_new_from_world(lv2.world(), lv2.mapFeature(), node);
        }
        lilv_nodes_free(related);
    }
    if (state == nullptr) {
        std::sort(labels.begin(), labels.end());
        std::string known;
        for (const std::string& label : labels) known += (known.empty() ? "" : ", ") + label;
        throw UsageError(mention(RequestField::Preset, preset) + ": " + pluginName + " has no such preset" +
                         (known.empty() ? std::string(" (it has none)") : "; its presets: " + known));
    }
    restoreChecked(state, mention(RequestField::Preset, preset), "preset " + preset);
}

void Lv2Plugin::restoreChecked(LilvState* state, const std::string& context,
                               const std::string& what) {
    // Checked whole before any of it is applied: a value out of its port's
    // range refuses it; a port the plug-in lacks is passed over.
    try {
        for (const auto& [symbol, value] : portValuesOf(state)) {
            const auto control = std::find_if(controls.begin(), controls.end(),
                                              [&](const Control& c) { return c.info.symbol == symbol; });
            if (control == controls.end()) {
                warn(what + " sets " + symbol + ", a port " + pluginName + " does not have");
                continue;
            }
            // A plug-in's own saved value may lie past an end of its range
            // by rounding alone (its range written to fewer digits than the
            // value): taken, as it was saved.
            const ParameterInfo& info = control->info;
            const float rounding = 1e-6f * std::max(info.maximum - info.minimum, 1e-30f);
            const float checked = value < info.minimum && value >= info.minimum - rounding ? info.minimum
                                  : value > info.maximum && value <= info.maximum + rounding ? info.maximum
                                                                                             : value;
            checkValue(*this, static_cast<int>(control - controls.begin()), checked,
                       context + " " + symbol);
        }
    } catch (...) {
        lilv_state_free(state);
        throw;
    }
    restore(state);
    lilv_state_free(state);
}

void Lv2Plugin::removeScratch() {
    if (features->scratch.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(features->scratch, ignored);
}

char* Lv2Plugin::Features::pathIn(LV2_State_Make_Path_Handle self, const char* path) {
    namespace fs = std::filesystem;
    auto* f = static_cast<Features*>(self);
    std::error_code error;
    if (f->scratch.empty()) {
        std::string pattern = (fs::temp_directory_path(error) / "varkel-state-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) f->scratch = pattern;
    }
    const fs::path full = fs::path(f->scratch.empty() ? "/tmp" : f->scratch) / path;
    fs::create_directories(full.parent_path(), error);
    return ::strdup(full.c_str());
}

std::vector<ControlOutput> Lv2Plugin::controlOutputs() const {
    std::vector<ControlOutput> reported;
    for (const OutputControl& o : outputControls) {
        reported.push_back(o.info);
        reported.back().value = portValues[o.port];
    }
    return reported;
}

int Lv2Plugin::latency() {
    if (latencyPort < 0) return 0;
    // A second instance with these settings, run once on silence, so that
    // this one's state is left as it was.
    LilvInstance* probe = nullptr;
    LilvState* state = nullptr;
    // What a loaded state set may decide the latency too (a convolver's
    // response); the probe shares the port values already.
    const bool keepsState = stateKind() == StateKind::Lv2State;
    {
        const std::lock_guard guard(Lv2World::instance().lock());
        probe = instantiate();
        if (keepsState) state = snapshot("");
    }
    if (state != nullptr) {
        lilv_state_restore(state, probe, nullptr, nullptr, 0, features->list);
        lilv_state_free(state);
    }
    const std::vector<float> saved = portValues;
    connectFixedPorts(probe);
    std::vector<std::vector<float>> silence(audioInputs.size() + audioOutputs.size(),
                                            std::vector<float>(static_cast<std::size_t>(blockFrames)));
    std::size_t b = 0;
    for (const std::uint32_t port : audioInputs) lilv_instance_connect_port(probe, port, silence[b++].data());
    for (const std::uint32_t port : audioOutputs) lilv_instance_connect_port(probe, port, silence[b++].data());
    // Its worker's requests and replies are its own, not this instance's.
    Features& f = *features;
    f.handle = lilv_instance_get_handle(probe);
    f.worker = static_cast<const LV2_Worker_Interface*>(
        lilv_instance_get_extension_data(probe, LV2_WORKER__interface));
    lilv_instance_activate(probe);
    runOnce(probe, blockFrames);
    lilv_instance_deactivate(probe);
    f.handle = lilv_instance_get_handle(instance);
    f.worker = static_cast<const LV2_Worker_Interface*>(
        lilv_instance_get_extension_data(instance, LV2_WORKER__interface));
    const float frames = portValues[static_cast<std::size_t>(latencyPort)];
    // The probe shares the control ports; give back what the run may have moved.
    portValues = saved;
    {
        const std::lock_guard guard(Lv2World::instance().lock());
        lilv_instance_free(probe);
    }
    connectFixedPorts(instance);
    return std::isfinite(frames) && frames > 0.0f ? static_cast<int>(std::lround(frames)) : 0;
}

void Lv2Plugin::start(Precision precision) {
    if (precision == Precision::Double) {
        floatInputs.assign(audioInputs.size(), std::vector<float>(static_cast<std::size_t>(blockFrames)));
        floatOutputs.assign(audioOutputs.size(), std::vector<float>(static_cast<std::size_t>(blockFrames)));
        floatInputPointers.clear();
        floatOutputPointers.clear();
        for (auto& buffer : floatInputs) floatInputPointers.push_back(buffer.data());
        for (auto& buffer : floatOutputs) floatOutputPointers.push_back(buffer.data());
    }
    if (!active) lilv_instance_activate(instance);
    active = everActive = true;
}

void Lv2Plugin::stop() {
    if (active) lilv_instance_deactivate(instance);
    active = false;
}

void Lv2Plugin::process(float** in, float** out, int frames) {
    for (std::size_t i = 0; i < audioInputs.size(); ++i)
        lilv_instance_connect_port(instance, audioInputs[i], in[i]);
    for (std::size_t i = 0; i < audioOutputs.size(); ++i)
        lilv_instance_connect_port(instance, audioOutputs[i], out[i]);
    runOnce(instance, frames);
}

void Lv2Plugin::process(double** in, double** out, int frames) {
    // LV2 audio is single precision: the 64-bit path converts on the way.
    const auto n = static_cast<std::size_t>(frames);
    for (std::size_t c = 0; c < floatInputs.size(); ++c)
        std::transform(in[c], in[c] + n, floatInputs[c].begin(),
                       [](double x) { return static_cast<float>(x); });
    process(floatInputPointers.data(), floatOutputPointers.data(), frames);
    for (std::size_t c = 0; c < floatOutputs.size(); ++c)
        std::copy_n(floatOutputs[c].begin(), n, out[c]);
}

std::string Lv2Plugin::bundle() const {
    const std::lock_guard guard(Lv2World::instance().lock());
    char* path = lilv_file_uri_parse(lilv_node_as_uri(lilv_plugin_get_bundle_uri(plugin)), nullptr);
    std::string folder = path != nullptr ? path : "";
    lilv_free(path);
    return folder;
}

}  // namespace varkel::engine
