#include "engine/render/automation.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "engine/engine_error.h"
#include "engine/render/render_request.h"

namespace varkel::engine {

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

// A plain finite number filling the whole text, or NaN.
double number(const std::string& text) {
    if (text.empty() || text.front() == ' ' || text.front() == '+') return std::nan("");
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    if (end != begin + text.size() || errno == ERANGE || !std::isfinite(value)) return std::nan("");
    return value;
}

double seconds(std::string text) {
    double scale = 1.0;
    if (text.size() > 2 && text.ends_with("ms")) {
        text.resize(text.size() - 2);
        scale = 0.001;
    } else if (text.size() > 1 && text.ends_with("s")) {
        text.pop_back();
    }
    return number(text) * scale;
}

}  // namespace

AutomationLane parseAutomation(const std::string& text) {
    const std::string& what = text;
    const std::size_t equals = text.rfind('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
        throw UsageError(what + ": needs NAME=TIME:VALUE[,TIME:VALUE...]");
    AutomationLane lane;
    lane.parameter = text.substr(0, equals);
    for (const std::string& pointText : split(text.substr(equals + 1), ',')) {
        const std::size_t colon = pointText.find(':');
        if (colon == std::string::npos)
            throw UsageError(what + ": '" + pointText + "' is not TIME:VALUE");
        const double time = seconds(pointText.substr(0, colon));
        const double value = number(pointText.substr(colon + 1));
        if (!(time >= 0.0))
            throw UsageError(what + ": '" + pointText.substr(0, colon) +
                             "' is not a time in seconds (e.g. 1.5, 1.5s or 1500ms)");
        lane.points.push_back({time, static_cast<float>(value)});
    }
    // Its values' range is the parameter's, checked once the plug-in is open.
    checkAutomationLane(lane);
    return lane;
}

void AutomationSchedule::addLane(int parameter, const std::vector<AutomationPoint>& points,
                                 double sampleRate, std::int64_t firstFrame) {
    Lane lane;
    lane.parameter = parameter;
    for (const AutomationPoint& point : points) {
        // llround of a count beyond 2^63 is undefined (in practice frame 0).
        const double frames = point.seconds * sampleRate;
        if (!(frames >= 0.0 && frames < 0x1p62))
            throw UsageError("an automation time of " + std::to_string(point.seconds) +
                             " s lies beyond any frame count at " + std::to_string(sampleRate) +
                             " Hz");
        lane.points.push_back({firstFrame + std::llround(frames), point.value});
    }
    if (!lane.points.empty()) lanes.push_back(std::move(lane));
}

std::int64_t AutomationSchedule::nextFrame() const {
    std::int64_t next = kNever;
    for (const Lane& lane : lanes) next = std::min(next, lane.nextFrame(ramp));
    return next;
}

std::int64_t AutomationSchedule::Lane::nextFrame(bool ramp) const {
    if (nextPoint == points.size()) return kNever;
    const std::int64_t point = points[nextPoint].frame;
    // Steps only between two points: none before the first or after the last.
    if (ramp && nextPoint > 0) return std::min(point, nextStep);
    return point;
}

bool AutomationSchedule::Lane::advance(std::int64_t frame, bool ramp, float& value) {
    if (nextFrame(ramp) != frame) return false;
    if (points[nextPoint].frame == frame) {
        // Points sharing a frame: the last one stands.
        while (nextPoint < points.size() && points[nextPoint].frame == frame)
            value = points[nextPoint++].value;
        const std::int64_t first = points.front().frame;
        nextStep = first + ((frame - first) / kRampStepFrames + 1) * kRampStepFrames;
        return true;
    }
    const FramePoint& from = points[nextPoint - 1];
    const FramePoint& to = points[nextPoint];
    const double position =
        static_cast<double>(frame - from.frame) / static_cast<double>(to.frame - from.frame);
    value =
        static_cast<float>(from.value + (static_cast<double>(to.value) - from.value) * position);
    nextStep += kRampStepFrames;
    return true;
}

}  // namespace varkel::engine
