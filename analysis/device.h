// What the measurements drive: something that turns one test signal into
// one signal per output, starting from a fresh state each time.
#pragma once

#include <string>
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
};

}  // namespace varkel::analysis
