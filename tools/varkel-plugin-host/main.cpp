// varkel-plugin-host: runs one plug-in for a host that isolates it (see
// engine/plugins/isolated/isolated_plugin.h). Started only by the engine:
//   varkel-plugin-host --parent PID --rate HZ --block N --mode offline|realtime
//                      --verbose 0|1 -- PLUGIN
// with the shared region as fd 3.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/plugins/isolated/plugin_server.h"

namespace {

constexpr int kSharedFd = 3;

int usage() {
    std::fputs("varkel-plugin-host runs a plug-in for varkel-host --isolate and the varkel Python "
               "package; it is not run by hand\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace varkel::engine;
    isolated::ServedPlugin served;
    pid_t parent = 0;
    bool named = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--" && i + 1 == argc - 1) {
            served.name = argv[i + 1];
            named = true;
            break;
        }
        if (i + 1 >= argc) return usage();
        const std::string value = argv[++i];
        if (word == "--parent")
            parent = static_cast<pid_t>(std::atol(value.c_str()));
        else if (word == "--rate")
            served.sampleRate = std::strtod(value.c_str(), nullptr);
        else if (word == "--block")
            served.blockFrames = std::atoi(value.c_str());
        else if (word == "--mode")
            served.mode = value == "realtime" ? ProcessMode::Realtime : ProcessMode::Offline;
        else if (word == "--verbose")
            served.verbose = value == "1";
        else
            return usage();
    }
    if (!named || parent <= 0 || served.blockFrames < 1) return usage();
    return isolated::servePlugin(kSharedFd, parent, served);
}
