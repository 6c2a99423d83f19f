#include "engine/render/batch_preparation.h"

#include <sndfile.h>

#include <filesystem>
#include <set>
#include <system_error>

#include "engine/engine_error.h"
#include "engine/midi/midi_file.h"
#include "engine/sound/output_format.h"
#include "engine/plugins/plugin_loader.h"
#include "engine/sound/temporary_files.h"

namespace varkel::engine {

namespace fs = std::filesystem;

namespace {

// An extension no container here has fails every file alike: say so once.
void checkExtension(const std::string& extension) {
    if (extension.empty()) return;
    try {
        chooseOutputFormat("x." + (extension.starts_with(".") ? extension.substr(1) : extension),
                           SF_FORMAT_WAV | SF_FORMAT_FLOAT, SampleFormat::SameAsInput, 2, 48000);
    } catch (const EngineError& error) {
        const std::string why = error.what();
        throw UsageError(mention(RequestField::Extension, extension) + why.substr(why.find(':')),
                         "varkel-host render --help");
    }
}

// The plug-in's name for {plugin}, from an instance set up as every file's will be.
std::string probePlugin(const RenderJob& render) {
    checkRenderJob(render);
    const auto probe = openPlugin(render.plugin, 44100.0, render.blockFrames, ProcessMode::Offline,
                                  render.isolation);
    applyState(*probe, render.state, render.preset, render.settings);
    for (const AutomationLane& lane : render.automation) automatedParameter(*probe, lane);
    return fileNameWord(probe->name());
}

}  // namespace

PreparedBatch prepareBatch(const BatchRequest& request, const RenderJob& render) {
    checkExtension(request.extension);
    BatchNaming naming;
    naming.outputFolder = request.outputFolder;
    if (!request.namePattern.empty()) naming.pattern = request.namePattern;
    naming.extension = request.extension;
    naming.overwrite = request.overwrite;
    naming.skipExisting = request.skipExisting;
    naming.settings = settingsWord(render.settings);
    naming.plugin = probePlugin(render);

    PreparedBatch batch;
    const std::vector<BatchInput> inputs =
        expandInputs(request.inputs, request.recursive, batch.problems, request.outputFolder);
    batch.items = planBatch(inputs, naming);
    // Every MIDI file would fail alike without a rate: say so once, before any.
    if (!render.sampleRate)
        for (const BatchItem& item : batch.items)
            if (isMidiFileName(item.input))
                throw RequestError(RequestField::SampleRate, "",
                                   item.input + " and any other MIDI file have no rate of their "
                                   "own; give the rate to render at");
    std::error_code error;
    fs::create_directories(request.outputFolder, error);
    if (!fs::is_directory(request.outputFolder))
        throw EngineError("cannot create the output folder " + request.outputFolder + " (" +
                          (error ? error.message() : std::string("a file is in the way")) + ")");
    std::set<std::string> folders;
    for (const BatchItem& item : batch.items)
        folders.insert(fs::path(item.output).parent_path().string());
    batch.outputFolders.assign(folders.begin(), folders.end());
    // What an earlier run that was killed left behind.
    for (const std::string& folder : batch.outputFolders) removeStaleTemporaries(folder);
    return batch;
}

}  // namespace varkel::engine
