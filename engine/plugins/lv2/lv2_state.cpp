// An LV2 plug-in's state saved and loaded through lilv: a preset bundle of
// port values and what the state interface keeps, with the files that state
// refers to copied in, so that the bundle stands alone.
#include <lv2/atom/atom.h>
#include <lv2/state/state.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

#include "engine/engine_error.h"
#include "engine/plugins/lv2/lv2_plugin.h"

namespace varkel::engine {

namespace {

namespace fs = std::filesystem;

constexpr const char* kStateFile = "state.ttl";
// The subject of a state handed over as bytes.
constexpr const char* kBytesUri = "urn:varkel:state";

// The state's Turtle file in a bundle folder: the one besides manifest.ttl.
std::string turtleIn(const std::string& folder, const std::string& what) {
    std::vector<std::string> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error))
        if (entry.path().extension() == ".ttl" && entry.path().filename() != "manifest.ttl")
            found.push_back(entry.path().string());
    if (found.size() == 1) return found.front();
    throw EngineError(what + ": " +
                      (found.empty() ? std::string("holds no state (no .ttl besides manifest.ttl)")
                                     : "holds " + std::to_string(found.size()) +
                                           " Turtle files besides manifest.ttl; name one"));
}

// lilv links the files a state refers to from outside its folders; a
// bundle that is to stand alone holds copies.
void copyLinkedFiles(const fs::path& folder) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder, error)) {
        if (!entry.is_symlink(error)) continue;
        const fs::path target = fs::canonical(entry.path(), error);
        if (error) throw EngineError(entry.path().string() + ": refers to a missing file");
        const fs::path copy = entry.path().string() + ".copy";
        fs::copy(target, copy, fs::copy_options::recursive, error);
        if (!error) fs::remove(entry.path(), error);
        if (!error) fs::rename(copy, entry.path(), error);
        if (error)
            throw EngineError(entry.path().string() + ": cannot copy " + target.string() + ": " +
                              error.message());
    }
}

}  // namespace

StateKind Lv2Plugin::stateKind() const {
    Lv2World& lv2 = Lv2World::instance();
    const std::lock_guard guard(lv2.lock());
    return lilv_plugin_has_extension_data(plugin, lv2.node(LV2_STATE__interface))
               ? StateKind::Lv2State
               : StateKind::Parameters;
}

void Lv2Plugin::saveState(const std::string& path) {
    std::error_code error;
    const fs::path bundle = fs::path(path).lexically_normal();
    if (fs::exists(bundle, error) && !fs::exists(bundle / "manifest.ttl", error))
        throw UsageError(path + ": exists and is not a state bundle; an LV2 state is saved as a "
                                "new bundle folder");
    // Made beside it and renamed into place, so that a failure leaves no
    // half bundle and an earlier one stays until the new one is whole.
    const fs::path partial = bundle.string() + ".partial-" + std::to_string(::getpid());
    fs::remove_all(partial, error);
    fs::create_directories(partial, error);
    if (error) throw EngineError(path + ": cannot be made: " + error.message());
    try {
        Lv2World& lv2 = Lv2World::instance();
        {
            const std::lock_guard guard(lv2.lock());
            const std::string dir = fs::absolute(partial).string() + "/";
            LilvState* state = snapshot(dir);
            if (state == nullptr) throw EngineError(pluginName + " gave no state to save");
            lilv_state_set_label(state, bundle.stem().c_str());
            const int failed = lilv_state_save(lv2.world(), lv2.mapFeature(), lv2.unmapFeature(),
                                               state, nullptr, dir.c_str(), kStateFile);
            lilv_state_free(state);
            if (failed != 0) throw EngineError(path + ": lilv could not write the state");
        }
        copyLinkedFiles(partial);
        fs::remove_all(bundle, error);
        fs::rename(partial, bundle, error);
        if (error) throw EngineError(path + ": cannot be written: " + error.message());
    } catch (...) {
        fs::remove_all(partial, error);
        throw;
    }
}

void Lv2Plugin::loadState(const std::string& path) {
    const std::string what = mention(RequestField::State, path);
    std::error_code error;
    if (!fs::exists(path, error)) throw FileNotFound(what + ": no such file or folder");
    const std::string file = fs::is_directory(path, error) ? turtleIn(path, what) : path;
    Lv2World& lv2 = Lv2World::instance();
    LilvState* state = nullptr;
    {
        // lilv's complaints about a file it cannot read are kept off stderr
        // only the first time; after that the file is known to read, and a
        // batch's renders load it on their own threads while others may be
        // telling a failure on stderr, which must not be turned away.
        static std::set<std::string> readBefore;
        const std::string absolute = fs::absolute(file).string();
        const std::lock_guard guard(lv2.lock());
        std::optional<QuietLilv> quiet;
        if (!readBefore.contains(absolute)) quiet.emplace();
        state = lilv_state_new_from_file(lv2.world(), lv2.mapFeature(), nullptr, absolute.c_str());
        if (state != nullptr) readBefore.insert(absolute);
    }
    if (state == nullptr) throw EngineError(what + ": not an LV2 state that lilv can read");
    const LilvNode* owner = lilv_state_get_plugin_uri(state);
    const std::string ownerUri = owner != nullptr ? lilv_node_as_uri(owner) : "";
    if (ownerUri != uri) {
        lilv_state_free(state);
        throw EngineError(what + ": the state of " + (ownerUri.empty() ? "no plug-in" : ownerUri) +
                          ", not of " + pluginName + " (" + uri + ")");
    }
    restoreChecked(state, what, "state " + path);
}

std::string Lv2Plugin::stateBytes() {
    Lv2World& lv2 = Lv2World::instance();
    const std::lock_guard guard(lv2.lock());
    LilvState* state = snapshot("");
    if (state == nullptr) throw EngineError(pluginName + " gave no state");
    std::string text = taken(lilv_state_to_string(lv2.world(), lv2.mapFeature(), lv2.unmapFeature(),
                                                  state, kBytesUri, nullptr));
    lilv_state_free(state);
    return text;
}

void Lv2Plugin::setStateBytes(const std::string& bytes) {
    const std::string what = mention(RequestField::State);
    Lv2World& lv2 = Lv2World::instance();
    LilvState* state = nullptr;
    {
        const std::lock_guard guard(lv2.lock());
        const QuietLilv quiet;
        state = lilv_state_new_from_string(lv2.world(), lv2.mapFeature(), bytes.c_str());
    }
    if (state == nullptr) throw UsageError(what + ": not an LV2 state's Turtle");
    const LilvNode* owner = lilv_state_get_plugin_uri(state);
    if (owner == nullptr || uri != lilv_node_as_uri(owner)) {
        const std::string ownerUri = owner != nullptr ? lilv_node_as_uri(owner) : "no plug-in";
        lilv_state_free(state);
        throw UsageError(what + ": the state of " + ownerUri + ", not of " + pluginName);
    }
    restoreChecked(state, what, "state");
}

}  // namespace varkel::engine
