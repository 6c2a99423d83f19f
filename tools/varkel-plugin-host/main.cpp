// varkel-plugin-host: runs one plug-in for a host that isolates it (see
// engine/plugins/isolated/isolated_plugin.h). Started only by the engine,
// with the shared region as fd 3.
#include "engine/plugins/isolated/plugin_server.h"

int main(int argc, char** argv) { return varkel::engine::isolated::runPluginHost(argc, argv); }
