// What the measurements drive: something that turns one test signal into
// one signal per output, starting from a fresh state each time.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace varkel::analysis {

using Signal = std::vector<float>;

class Device {
public:
    virtual ~Device() = default;
    virtual int outputs() const = 0;
    // Name and settings, as a legend shows them.
    virtual std::string description() const = 0;
    // input feeds every input of a freshly created and started instance;
    // returns one signal per output, each as long as input.
    virtual std::vector<Signal> render(const Signal& input) const = 0;

    // Frames the device says its output lags its input.
    virtual int reportedLatency() const { return 0; }
    // What it is beyond its description (format, where it came from), for a
    // report; empty when there is nothing more to say.
    virtual std::string identity() const { return {}; }
    // Every parameter's name and value as it is measured, so that a
    // comparison can name a changed setting.
    virtual std::vector<std::pair<std::string, double>> parameters() const { return {}; }
};

}  // namespace varkel::analysis
