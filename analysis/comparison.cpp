#include "analysis/comparison.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "analysis/analysis_json.h"

namespace varkel::analysis {

namespace {

using Json = nlohmann::ordered_json;

enum class Kind { Level, Distortion, Phase, GroupDelay, Latency, Waveform, Corner };

struct KeyKind {
    Kind kind;
    const char* label;
    // Null where a measurement can find nothing: a corner, a harmonic past
    // Nyquist, a product below the floor.
    bool mayBeNone = false;
};

// Keys of the same meaning in every measurement.
const std::map<std::string, KeyKind>& keyKinds() {
    static const std::map<std::string, KeyKind> kinds{
        {"magnitude_db", {Kind::Level, "gain"}},
        {"gain_at_1khz_db", {Kind::Level, "gain at 1 kHz"}},
        {"gain_change_db", {Kind::Level, "gain change with level"}},
        {"fundamental_dbfs", {Kind::Level, "fundamental"}},
        {"spectrum_dbfs", {Kind::Level, "spectrum"}},
        {"output_peak_dbfs", {Kind::Level, "output peak"}},
        {"output_rms_dbfs", {Kind::Level, "output RMS"}},
        {"phase_deg", {Kind::Phase, "phase"}},
        {"phase_without_latency_deg", {Kind::Phase, "phase without latency"}},
        {"group_delay_ms", {Kind::GroupDelay, "group delay"}},
        {"latency_frames", {Kind::Latency, "latency"}},
        {"impulse", {Kind::Waveform, "impulse response"}},
        {"step", {Kind::Waveform, "step response"}},
        {"low_minus_3db_hz", {Kind::Corner, "-3 dB point below 1 kHz", true}},
        {"high_minus_3db_hz", {Kind::Corner, "-3 dB point above 1 kHz", true}},
        {"harmonics_2_to_10_db", {Kind::Distortion, "H", true}},
        {"thd_db", {Kind::Distortion, "THD", true}},
        {"thd_n_db", {Kind::Distortion, "THD+N"}},
        {"total_alias_db", {Kind::Distortion, "all aliases"}},
        {"level_db", {Kind::Distortion, "alias"}},
        {"smpte_db", {Kind::Distortion, "SMPTE IMD", true}},
        {"smpte_lower_sidebands_db", {Kind::Distortion, "SMPTE sideband f2-"}},
        {"smpte_upper_sidebands_db", {Kind::Distortion, "SMPTE sideband f2+"}},
        {"ccif_d2_db", {Kind::Distortion, "CCIF d2", true}},
        {"ccif_d3_db", {Kind::Distortion, "CCIF d3", true}},
        {"ccif_d3_low_db", {Kind::Distortion, "CCIF d3 (2f1-f2)", true}},
        {"ccif_d3_high_db", {Kind::Distortion, "CCIF d3 (2f2-f1)", true}},
        {"thd_reaches_1_percent_at_dbfs", {Kind::Level, "THD reaches 1 % at", true}},
    };
    return kinds;
}

// Keys the comparison reads besides the compared ones: the structure and
// what names a difference's place.
bool structuralKey(const std::string& key) {
    for (const char* k : {"outputs", "points", "aliases", "frequencies_hz", "spectrum_bin_hz",
                          "order", "latency_agrees"})
        if (key == k) return true;
    return false;
}

// Problems listed when a reference is malformed; the rest are not looked for.
constexpr std::size_t kMalformedShown = 5;

// Every object, list and number the comparison will read in now has its like
// in ref, lists of the same length.
class ShapeCheck {
public:
    explicit ShapeCheck(std::vector<std::string>& problems) : problems(problems) {}

    void object(const Json& now, const Json& ref, const std::string& path) {
        if (!ref.is_object()) return problem(path, "not an object");
        for (const auto& [key, value] : now.items()) {
            const auto kind = keyKinds().find(key);
            const bool compared = kind != keyKinds().end();
            if (!compared && !structuralKey(key)) continue;
            const std::string at = path + "." + key;
            if (!ref.contains(key))
                problem(at, "missing");
            else
                this->value(value, ref[key], at, compared && kind->second.mayBeNone);
        }
    }

    void value(const Json& now, const Json& ref, const std::string& path, bool mayBeNone) {
        if (problems.size() >= kMalformedShown) return;
        if (now.is_object()) {
            object(now, ref, path);
        } else if (now.is_array()) {
            if (!ref.is_array()) return problem(path, "not a list");
            if (ref.size() != now.size())
                return problem(path, std::to_string(ref.size()) + " values where " +
                                         std::to_string(now.size()) + " were measured");
            for (std::size_t i = 0; i < now.size(); ++i)
                value(now[i], ref[i], path + "[" + std::to_string(i) + "]", mayBeNone);
        } else if (now.is_number()) {
            if (!ref.is_number() && !(mayBeNone && ref.is_null())) problem(path, "not a number");
        } else if (now.is_boolean() && !ref.is_boolean()) {
            problem(path, "not true or false");
        }
    }

private:
    void problem(const std::string& path, const std::string& what) {
        if (problems.size() < kMalformedShown) problems.push_back(path + ": " + what);
    }

    std::vector<std::string>& problems;
};

std::string hzText(double hz) {
    char text[32];
    if (hz >= 1000.0)
        std::snprintf(text, sizeof(text), "%.3g kHz", hz / 1000.0);
    else
        std::snprintf(text, sizeof(text), "%.3g Hz", hz);
    return text;
}

std::string valueText(Kind kind, const Json& value) {
    if (!value.is_number()) return "none";
    const double v = value.get<double>();
    char text[48];
    switch (kind) {
        case Kind::Phase: std::snprintf(text, sizeof(text), "%.1f°", v); break;
        case Kind::GroupDelay: std::snprintf(text, sizeof(text), "%.4f ms", v); break;
        case Kind::Latency:
            std::snprintf(text, sizeof(text), "%.0f frame%s", v, std::fabs(v) == 1.0 ? "" : "s");
            break;
        case Kind::Waveform: std::snprintf(text, sizeof(text), "%.5f", v); break;
        case Kind::Corner: return hzText(v);
        default: std::snprintf(text, sizeof(text), "%+.2f dB", v); break;
    }
    return text;
}

class Walker {
public:
    Walker(const Tolerances& t, Comparison& out) : tolerances(t), out(out) {}

    void device(const Json& now, const Json& ref, const std::string& prefix) {
        for (const auto& [measurement, refValue] : ref.items()) {
            if (!now.contains(measurement) || !refValue.is_object() ||
                measurement == "parameters")
                continue;
            object(now[measurement], refValue, Where{measurement, prefix, ""}, refValue);
        }
    }

private:
    struct Where {
        std::string measurement;
        std::string outputs;  // "A, out 1"
        std::string at;       // "at 1 kHz"
    };

    static std::string out1(std::size_t c) { return "out " + std::to_string(c + 1); }

    void object(const Json& now, const Json& ref, const Where& where, const Json& measurement) {
        for (const auto& [key, refValue] : ref.items()) {
            if (!now.contains(key)) continue;
            const Json& nowValue = now[key];
            if (key == "outputs" && refValue.is_array()) {
                for (std::size_t c = 0; c < refValue.size() && c < nowValue.size(); ++c) {
                    Where w = where;
                    w.outputs += (w.outputs.empty() ? "" : ", ") + out1(c);
                    object(nowValue[c], refValue[c], w, measurement);
                }
            } else if (key == "points" && refValue.is_array()) {
                for (std::size_t i = 0; i < refValue.size() && i < nowValue.size(); ++i)
                    object(nowValue[i], refValue[i], pointWhere(where, refValue[i]), measurement);
            } else if (key == "aliases" && refValue.is_array()) {
                aliases(nowValue, refValue, where);
            } else if (keyKinds().count(key) != 0 && refValue.is_array()) {
                array(key, nowValue, refValue, where, measurement);
            } else if (keyKinds().count(key) != 0) {
                leaf(key, nowValue, refValue, where, 0.0);
            } else if (key == "latency_agrees" && nowValue != refValue) {
                out.differences.push_back(
                    "latency " + std::string(nowValue.get<bool>() ? "agrees" : "disagrees") +
                    " with the reported one" + suffix(where) + ", " +
                    (refValue.get<bool>() ? "agreed" : "disagreed") + " before");
            }
        }
    }

    static Where pointWhere(Where where, const Json& point) {
        for (const char* key : {"frequency_hz", "input_peak_dbfs", "level_dbfs"})
            if (point.contains(key) && point[key].is_number()) {
                const double x = point[key].get<double>();
                char text[32];
                if (std::string(key) == "frequency_hz")
                    where.at = "at " + hzText(x);
                else {
                    std::snprintf(text, sizeof(text), "at %g dBFS", x);
                    where.at = text;
                }
                break;
            }
        return where;
    }

    // Matched by order: the list is sorted by level, which may change.
    void aliases(const Json& now, const Json& ref, const Where& where) {
        for (const Json& r : ref)
            for (const Json& n : now)
                if (n["order"] == r["order"]) {
                    Where w = where;
                    w.at += " (H" + std::to_string(r["order"].get<int>()) + ")";
                    leaf("level_db", n["level_db"], r["level_db"], w, 0.0);
                }
    }

    void array(const std::string& key, const Json& now, const Json& ref, const Where& where,
               const Json& measurement) {
        double peak = 0.0;
        for (const Json& v : ref)
            if (v.is_number()) peak = std::max(peak, std::fabs(v.get<double>()));
        for (std::size_t i = 0; i < ref.size() && i < now.size(); ++i) {
            Where w = where;
            double frequency = 0.0;
            if (key == "harmonics_2_to_10_db") {
                w.at = std::to_string(i + 2);
            } else if (key == "smpte_lower_sidebands_db" || key == "smpte_upper_sidebands_db") {
                w.at = std::to_string(i + 1) + "f1 " + where.at;
            } else if (key == "thd_reaches_1_percent_at_dbfs") {
                w.outputs += (w.outputs.empty() ? "" : ", ") + out1(i);
            } else if (key == "impulse" || key == "step") {
                w.at = "at frame " + std::to_string(i);
            } else if (key == "spectrum_dbfs") {
                frequency = static_cast<double>(i) * measurement["spectrum_bin_hz"].get<double>();
                w.at = "at " + hzText(frequency);
            } else if (measurement.contains("frequencies_hz")) {
                frequency = measurement["frequencies_hz"][i].get<double>();
                w.at = "at " + hzText(frequency);
            }
            leaf(key, now[i], ref[i], w, key == "group_delay_ms" ? frequency : peak);
        }
    }

    static std::string suffix(const Where& where) {
        std::string context = where.outputs.empty() ? where.measurement
                                                    : where.measurement + ", " + where.outputs;
        return " (" + context + ")";
    }

    // extra: the group delay's frequency, or a waveform's peak.
    void leaf(const std::string& key, const Json& now, const Json& ref, const Where& where,
              double extra) {
        const auto& [kind, label, mayBeNone] = keyKinds().at(key);
        (void)mayBeNone;
        ++out.compared;
        if (within(kind, now, ref, extra)) return;
        std::string name = label;
        if (key == "harmonics_2_to_10_db" || (key.starts_with("smpte_") && key != "smpte_db"))
            name += where.at;
        else if (!where.at.empty())
            name += " " + where.at;
        out.differences.push_back(name + suffix(where) + ": " + valueText(kind, now) + ", was " +
                                  valueText(kind, ref));
    }

    bool within(Kind kind, const Json& now, const Json& ref, double extra) const {
        if (!now.is_number() || !ref.is_number()) return now.is_number() == ref.is_number();
        const double a = now.get<double>(), b = ref.get<double>();
        const double difference = std::fabs(a - b);
        switch (kind) {
            case Kind::Level:
            case Kind::Distortion:
                if (a < kComparisonFloorDb && b < kComparisonFloorDb) return true;
                return difference <=
                       (kind == Kind::Level ? tolerances.levelDb : tolerances.distortionDb) + 1e-9;
            case Kind::Phase: return difference <= tolerances.phaseDeg + 1e-9;
            case Kind::GroupDelay:
                return extra <= 0.0 ||
                       difference <= 1000.0 * tolerances.phaseDeg / (360.0 * extra) + 1e-12;
            case Kind::Latency: return difference <= tolerances.latencyFrames;
            case Kind::Waveform:
                return difference <= (std::pow(10.0, tolerances.levelDb / 20.0) - 1.0) * extra +
                                         1e-12;
            case Kind::Corner: return difference <= kCornerTolerance * std::fabs(b);
        }
        return true;
    }

    const Tolerances& tolerances;
    Comparison& out;
};

std::string planValue(const Json& value) {
    if (value.is_array()) {
        std::string text;
        for (const Json& v : value) text += (text.empty() ? "" : ",") + planValue(v);
        return text;
    }
    if (value.is_string()) return value.get<std::string>();
    if (!value.is_number()) return value.dump();
    // A parameter stored as a float shows no digits beyond its precision.
    char text[32];
    std::snprintf(text, sizeof(text), "%.7g", value.get<double>());
    return text;
}

// The reference's own names (its keys, device and parameter names) come
// into the findings: any control character in them is shown escaped, so
// that each finding stays one line.
void keepOneLine(std::vector<std::string>& findings) {
    for (std::string& finding : findings) {
        std::string shown;
        for (const char c : finding) {
            if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
                shown += c;
                continue;
            }
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", static_cast<unsigned char>(c));
            shown += escaped;
        }
        finding = std::move(shown);
    }
}

Comparison oneLineEach(Comparison comparison) {
    for (auto* list : {&comparison.planDifferences, &comparison.malformed,
                       &comparison.settingChanges, &comparison.differences})
        keepOneLine(*list);
    return comparison;
}

Comparison screenUnchecked(const Json& reference, const Json& plan) {
    Comparison result;
    if (!reference.is_object()) {
        result.malformed.push_back("not a JSON object");
        return result;
    }
    if (!reference.contains("schema_version") ||
        reference["schema_version"] != kAnalysisSchemaVersion) {
        result.planDifferences.push_back(
            "the reference's schema version is " +
            (reference.contains("schema_version") ? reference["schema_version"].dump()
                                                  : std::string("missing (an older varkel-host)")) +
            "; this varkel-host writes " + std::to_string(kAnalysisSchemaVersion));
        return result;
    }
    if (!reference.contains("plan") || !reference["plan"].is_object()) {
        result.malformed.push_back("plan: missing");
        return result;
    }
    for (const auto& [key, value] : reference["plan"].items())
        if (!plan.contains(key) || plan[key] != value)
            result.planDifferences.push_back(
                key + ": " + (plan.contains(key) ? planValue(plan[key]) : "none") +
                " here, " + planValue(value) + " in the reference");
    for (const auto& [key, value] : plan.items())
        if (!reference["plan"].contains(key))
            result.planDifferences.push_back(key + ": " + planValue(value) +
                                             " here, none in the reference");
    if (!result.planDifferences.empty()) return result;
    const std::size_t devices = plan["devices"].get<std::size_t>();
    if (!reference.contains("devices") || !reference["devices"].is_array() ||
        reference["devices"].size() != devices) {
        result.malformed.push_back("devices: not a list of " + std::to_string(devices));
        return result;
    }
    for (std::size_t d = 0; d < devices; ++d) {
        const Json& device = reference["devices"][d];
        const std::string at = "devices[" + std::to_string(d) + "]";
        if (!device.is_object() || !device.contains("device") || !device["device"].is_string())
            result.malformed.push_back(at + ": no device name");
        else if (device.contains("parameters") && !device["parameters"].is_object())
            result.malformed.push_back(at + ".parameters: not an object");
    }
    return result;
}

}  // namespace

Comparison screenReference(const Json& reference, const Json& plan) {
    return oneLineEach(screenUnchecked(reference, plan));
}

namespace {

Comparison compareUnchecked(const Json& now, const Json& reference, const Tolerances& tolerances) {
    Comparison result = screenUnchecked(reference, now["plan"]);
    if (!result.planDifferences.empty() || !result.malformed.empty()) return result;
    ShapeCheck shape(result.malformed);
    for (std::size_t d = 0; d < now["devices"].size(); ++d)
        for (const auto& [key, value] : now["devices"][d].items())
            if (value.is_object() && key != "parameters") {
                const std::string at = "devices[" + std::to_string(d) + "]." + key;
                if (!reference["devices"][d].contains(key))
                    result.malformed.push_back(at + ": missing");
                else
                    shape.object(value, reference["devices"][d][key], at);
            }
    if (!result.malformed.empty()) return result;

    const Json& devices = now["devices"];
    const Json& refDevices = reference["devices"];
    Walker walker(tolerances, result);
    for (std::size_t d = 0; d < refDevices.size() && d < devices.size(); ++d) {
        const Json& a = devices[d];
        const Json& b = refDevices[d];
        const std::string prefix = refDevices.size() > 1 ? (d == 0 ? "A, " : "B, ") : "";
        if (a["device"] != b["device"])
            result.settingChanges.push_back(prefix + "measured " + a["device"].get<std::string>() +
                                            ", the reference " + b["device"].get<std::string>());
        if (a.contains("parameters") && b.contains("parameters"))
            for (const auto& [name, value] : b["parameters"].items())
                if (a["parameters"].contains(name) && a["parameters"][name] != value)
                    result.settingChanges.push_back(prefix + name + ": " +
                                                    planValue(a["parameters"][name]) + ", was " +
                                                    planValue(value));
        walker.device(a, b, prefix.empty() ? "" : prefix.substr(0, 1));
    }
    return result;
}

}  // namespace

Comparison compareAnalyses(const Json& now, const Json& reference, const Tolerances& tolerances) {
    return oneLineEach(compareUnchecked(now, reference, tolerances));
}

}  // namespace varkel::analysis
