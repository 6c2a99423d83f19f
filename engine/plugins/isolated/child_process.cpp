#include "engine/plugins/isolated/child_process.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "engine/engine_error.h"
#include "engine/plugins/worker_thread.h"

#if !defined(VARKEL_BUILD_TREE_PLUGIN_HOST)
#define VARKEL_BUILD_TREE_PLUGIN_HOST ""
#endif

extern char** environ;

namespace varkel::engine::isolated {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgramName = "varkel-plugin-host";

// The child asks to be killed when the thread that started it ends
// (PR_SET_PDEATHSIG follows the thread, not the process), so every child is
// started from one thread that lasts as long as the process: a plug-in opened
// on a thread that ends before it (a Python one) keeps its child.
void onLastingThread(const std::function<void()>& work) {
    static std::mutex serial;
    // Never destroyed: a process forked from this one has the object but not
    // its thread, and makes its own.
    static WorkerThread* lasting = nullptr;
    static pid_t owner = 0;
    const std::lock_guard<std::mutex> lock(serial);
    if (lasting == nullptr || owner != ::getpid()) {
        lasting = new WorkerThread;
        owner = ::getpid();
    }
    lasting->run(work);
}

}  // namespace

std::string pluginHostProgram() {
    std::vector<fs::path> candidates;
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        candidates.push_back(executable.parent_path() / kProgramName);
        candidates.push_back(executable.parent_path().parent_path() / "lib" / "varkel" / kProgramName);
    }
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&pluginHostProgram), &info) != 0 && info.dli_fname != nullptr)
        candidates.push_back(fs::path(info.dli_fname).parent_path() / kProgramName);
    const std::string built = VARKEL_BUILD_TREE_PLUGIN_HOST;
    if (!built.empty()) candidates.emplace_back(built);
    std::string looked;
    for (const fs::path& candidate : candidates) {
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
        looked += (looked.empty() ? "" : ", ") + candidate.string();
    }
    throw EngineError(std::string("no ") + kProgramName +
                      " found to run the plug-in isolated (looked at " + looked + ")");
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           int sharedFd) {
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    // Above 3, so that dup2 onto 3 makes a copy without close-on-exec.
    const int handed = ::fcntl(sharedFd, F_DUPFD_CLOEXEC, 10);
    if (handed < 0) throw EngineError(std::string("cannot start ") + program + ": " + std::strerror(errno));
    int result = 0;
    onLastingThread([&] {
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_adddup2(&actions, handed, 3);
        // Its own process group: the terminal's Ctrl-C is the parent's to
        // handle, which then ends the child.
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setpgroup(&attributes, 0);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
        result = ::posix_spawn(&id, program.c_str(), &actions, &attributes, argv.data(), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    });
    ::close(handed);
    if (result != 0)
        throw EngineError("cannot start " + program + ": " + std::strerror(result));
}

ChildProcess::~ChildProcess() {
    if (!status) kill();
}

std::optional<int> ChildProcess::ended() {
    if (status) return status;
    int wait = 0;
    pid_t got;
    while ((got = ::waitpid(id, &wait, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (got == id) status = wait;
    // Reaped by someone else (SIGCHLD ignored does it): gone, how unknown.
    if (got < 0 && errno == ECHILD) status = -1;
    return status;
}

int ChildProcess::kill() {
    if (status) return *status;
    ::kill(id, SIGKILL);
    int wait = 0;
    while (::waitpid(id, &wait, 0) < 0 && errno == EINTR) {
    }
    status = wait;
    return wait;
}

std::string describeEnd(int status) {
    if (status == -1) return "ended";
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        const char* name = ::strsignal(signal);
        return "crashed with signal " + std::to_string(signal) +
               (name != nullptr ? " (" + std::string(name) + ")" : std::string());
    }
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
    return "ended";
}

}  // namespace varkel::engine::isolated
