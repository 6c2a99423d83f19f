// A plug-in instance as the engine drives it, whatever its format: its
// channels, its parameters (normalised 0..1, with the plug-in's own names and
// texts), switching it on and off, and processing one block.
#pragma once

#include <string>

namespace varkel::engine {

enum class Precision { Single, Double };

// How the plug-in is told it is run: faster than real time, or as a live
// host runs it (bench measures it so).
enum class ProcessMode { Offline, Realtime };

class Plugin {
public:
    virtual ~Plugin() = default;

    // The plug-in's name, or its file's when it reports none.
    virtual std::string name() const = 0;
    // Where it was loaded from: a module path.
    virtual std::string location() const = 0;

    virtual int inputs() const = 0;
    virtual int outputs() const = 0;

    virtual int parameterCount() const = 0;
    virtual std::string parameterName(int index) const = 0;
    virtual std::string parameterLabel(int index) const = 0;   // the unit, e.g. "dB"
    virtual std::string parameterDisplay(int index) const = 0;  // the value as the plug-in shows it
    virtual float parameter(int index) const = 0;
    virtual void setParameter(int index, float value) = 0;

    // Ready to process at the precision; throws EngineError when the plug-in
    // cannot process at it.
    virtual void start(Precision precision) = 0;
    virtual void stop() = 0;

    virtual void process(float** inputs, float** outputs, int frames) = 0;
    virtual void process(double** inputs, double** outputs, int frames) = 0;
};

}  // namespace varkel::engine
