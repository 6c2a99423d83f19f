#include "analysis/analysis_json.h"

#include "analysis/level_dependence.h"

namespace varkel::analysis {

namespace {

using Json = nlohmann::ordered_json;

Json optionalNumber(const std::optional<double>& value) {
    return value ? Json(*value) : Json(nullptr);
}

Json toneJson(const ToneAnalysis& tone) {
    Json harmonics = Json::array();
    for (const auto& h : tone.harmonicsDb) harmonics.push_back(optionalNumber(h));
    return Json{{"fundamental_dbfs", tone.fundamentalDbfs}, {"harmonics_2_to_10_db", harmonics},
                {"thd_percent", 100.0 * tone.thd},          {"thd_db", ratioDb(tone.thd)},
                {"thd_n_percent", 100.0 * tone.thdN},       {"thd_n_db", ratioDb(tone.thdN)}};
}

Json responseJson(const ResponseResult& r) {
    Json channels = Json::array();
    for (const ChannelResponse& c : r.channels)
        channels.push_back(Json{{"gain_at_1khz_db", c.referenceGainDb},
                                {"low_minus_3db_hz", optionalNumber(c.lowCornerHz)},
                                {"high_minus_3db_hz", optionalNumber(c.highCornerHz)},
                                {"magnitude_db", c.magnitudeDb},
                                {"phase_deg", c.phaseDeg},
                                {"latency_frames", c.latencyFrames},
                                {"phase_without_latency_deg", c.phaseWithoutLatencyDeg},
                                {"gain_change_db", c.gainChangeDb}});
    Json dependence = nullptr;
    if (const auto d = levelDependence(r))
        dependence = Json{{"output", d->channel + 1},
                          {"frequency_hz", d->frequency},
                          {"gain_change_db", d->changeDb},
                          {"text", describeLevelDependence(*d, r)}};
    return Json{{"level_dbfs", r.levelDbfs},
                {"quieter_level_dbfs", r.levelDbfs - kQuieterByDb},
                {"level_dependence", dependence},
                {"frequencies_hz", r.frequencies},
                {"outputs", channels}};
}

Json harmonicsJson(const HarmonicsResult& h) {
    Json channels = Json::array();
    for (std::size_t c = 0; c < h.channels.size(); ++c) {
        Json tone = toneJson(h.channels[c]);
        tone["spectrum_dbfs"] = h.spectra[c].levelDbfs;
        channels.push_back(std::move(tone));
    }
    return Json{{"frequency_hz", h.frequency},
                {"level_dbfs", h.levelDbfs},
                {"fft_length", h.fftLength},
                {"window", "Blackman-Harris, 4 terms"},
                {"spectrum_bin_hz", h.spectra.empty() ? 0.0 : h.spectra.front().binHz},
                {"outputs", channels}};
}

Json levelsJson(const LevelSweep& sweep) {
    Json points = Json::array();
    for (const LevelPoint& p : sweep.points) {
        Json outputs = Json::array();
        for (std::size_t c = 0; c < p.tones.size(); ++c) {
            Json tone = toneJson(p.tones[c]);
            tone["output_peak_dbfs"] = p.outputPeakDbfs[c];
            tone["output_rms_dbfs"] = p.outputRmsDbfs[c];
            outputs.push_back(std::move(tone));
        }
        points.push_back(Json{{"input_peak_dbfs", p.inputDbfs},
                              {"input_rms_dbfs", p.inputRmsDbfs},
                              {"outputs", outputs}});
    }
    return Json{{"frequency_hz", sweep.frequency}, {"points", points}};
}

Json frequenciesJson(const FrequencySweep& sweep) {
    Json points = Json::array();
    Json thdUpTo = nullptr;
    for (const FrequencyPoint& p : sweep.points) {
        Json outputs = Json::array();
        for (const ToneAnalysis& tone : p.tones) {
            Json json = toneJson(tone);
            if (!thdCountsTheThirdHarmonic(tone)) json["thd_percent"] = json["thd_db"] = nullptr;
            outputs.push_back(std::move(json));
        }
        if (thdCountsTheThirdHarmonic(p.tones.front())) thdUpTo = p.frequency;
        points.push_back(Json{{"frequency_hz", p.frequency}, {"outputs", outputs}});
    }
    // Above it the third harmonic lies beyond Nyquist and THD is null.
    return Json{{"level_dbfs", sweep.levelDbfs}, {"thd_up_to_hz", thdUpTo}, {"points", points}};
}

Json impulseJson(const ImpulseResult& r) {
    Json channels = Json::array();
    for (const ImpulseChannel& c : r.channels) {
        std::vector<double> delayMs;
        for (double s : c.groupDelaySeconds) delayMs.push_back(1000.0 * s);
        channels.push_back(Json{{"latency_frames", c.latencyFrames},
                                {"group_delay_ms", delayMs},
                                {"impulse", c.impulse},
                                {"step", c.step}});
    }
    return Json{{"level_dbfs", r.levelDbfs},
                {"sweep_from_hz", r.fromHz},
                {"sweep_to_hz", r.toHz},
                {"sweep_seconds", r.sweepSeconds},
                {"fft_length", r.fftLength},
                {"reported_latency_frames", r.reportedLatencyFrames},
                {"latency_agrees", r.latencyAgrees()},
                {"frequencies_hz", r.frequencies},
                {"outputs", channels}};
}

Json aliasingJson(const AliasingResult& r) {
    Json points = Json::array();
    for (const AliasingPoint& p : r.points) {
        Json outputs = Json::array();
        for (const AliasingChannel& c : p.channels) {
            Json aliases = Json::array();
            for (const Alias& a : c.aliases)
                aliases.push_back(
                    Json{{"order", a.order}, {"lands_hz", a.landsHz}, {"level_db", a.levelDb}});
            outputs.push_back(Json{{"fundamental_dbfs", c.fundamentalDbfs},
                                   {"total_alias_db", c.totalDb},
                                   {"aliases", aliases}});
        }
        points.push_back(Json{{"frequency_hz", p.frequency}, {"outputs", outputs}});
    }
    return Json{{"level_dbfs", r.levelDbfs},
                {"oversample", r.oversample},
                {"highest_order", r.highestOrder},
                {"fft_length", r.fftLength},
                {"points", points}};
}

Json pairJson(const std::optional<TonePair>& pair) {
    if (!pair) return nullptr;
    return Json{{"f1_hz", pair->f1}, {"f2_hz", pair->f2}, {"ratio", pair->ratio}};
}

// A product's level, with whether it lies below the floor.
void putProduct(Json& into, const char* key, const std::optional<double>& db) {
    into[key] = optionalNumber(db);
    if (db) into[std::string(key) + "_below_floor"] = *db < kImdFloorDb;
}

Json imdJson(const ImdResult& r) {
    Json points = Json::array();
    for (const ImdPoint& p : r.points) {
        Json outputs = Json::array();
        for (const ImdChannel& c : p.channels) {
            Json out = Json::object();
            putProduct(out, "smpte_db", c.smpteDb);
            if (!c.smpteLowerDb.empty()) {
                out["smpte_lower_sidebands_db"] = c.smpteLowerDb;
                out["smpte_upper_sidebands_db"] = c.smpteUpperDb;
            }
            putProduct(out, "ccif_d2_db", c.d2Db);
            putProduct(out, "ccif_d3_db", c.d3Db);
            putProduct(out, "ccif_d3_low_db", c.d3LowDb);
            putProduct(out, "ccif_d3_high_db", c.d3HighDb);
            outputs.push_back(std::move(out));
        }
        points.push_back(Json{{"level_dbfs", p.levelDbfs}, {"outputs", outputs}});
    }
    return Json{{"fft_length", r.fftLength},
                {"floor_db", kImdFloorDb},
                {"smpte", pairJson(r.smpte)},
                {"ccif", pairJson(r.ccif)},
                {"points", points}};
}

}  // namespace

Json analysisPlanJson(const AnalysisPlan& plan, std::size_t devices) {
    Json what = Json::array();
    for (Measurement m : plan.what) what.push_back(measurementName(m));
    return Json{{"sample_rate_hz", plan.rate},
                {"measurements", what},
                {"devices", devices},
                {"level_dbfs", plan.responseLevelDbfs},
                {"tone_hz", plan.toneHz},
                {"tone_level_dbfs", plan.toneLevelDbfs},
                {"sweep_from_dbfs", plan.sweepFromDbfs},
                {"sweep_to_dbfs", plan.sweepToDbfs},
                {"sweep_step_db", plan.sweepStepDb},
                {"oversample", plan.oversample}};
}

nlohmann::ordered_json analysisJson(const std::vector<Analysis>& analyses,
                                    const AnalysisPlan& plan) {
    Json what = Json::array();
    for (Measurement m : plan.what) what.push_back(measurementName(m));
    Json devices = Json::array();
    for (const Analysis& a : analyses) {
        Json parameters = Json::object();
        for (const auto& [name, value] : a.parameters) parameters[name] = value;
        Json device{{"device", a.device},
                    {"identity", a.identity},
                    {"parameters", parameters},
                    {"outputs", a.outputs}};
        if (a.response) device["response"] = responseJson(*a.response);
        if (a.harmonics) device["harmonics"] = harmonicsJson(*a.harmonics);
        if (a.levels) {
            device["level_sweep"] = levelsJson(*a.levels);
            Json thresholds = Json::array();
            for (int c = 0; c < a.outputs; ++c)
                thresholds.push_back(optionalNumber(levelWhereThdReaches(*a.levels, c, 0.01)));
            device["level_sweep"]["thd_reaches_1_percent_at_dbfs"] = thresholds;
        }
        if (a.frequencies) device["frequency_sweep"] = frequenciesJson(*a.frequencies);
        if (a.impulse) device["impulse"] = impulseJson(*a.impulse);
        if (a.aliasing) device["aliasing"] = aliasingJson(*a.aliasing);
        if (a.oversampledAliasing)
            device["oversampled_aliasing"] = aliasingJson(*a.oversampledAliasing);
        if (a.imd) device["imd"] = imdJson(*a.imd);
        devices.push_back(std::move(device));
    }
    return Json{{"schema_version", kAnalysisSchemaVersion},
                {"sample_rate_hz", plan.rate},
                {"measurements", what},
                {"plan", analysisPlanJson(plan, analyses.size())},
                {"devices", devices}};
}

}  // namespace varkel::analysis
