#include "analysis/analysis_csv.h"

#include <cmath>
#include <cstdio>
#include <functional>

namespace varkel::analysis {

namespace {

using Values = std::vector<double>;

struct Column {
    std::string name;
    std::function<Values(const Analysis&, std::size_t channel)> values;
};

// An empty cell for a number that does not exist (NaN).
std::string cell(double value) {
    if (value != value) return "";
    char text[32];
    std::snprintf(text, sizeof(text), "%.10g", value);
    return text;
}

CsvFile table(const std::string& name, const std::string& xName, const Values& x,
              const std::vector<Analysis>& analyses, const std::vector<Column>& columns) {
    std::string text = xName;
    std::vector<Values> data;
    for (std::size_t d = 0; d < analyses.size(); ++d)
        for (std::size_t c = 0; c < static_cast<std::size_t>(analyses[d].outputs); ++c)
            for (const Column& column : columns) {
                char prefix[32];
                std::snprintf(prefix, sizeof(prefix), ",%sout%zu_",
                              analyses.size() > 1 ? (d == 0 ? "A_" : "B_") : "", c + 1);
                text.append(prefix).append(column.name);
                data.push_back(column.values(analyses[d], c));
            }
    text += "\n";
    for (std::size_t i = 0; i < x.size(); ++i) {
        text.append(cell(x[i]));
        for (const Values& values : data)
            text.append(",").append(i < values.size() ? cell(values[i]) : std::string());
        text.append("\n");
    }
    return {name + ".csv", text};
}

template <typename Points, typename Get>
Values over(const Points& points, Get get) {
    Values values;
    for (const auto& p : points) values.push_back(get(p));
    return values;
}

double orNan(const std::optional<double>& value) { return value ? *value : NAN; }

std::vector<Column> aliasingColumns(std::optional<AliasingResult> Analysis::*result,
                                    const std::string& prefix) {
    auto strongest = [result](const Analysis& a, std::size_t c, int what) {
        return over((a.*result)->points, [&](const AliasingPoint& p) -> double {
            const auto& aliases = p.channels[c].aliases;
            if (aliases.empty()) return std::nan("");
            const Alias& s = aliases.front();
            return what == 0 ? static_cast<double>(s.order) : what == 1 ? s.landsHz : s.levelDb;
        });
    };
    return {{prefix + "total_alias_db",
             [result](const Analysis& a, std::size_t c) {
                 return over((a.*result)->points,
                             [&](const AliasingPoint& p) { return p.channels[c].totalDb; });
             }},
            {prefix + "strongest_order",
             [strongest](const Analysis& a, std::size_t c) { return strongest(a, c, 0); }},
            {prefix + "strongest_lands_hz",
             [strongest](const Analysis& a, std::size_t c) { return strongest(a, c, 1); }},
            {prefix + "strongest_db",
             [strongest](const Analysis& a, std::size_t c) { return strongest(a, c, 2); }}};
}

}  // namespace

std::vector<std::string> csvFileNames() {
    return {"response.csv", "spectrum.csv",    "level-sweep.csv", "distortion-vs-frequency.csv",
            "impulse.csv",  "group-delay.csv", "aliasing.csv",    "imd.csv"};
}

std::vector<CsvFile> analysisCsv(const std::vector<Analysis>& analyses, const AnalysisPlan& plan) {
    std::vector<CsvFile> files;
    const Analysis& first = analyses.front();
    if (first.response)
        files.push_back(table(
            "response", "frequency_hz", first.response->frequencies, analyses,
            {{"gain_db", [](const Analysis& a, std::size_t c) {
                  return a.response->channels[c].magnitudeDb;
              }},
             {"phase_deg",
              [](const Analysis& a, std::size_t c) { return a.response->channels[c].phaseDeg; }},
             {"phase_without_latency_deg",
              [](const Analysis& a, std::size_t c) {
                  return a.response->channels[c].phaseWithoutLatencyDeg;
              }},
             {"gain_change_db", [](const Analysis& a, std::size_t c) {
                  return a.response->channels[c].gainChangeDb;
              }}}));
    if (first.harmonics) {
        const Spectrum& s = first.harmonics->spectra.front();
        Values bins;
        for (std::size_t k = 0; k < s.levelDbfs.size(); ++k)
            bins.push_back(static_cast<double>(k) * s.binHz);
        files.push_back(table("spectrum", "frequency_hz", bins, analyses,
                              {{"level_dbfs", [](const Analysis& a, std::size_t c) {
                                    return a.harmonics->spectra[c].levelDbfs;
                                }}}));
    }
    if (first.levels) {
        const auto tone = [](double ToneAnalysis::*m) {
            return [m](const Analysis& a, std::size_t c) {
                return over(a.levels->points,
                            [&](const LevelPoint& p) { return ratioDb(p.tones[c].*m); });
            };
        };
        files.push_back(table(
            "level-sweep", "input_peak_dbfs",
            over(first.levels->points, [](const LevelPoint& p) { return p.inputDbfs; }), analyses,
            {{"thd_db", tone(&ToneAnalysis::thd)},
             {"thd_n_db", tone(&ToneAnalysis::thdN)},
             {"output_peak_dbfs",
              [](const Analysis& a, std::size_t c) {
                  return over(a.levels->points,
                              [&](const LevelPoint& p) { return p.outputPeakDbfs[c]; });
              }},
             {"output_rms_dbfs", [](const Analysis& a, std::size_t c) {
                  return over(a.levels->points,
                              [&](const LevelPoint& p) { return p.outputRmsDbfs[c]; });
              }}}));
    }
    if (first.frequencies)
        files.push_back(table(
            "distortion-vs-frequency", "frequency_hz",
            over(first.frequencies->points, [](const FrequencyPoint& p) { return p.frequency; }),
            analyses,
            {{"thd_db",
              [](const Analysis& a, std::size_t c) {
                  return over(a.frequencies->points, [&](const FrequencyPoint& p) {
                      return thdCountsTheThirdHarmonic(p.tones[c]) ? ratioDb(p.tones[c].thd) : NAN;
                  });
              }},
             {"thd_n_db", [](const Analysis& a, std::size_t c) {
                  return over(a.frequencies->points,
                              [&](const FrequencyPoint& p) { return ratioDb(p.tones[c].thdN); });
              }}}));
    if (first.impulse) {
        Values frames;
        for (std::size_t n = 0; n < first.impulse->frames; ++n)
            frames.push_back(static_cast<double>(n));
        files.push_back(table(
            "impulse", "frame", frames, analyses,
            {{"impulse",
              [](const Analysis& a, std::size_t c) { return a.impulse->channels[c].impulse; }},
             {"step", [](const Analysis& a, std::size_t c) { return a.impulse->channels[c].step; }}}));
        files.push_back(table("group-delay", "frequency_hz", first.impulse->frequencies, analyses,
                              {{"group_delay_ms", [](const Analysis& a, std::size_t c) {
                                    Values ms;
                                    for (double s : a.impulse->channels[c].groupDelaySeconds)
                                        ms.push_back(1000.0 * s);
                                    return ms;
                                }}}));
    }
    if (first.aliasing) {
        std::vector<Column> columns = aliasingColumns(&Analysis::aliasing, "");
        if (first.oversampledAliasing) {
            char prefix[24];
            std::snprintf(prefix, sizeof(prefix), "x%d_", plan.oversample);
            for (Column& c : aliasingColumns(&Analysis::oversampledAliasing, prefix))
                columns.push_back(std::move(c));
        }
        files.push_back(table(
            "aliasing", "tone_hz",
            over(first.aliasing->points, [](const AliasingPoint& p) { return p.frequency; }),
            analyses, columns));
    }
    if (first.imd) {
        const auto product = [](std::optional<double> ImdChannel::*m) {
            return [m](const Analysis& a, std::size_t c) {
                return over(a.imd->points,
                            [&](const ImdPoint& p) { return orNan(p.channels[c].*m); });
            };
        };
        files.push_back(table(
            "imd", "input_peak_dbfs",
            over(first.imd->points, [](const ImdPoint& p) { return p.levelDbfs; }), analyses,
            {{"smpte_db", product(&ImdChannel::smpteDb)},
             {"ccif_d2_db", product(&ImdChannel::d2Db)},
             {"ccif_d3_db", product(&ImdChannel::d3Db)},
             {"ccif_d3_low_db", product(&ImdChannel::d3LowDb)},
             {"ccif_d3_high_db", product(&ImdChannel::d3HighDb)}}));
    }
    return files;
}

}  // namespace varkel::analysis
