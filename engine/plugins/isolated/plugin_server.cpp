#include "engine/plugins/isolated/plugin_server.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "engine/engine_error.h"
#include "engine/plugins/isolated/shared_region.h"
#include "engine/plugins/isolated/wire.h"
#include "engine/plugins/lv2/lv2_world.h"
#include "engine/plugins/plugin_loader.h"

namespace varkel::engine::isolated {

namespace {

// How often an idle child looks whether its parent is still there.
constexpr std::chrono::milliseconds kParentCheck{500};

class Server {
public:
    Server(SharedRegion& region, const ServedPlugin& served, const ServedOpener& opener)
        : region(region), served(served), opener(opener) {
        midi.reserve(kMaxMidiEvents);
    }

    void handle() {
        RegionHeader& header = region.header();
        applyChanges();
        // dataSize stays: it is the size of what the parent sent, until an answer.
        header.outcome = Outcome::Done;
        try {
            run(header.command);
        } catch (const FileNotFound& error) {
            fail(FailureKind::FileNotFound, error);
        } catch (const UsageError& error) {
            fail(FailureKind::Usage, error, error.helpCommand());
        } catch (const EngineError& error) {
            fail(FailureKind::Engine, error);
        } catch (const std::exception& error) {
            fail(FailureKind::Engine, EngineError(error.what()));
        }
    }

private:
    void run(Command command) {
        RegionHeader& header = region.header();
        switch (command) {
            case Command::Open: return open();
            case Command::Flush: return;
            case Command::ParameterDisplay: return answer(plugin->parameterDisplay(header.argument));
            case Command::ParameterValue: header.value = plugin->parameter(header.argument); return;
            case Command::LoadPreset: plugin->loadPreset(text()); return answerWarnings();
            case Command::LoadState: plugin->loadState(text()); return answerWarnings();
            case Command::SaveState: return plugin->saveState(text());
            case Command::StateBytes: return answer(plugin->stateBytes());
            case Command::SetStateBytes: plugin->setStateBytes(text()); return answerWarnings();
            case Command::Latency: header.argument = plugin->latency(); return;
            case Command::ControlOutputs: return answer(encodeControlOutputs(plugin->controlOutputs()));
            case Command::Start:
                return plugin->start(header.argument != 0 ? Precision::Double : Precision::Single);
            case Command::Stop: return plugin->stop();
            case Command::ProcessSingle: return process<float>();
            case Command::ProcessDouble: return process<double>();
        }
        throw EngineError("isolated plug-in: unknown call");
    }

    void open() {
        setPluginLogging(served.verbose);
        plugin = opener ? opener(served)
                        : openPlugin(served.name, served.sampleRate, served.blockFrames, served.mode);
        PluginDescription description;
        description.format = plugin->format();
        description.name = plugin->name();
        description.location = plugin->location();
        description.inputs = plugin->inputs();
        description.outputs = plugin->outputs();
        description.takesMidi = plugin->takesMidi();
        description.instrument = plugin->isInstrument();
        description.stateKind = plugin->stateKind();
        description.inputInfo = plugin->inputInfo();
        for (int i = 0; i < plugin->parameterCount(); ++i)
            description.parameters.push_back(plugin->parameterInfo(i));
        description.presets = plugin->presets();
        description.warnings = plugin->warnings();
        channels = description.inputs + description.outputs;
        answer(encodeDescription(description));
    }

    template <typename Sample>
    void process() {
        const RegionHeader& header = region.header();
        const std::size_t plane = planeBytes(served.blockFrames);
        std::vector<Sample*>& pointers = planes<Sample>();
        pointers.resize(static_cast<std::size_t>(channels));
        for (std::size_t c = 0; c < pointers.size(); ++c)
            pointers[c] = reinterpret_cast<Sample*>(region.at(kAudioOffset + c * plane));
        queueMidi();
        plugin->process(pointers.data(), pointers.data() + plugin->inputs(), header.argument);
    }

    template <typename Sample>
    std::vector<Sample*>& planes() {
        if constexpr (sizeof(Sample) == sizeof(float))
            return singlePlanes;
        else
            return doublePlanes;
    }

    void queueMidi() {
        const RegionHeader& header = region.header();
        if (header.midiEvents == 0) return;
        const auto* records = reinterpret_cast<const MidiRecord*>(region.at(kMidiRecordsOffset));
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(region.at(kMidiBytesOffset));
        midi.clear();
        for (int i = 0; i < header.midiEvents; ++i)
            midi.push_back({records[i].frame, records[i].size, bytes + records[i].offset});
        plugin->queueMidi(midi);
    }

    void applyChanges() {
        RegionHeader& header = region.header();
        if (!plugin) return;
        const auto* changes = reinterpret_cast<const ParameterChange*>(region.at(kChangesOffset));
        for (int i = 0; i < header.parameterChanges; ++i)
            plugin->setParameter(changes[i].index, changes[i].value);
        header.parameterChanges = 0;
    }

    std::string text() const { return std::string(region.data(), region.header().dataSize); }

    void answer(const std::string& bytes) {
        region.reserveData(bytes.size());
        std::copy(bytes.begin(), bytes.end(), region.data());
        region.header().dataSize = bytes.size();
    }

    void answerWarnings() { answer(WireWriter().put(plugin->warnings()).bytes()); }

    void fail(FailureKind kind, const EngineError& error, const std::string& help = "") {
        answer(WireWriter().put(kind).put(error.status()).put(std::string(error.what())).put(help).bytes());
        region.header().outcome = Outcome::Failed;
    }

    SharedRegion& region;
    const ServedPlugin& served;
    const ServedOpener& opener;
    std::unique_ptr<Plugin> plugin;
    int channels = 0;
    std::vector<MidiEvent> midi;
    std::vector<float*> singlePlanes;
    std::vector<double*> doublePlanes;
};

}  // namespace

int servePlugin(int sharedFd, pid_t parent, const ServedPlugin& served,
                const ServedOpener& open) {
    // Gone with the parent's thread that started it, which lasts as long as
    // the parent; and gone now if the parent already is.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) return 1;
    setFieldWording(markedMention);
    SharedRegion region = SharedRegion::attach(sharedFd);
    Server server(region, served, open);
    std::uint32_t seen = 0;
    for (;;) {
        RegionHeader& header = region.header();
        if (!waitWhileEqual(header.request, seen, kParentCheck)) {
            if (::getppid() != parent) return 0;
            continue;
        }
        seen = header.request.load(std::memory_order_acquire);
        region.follow();
        server.handle();
        region.header().reply.store(seen, std::memory_order_release);
        wakeWaiter(region.header().reply);
    }
}

int runPluginHost(int argc, char** argv, const ServedOpener& open) {
    constexpr int kSharedFd = 3;
    ServedPlugin served;
    pid_t parent = 0;
    bool named = false;
    for (int i = 1; i < argc && !named; ++i) {
        const std::string word = argv[i];
        if (word == "--" && i + 2 == argc) {
            served.name = argv[i + 1];
            named = true;
            continue;
        }
        if (i + 1 >= argc) break;
        const std::string value = argv[++i];
        if (word == "--parent")
            parent = static_cast<pid_t>(std::atol(value.c_str()));
        else if (word == "--rate")
            served.sampleRate = std::strtod(value.c_str(), nullptr);
        else if (word == "--block")
            served.blockFrames = std::atoi(value.c_str());
        else if (word == "--mode")
            served.mode = value == "realtime" ? ProcessMode::Realtime : ProcessMode::Offline;
        else if (word == "--verbose")
            served.verbose = value == "1";
        else
            break;
    }
    if (!named || parent <= 0 || served.blockFrames < 1) {
        std::fputs("varkel-plugin-host runs a plug-in for varkel-host --isolate and the varkel "
                   "Python package; it is not run by hand\n",
                   stderr);
        return 2;
    }
    return servePlugin(kSharedFd, parent, served, open);
}

}  // namespace varkel::engine::isolated
