// A render's summary and a batch's totals in words: the lines varkel-host
// prints and the Python package and the cluster give back, the same bytes
// from every face.
#pragma once

#include <cstddef>
#include <string>

#include "engine/render/render_job.h"

namespace varkel::engine {

// "<file>: <frames> frames, <s> s, <x>x realtime, peak <dB> dBFS, RMS <dB> dBFS;
// <format>", then ", dithered", "; <mapping>", the latency, the tail, the
// resampling, the loudness scaling and the loudness measured where they apply.
std::string summaryLine(const RenderSummary& summary);
// Empty when the input was whole and every sample fitted the output format.
std::string summaryWarning(const RenderSummary& summary);

// "33 files: 20 rendered, 13 skipped (their outputs exist), 0 failed, 0:25", the
// skipped part only when some were, and ", N not rendered (interrupted)" before
// the time when some were not.
std::string batchTotalsLine(std::size_t files, std::size_t rendered, std::size_t skipped,
                            std::size_t failed, std::size_t notRendered, double seconds);

// "m:ss", rounded to the second.
std::string clockText(double seconds);

// "-6.02 dBFS"; "-inf dBFS" for silence.
std::string dbfs(double level);

}  // namespace varkel::engine
