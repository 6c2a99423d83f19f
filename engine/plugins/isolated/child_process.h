// The program that runs an isolated plug-in, as a child process: where it is,
// starting it (fork and exec in one, never a bare fork of a threaded process),
// seeing whether it has ended, and ending it.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace varkel::engine::isolated {

// varkel-plugin-host: beside the running program, in <prefix>/lib/varkel
// for an installed host, beside the library this engine is linked into (the
// Python extension), else the one in the build tree. Throws EngineError.
std::string pluginHostProgram();

class ChildProcess {
public:
    // Starts program with arguments, handing it sharedFd as fd 3; the rest
    // of the parent's descriptors it does not get. Throws EngineError.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments, int sharedFd);
    // Kills and reaps it if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return id; }
    // Its wait status once it has ended (reaping it), else none.
    std::optional<int> ended();
    // Kills and reaps it; its status.
    int kill();

private:
    pid_t id = -1;
    std::optional<int> status;
};

// "crashed with signal 11 (Segmentation fault)", "exited with status 3".
std::string describeEnd(int status);

}  // namespace varkel::engine::isolated
