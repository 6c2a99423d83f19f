// The one lilv world of the process: the LV2 plug-ins found on LV2_PATH (or
// lilv's default path) and in bundles named directly, the URID map every
// instance shares, and the lock that lilv, which is not thread-safe, is used
// under.
#pragma once

#include <lilv/lilv.h>
#include <lv2/urid/urid.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace varkel::engine {

// Whether plug-ins' log messages, and lilv's own about the bundles it reads,
// go to stderr (off: they are dropped).
void setPluginLogging(bool on);
bool pluginLogging();

// stderr sent to /dev/null for its life, unless plug-in logging is on: lilv
// prints its complaints about broken bundles and binaries there and offers
// no way to take them. Made under lock(), so that two never overlap.
class QuietLilv {
public:
    QuietLilv();
    ~QuietLilv();
    QuietLilv(const QuietLilv&) = delete;
    QuietLilv& operator=(const QuietLilv&) = delete;

private:
    void restore();
    int saved = -1;
};

class Lv2World {
public:
    // Created and loaded on first use.
    static Lv2World& instance();

    // Held around every use of world() and of lilv objects got from it.
    std::mutex& lock() { return mutex; }
    LilvWorld* world() { return lilvWorld; }
    // A node for uri, kept for the world's life.
    const LilvNode* node(const std::string& uri);

    // The plug-in by URI, or one in a bundle folder (which must hold just
    // one). Throws EngineError naming what was asked for. Call under lock().
    const LilvPlugin* find(const std::string& uriOrBundle);
    // Every plug-in found. Call under lock().
    const LilvPlugins* plugins() { return lilv_world_get_all_plugins(lilvWorld); }

    LV2_URID map(const char* uri);
    const char* unmap(LV2_URID urid);
    LV2_URID_Map* mapFeature() { return &mapData; }
    LV2_URID_Unmap* unmapFeature() { return &unmapData; }

    Lv2World(const Lv2World&) = delete;
    Lv2World& operator=(const Lv2World&) = delete;

private:
    Lv2World();
    ~Lv2World();

    std::mutex mutex;
    LilvWorld* lilvWorld;
    std::map<std::string, LilvNode*> nodes;

    std::mutex mapMutex;  // plug-ins may map from any thread
    std::map<std::string, LV2_URID> ids;
    std::vector<std::string> uris;  // urid - 1 -> uri
    LV2_URID_Map mapData{};
    LV2_URID_Unmap unmapData{};
};

// A lilv string that the caller frees, as a std::string ("" for null).
std::string taken(char* text);

// Whether name asks for an LV2 plug-in: a bundle folder, or a URI that is
// not a file here.
bool namesLv2Plugin(const std::string& name);

}  // namespace varkel::engine
