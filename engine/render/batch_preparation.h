// What a batch settles before its first file renders, whichever front end
// runs it (varkel-host on threads, the Python package on a cluster): the
// --ext and the plug-in with its parameter names checked once, so that a
// mistake there is one error rather than one per file; the inputs found and
// their outputs named; the output folder made, and what killed runs left in
// the output folders removed.
#pragma once

#include <string>
#include <vector>

#include "engine/render/batch_plan.h"
#include "engine/render/render_job.h"

namespace varkel::engine {

struct BatchRequest {
    std::vector<std::string> inputs;  // files and folders
    std::string outputFolder;
    bool recursive = false;
    std::string namePattern;  // empty: the default
    std::string extension;    // empty: each input's own
    bool overwrite = false;
    bool skipExisting = false;
};

struct PreparedBatch {
    std::vector<BatchItem> items;
    // One line each for what gave no item: a folder without sound files.
    std::vector<std::string> problems;
    // The folders the items' outputs go to, each once.
    std::vector<std::string> outputFolders;
};

// render holds everything but each file's input and output. Throws
// UsageError for a wrong --ext, plug-in setting or pattern and EngineError
// for a plug-in that does not open or an output folder that cannot be made.
PreparedBatch prepareBatch(const BatchRequest& request, const RenderJob& render);

}  // namespace varkel::engine
