// A plug-in instance for Python: Varkel's processor or a loaded plug-in, as a
// stream guarded against use from two threads at once. Audio runs without
// the interpreter lock, so threads with instances of their own run in parallel.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/engine_error.h"
#include "engine/plugins/plugin_loader.h"
#include "engine/render/render_job.h"
#include "engine/render/render_request.h"
#include "engine/plugins/vst/vst_plugin.h"
#include "python/src/audio_array.h"
#include "python/src/bindings.h"
#include "python/src/exclusive_use.h"
#include "python/src/midi_binding.h"
#include "python/src/plugin_stream.h"
#include "python/src/processor_plugin.h"

namespace varkel::python {

namespace py = pybind11;

namespace {

// Rates a plug-in is opened at: what hosts use, with room either side.
constexpr double kLowestRate = 1000.0;
constexpr double kHighestRate = 768000.0;

void checkRate(double rate) {
    if (!(rate >= kLowestRate && rate <= kHighestRate))
        throw engine::UsageError("sample_rate " + py::str(py::float_(rate)).cast<std::string>() +
                                 ": must be a number of hertz from 1000 to 768000");
}

// A stream that survives a fork. A forked child has none of the parent's
// threads: the stream's own, which a loaded module runs on, and any the
// plug-in started. Driving the parent's copy there would wait for them for
// ever, so the child opens the plug-in afresh with the parameter values last
// seen, and never touches (nor frees) the copy.
class Instance {
public:
    Instance(PluginStream::Opener open, double rate, int block, bool ownThread)
        : opener(std::move(open)), rate(rate), block(block), ownThread(ownThread),
          home(getpid()), current(std::make_unique<PluginStream>(opener, rate, block, ownThread)) {
        remember();
    }
    ~Instance() {
        if (home != getpid()) static_cast<void>(current.release());
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // The guard of every use; first opens the plug-in afresh in a forked child.
    ExclusiveUse& use() {
        if (home != getpid()) reopenInChild();
        return guard;
    }
    PluginStream& stream() {
        if (!current) throw engine::EngineError(broken);
        return *current;
    }
    // Keeps the parameter values for a child to start from, and with
    // withState the state beyond them (not after every process call: an LV2
    // state is written out as Turtle to be kept).
    void remember(bool withState = false) {
        values.clear();
        for (int i = 0; i < current->plugin().parameterCount(); ++i)
            values.push_back(current->plugin().parameter(i));
        if (withState) state = current->carriedState();
    }
    const std::string& keptState() const { return state; }

private:
    void reopenInChild() {
        home = getpid();
        guard.forget();
        static_cast<void>(current.release());
        try {
            current = std::make_unique<PluginStream>(opener, rate, block, ownThread);
            if (!state.empty()) current->setState(state);
            for (int i = 0; i < static_cast<int>(values.size()); ++i)
                current->plugin().setParameter(i, values[i]);
        } catch (const std::exception& error) {
            current.reset();
            broken = std::string("this processor was made in another process and its plug-in "
                                 "does not open again in this one: ") + error.what();
            throw engine::EngineError(broken);
        }
    }

    PluginStream::Opener opener;
    double rate;
    int block;
    bool ownThread;
    pid_t home;  // the process current belongs to
    std::unique_ptr<PluginStream> current;
    std::vector<float> values;
    std::string state;  // the state beyond the values, as last loaded or set
    std::string broken;
    ExclusiveUse guard;
};

std::unique_ptr<Instance> openProcessor(double rate) {
    checkRate(rate);
    return std::make_unique<Instance>(
        [rate](int) { return std::make_unique<ProcessorPlugin>(rate); }, rate, 512, false);
}

std::unique_ptr<Instance> openModule(const std::string& location, double rate, int block,
                                     bool isolated, double timeout) {
    checkRate(rate);
    engine::checkBlockFrames(block);
    engine::checkPluginTimeout(timeout);
    const engine::PluginIsolation isolation{isolated, timeout};
    const py::gil_scoped_release unlocked;
    return std::make_unique<Instance>(
        [location, rate, isolation](int frames) {
            return engine::openPlugin(location, rate, frames, engine::ProcessMode::Offline,
                                      isolation);
        },
        rate, block, true);
}

// The frames of delay the plug-in reports with its current settings.
int latency(Instance& self) { return self.stream().plugin().latency(); }

int checkedIndex(Instance& self, int index) {
    if (index < 0 || index >= self.stream().plugin().parameterCount())
        throw engine::UsageError("no parameter " + std::to_string(index));
    return index;
}

template <typename Sample>
py::array processAs(Instance& self, const AudioArray& audio, const AudioArray* side, int outputs,
                    int block, bool compensateLatency, const engine::MidiSequence* midi) {
    py::array_t<Sample> rendered({static_cast<py::ssize_t>(outputs),
                                  static_cast<py::ssize_t>(audio.frames)});
    Sample* target = rendered.mutable_data();
    {
        const py::gil_scoped_release unlocked;
        audio.checkFinite();
        if (side != nullptr) side->checkFinite("sidechain");
        self.stream().process(static_cast<const Sample*>(audio.data), audio.layout, audio.channels,
                            target, audio.frames, block, compensateLatency,
                            side != nullptr ? static_cast<const Sample*>(side->data) : nullptr,
                            side != nullptr ? side->layout : engine::SampleLayout{},
                            side != nullptr ? side->channels : 0, midi);
    }
    return rendered;
}

// Planar output of frames at outputs channels from MIDI alone.
template <typename Sample>
py::array playAs(Instance& self, int outputs, std::optional<std::size_t> frames, int block,
                 bool compensateLatency, const engine::MidiSequence* midi) {
    if (frames) {
        py::array_t<Sample> rendered({static_cast<py::ssize_t>(outputs),
                                      static_cast<py::ssize_t>(*frames)});
        Sample* target = rendered.mutable_data();
        const py::gil_scoped_release unlocked;
        self.stream().process<Sample>(nullptr, {}, 0, target, *frames, block, compensateLatency,
                                      nullptr, {}, 0, midi);
        return rendered;
    }
    std::vector<Sample> interleaved;
    {
        const py::gil_scoped_release unlocked;
        interleaved = self.stream().processUntilQuiet<Sample>(block, compensateLatency, midi);
    }
    const std::size_t length = interleaved.size() / static_cast<std::size_t>(outputs);
    py::array_t<Sample> rendered({static_cast<py::ssize_t>(outputs),
                                  static_cast<py::ssize_t>(length)});
    Sample* target = rendered.mutable_data();
    for (std::size_t c = 0; c < static_cast<std::size_t>(outputs); ++c)
        for (std::size_t f = 0; f < length; ++f)
            target[c * length + f] = interleaved[f * static_cast<std::size_t>(outputs) + c];
    return rendered;
}

// A call without audio: MIDI alone, for frames or until the sound dies away.
py::array play(Instance& self, const py::handle& sideChain, int block, bool compensateLatency,
               const std::optional<engine::MidiSequence>& midi,
               std::optional<std::size_t> frames, bool wide) {
    if (!sideChain.is_none())
        throw engine::UsageError("sidechain: goes with audio, and there is none");
    if (!midi && !frames)
        throw engine::UsageError("process needs audio, or MIDI (midi=) or a length (duration=) "
                                 "for a plug-in to play without audio");
    const int outputs = self.stream().outputChannels(0);
    const engine::MidiSequence* events = midi ? &*midi : nullptr;
    return wide ? playAs<double>(self, outputs, frames, block, compensateLatency, events)
                : playAs<float>(self, outputs, frames, block, compensateLatency, events);
}

py::array process(Instance& self, const py::handle& object, int block,
                  const py::handle& sideChain, bool compensateLatency,
                  const std::optional<MidiPairs>& midiPairs, std::optional<std::size_t> frames,
                  bool wide) {
    const ExclusiveUse::Claim claim(self.use());
    std::optional<engine::MidiSequence> midi;
    if (midiPairs) midi = midiSequenceOf(*midiPairs);
    if (object.is_none()) {
        py::array rendered = play(self, sideChain, block, compensateLatency, midi, frames, wide);
        self.remember();
        return rendered;
    }
    if (frames)
        throw engine::UsageError("duration: the audio's frames give the output's length; "
                                 "duration is for MIDI alone");
    const AudioArray audio = AudioArray::from(object);
    std::optional<AudioArray> side;
    if (!sideChain.is_none()) {
        side = AudioArray::from(sideChain, "sidechain");
        if (side->frames != audio.frames || side->wide != audio.wide)
            throw engine::UsageError("sidechain: must have the audio's frames and dtype");
    }
    const int outputs = self.stream().outputChannels(audio.channels, side ? side->channels : 0);
    const AudioArray* sidePointer = side ? &*side : nullptr;
    const engine::MidiSequence* events = midi ? &*midi : nullptr;
    py::array rendered =
        audio.wide
            ? processAs<double>(self, audio, sidePointer, outputs, block, compensateLatency, events)
            : processAs<float>(self, audio, sidePointer, outputs, block, compensateLatency, events);
    self.remember();  // automation may have moved them
    return rendered;
}

void automate(Instance& self, int index, const std::vector<double>& times,
              const std::vector<double>& values, bool ramp) {
    const ExclusiveUse::Claim claim(self.use());
    checkedIndex(self, index);
    if (times.size() != values.size())
        throw engine::UsageError(self.stream().plugin().parameterName(index) + ": " +
                                 std::to_string(times.size()) + " times but " +
                                 std::to_string(values.size()) + " values");
    std::vector<engine::AutomationPoint> points;
    for (std::size_t i = 0; i < times.size(); ++i) {
        self.stream().checkValue(index, values[i]);
        points.push_back({times[i], static_cast<float>(values[i])});
    }
    self.stream().automate(index, points, ramp);
}

// A method that reads or writes the instance under the claim.
template <typename Result, typename... Args>
auto claimed(Result (*method)(Instance&, Args...)) {
    return [method](Instance& self, Args... args) {
        const ExclusiveUse::Claim claim(self.use());
        return method(self, args...);
    };
}

}  // namespace

void bindInstance(py::module_& module) {
    py::class_<Instance>(module, "Instance",
                         "One plug-in as a stream; see varkel.Varkel and varkel.load_plugin.")
        .def_static("processor", &openProcessor, py::arg("sample_rate"))
        .def_static("load", &openModule, py::arg("location"), py::arg("sample_rate"),
                    py::arg("block_size"), py::arg("isolated") = false,
                    py::arg("plugin_timeout") = engine::kDefaultPluginTimeoutSeconds)
        .def("process", &process, py::arg("audio"), py::arg("block_size"),
             py::arg("sidechain") = py::none(), py::arg("latency_compensation") = false,
             py::arg("midi") = py::none(), py::arg("frames") = py::none(),
             py::arg("wide") = false)
        .def("takes_midi",
             claimed(+[](Instance& self) { return self.stream().plugin().takesMidi(); }))
        .def("is_instrument",
             claimed(+[](Instance& self) { return self.stream().plugin().isInstrument(); }))
        .def("automate", &automate, py::arg("index"), py::arg("times"), py::arg("values"),
             py::arg("ramp"))
        .def("reset", claimed(+[](Instance& self) {
                 const py::gil_scoped_release unlocked;
                 self.stream().reset();
             }))
        .def("output_channels", claimed(+[](Instance& self, int channels) {
                 return self.stream().outputChannels(channels);
             }))
        .def("name", claimed(+[](Instance& self) { return self.stream().plugin().name(); }))
        .def("location",
             claimed(+[](Instance& self) { return self.stream().plugin().location(); }))
        .def("inputs", claimed(+[](Instance& self) { return self.stream().plugin().inputs(); }))
        .def("outputs", claimed(+[](Instance& self) { return self.stream().plugin().outputs(); }))
        .def("latency", claimed(+[](Instance& self) { return latency(self); }))
        .def("sample_rate", claimed(+[](Instance& self) { return self.stream().sampleRate(); }))
        .def("parameter_count",
             claimed(+[](Instance& self) { return self.stream().plugin().parameterCount(); }))
        .def("parameter_index", claimed(+[](Instance& self, const std::string& name) {
                 return self.stream().parameterIndex(name);
             }))
        .def("parameter_name", claimed(+[](Instance& self, int index) {
                 return self.stream().plugin().parameterName(checkedIndex(self, index));
             }))
        .def("parameter_unit", claimed(+[](Instance& self, int index) {
                 return self.stream().plugin().parameterLabel(checkedIndex(self, index));
             }))
        .def("parameter_display", claimed(+[](Instance& self, int index) {
                 return self.stream().plugin().parameterDisplay(checkedIndex(self, index));
             }))
        .def("parameter", claimed(+[](Instance& self, int index) {
                 return self.stream().plugin().parameter(checkedIndex(self, index));
             }))
        .def("default", claimed(+[](Instance& self, int index) {
                 return self.stream().defaultValue(checkedIndex(self, index));
             }))
        .def("parameter_range", claimed(+[](Instance& self, int index) {
                 const engine::ParameterInfo info =
                     self.stream().plugin().parameterInfo(checkedIndex(self, index));
                 return std::pair<float, float>(info.minimum, info.maximum);
             }))
        .def("control_outputs", claimed(+[](Instance& self) {
                 std::vector<std::pair<std::string, float>> values;
                 for (const engine::ControlOutput& o : self.stream().plugin().controlOutputs())
                     values.emplace_back(o.name, o.value);
                 return values;
             }))
        .def("presets", claimed(+[](Instance& self) { return self.stream().plugin().presets(); }))
        .def("load_preset", claimed(+[](Instance& self, const std::string& preset) {
                 self.stream().loadPreset(preset);
                 self.remember(true);
             }))
        .def("state_kind", claimed(+[](Instance& self) {
                 switch (self.stream().plugin().stateKind()) {
                     case engine::StateKind::Chunks:
                         return "chunks";
                     case engine::StateKind::Lv2State:
                         return "lv2";
                     case engine::StateKind::Parameters:
                         break;
                 }
                 return "parameters";
             }))
        .def("state", claimed(+[](Instance& self) {
                 return py::bytes(self.stream().plugin().stateBytes());
             }))
        .def("set_state", claimed(+[](Instance& self, const py::bytes& bytes) {
                 self.stream().setState(bytes);
                 self.remember(true);
             }))
        .def("carried_state", claimed(+[](Instance& self) {
                 self.remember(true);
                 return py::bytes(self.keptState());
             }))
        .def("load_state", claimed(+[](Instance& self, const std::string& path) {
                 self.stream().loadState(path);
                 self.remember(true);
             }))
        .def("save_state", claimed(+[](Instance& self, const std::string& path) {
                 self.stream().plugin().saveState(path);
             }))
        .def("set_parameter", claimed(+[](Instance& self, int index, double value) {
                 self.stream().setParameter(checkedIndex(self, index), value);
                 self.remember();
             }));
}

}  // namespace varkel::python
