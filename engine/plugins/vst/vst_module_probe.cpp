#include "engine/plugins/vst/vst_module_probe.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>

#include "host/plugin_instance.h"
#include "host/plugin_module.h"

namespace varkel::engine {

namespace {

using Clock = std::chrono::steady_clock;

// Long enough between looks at a child that has ended while something it
// started still holds its pipe open.
constexpr std::chrono::milliseconds kLongestPoll{100};

void writeAll(int fd, const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        written += static_cast<std::size_t>(n);
    }
}

// The host library's messages name the module, which the entry shows
// already: "PATH: why" and "PATH why" become "why", "cannot load PATH: why"
// becomes "cannot load: why".
std::string withoutPath(std::string message, const std::string& path) {
    for (std::size_t at; !path.empty() && (at = message.find(path)) != std::string::npos;) {
        const std::size_t after = at + path.size();
        if (at == 0 || (at >= 2 && message.compare(at - 2, 2, ": ") == 0)) {
            const std::size_t separator = message.compare(after, 2, ": ") == 0  ? 2
                                          : message.compare(after, 1, " ") == 0 ? 1
                                                                                : 0;
            message.erase(at, path.size() + separator);
        } else if (message[at - 1] == ' ') {
            message.erase(at - 1, path.size() + 1);
        } else {
            break;  // part of a longer name
        }
    }
    return message;
}

// The child: loads the module, creates and opens the effect, and sends
// "V<unique ID>\n<inputs>\n<outputs>\n<instrument: 0 or 1>\n<name>" or
// "E<why not>". It ends
// without closing anything: closing is more of the module's code that can
// fail, and the process is gone a moment later anyway.
[[noreturn]] void probeInChild(const std::string& path, int answerFd, pid_t lister) {
    // An abandoned child must not outlive the lister.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != lister) ::_exit(1);
    // Plug-ins chatter on the terminal; the listing is the lister's.
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0)
        for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) ::dup2(null, fd);
    std::string error;
    if (const auto module = host::PluginModule::load(path, error)) {
        if (const auto instance = host::PluginInstance::create(*module, error)) {
            instance->open();
            const AEffect& record = *instance->effect();
            writeAll(answerFd, fmt::format("V{}\n{}\n{}\n{}\n{}", record.uniqueID,
                                           record.numInputs, record.numOutputs,
                                           instance->isInstrument() ? 1 : 0,
                                           instance->effectName()));
            ::_exit(0);
        }
    }
    writeAll(answerFd, 'E' + withoutPath(error, path));
    ::_exit(0);
}

struct Probe {
    std::size_t index = 0;
    pid_t pid = -1;
    int fd = -1;
    Clock::time_point deadline;
    std::string answer;
};

CatalogEntry entryFor(const std::string& path) {
    CatalogEntry entry;
    entry.format = CatalogEntry::Format::Vst2;
    entry.path = path;
    entry.name = std::filesystem::path(path).stem().string();
    return entry;
}

std::optional<Probe> start(const std::string& path, std::size_t index,
                           std::chrono::milliseconds timeout, std::string& error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = fmt::format("cannot make a pipe: {}", std::strerror(errno));
        return std::nullopt;
    }
    const pid_t lister = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        probeInChild(path, fds[1], lister);
    }
    ::close(fds[1]);
    if (pid < 0) {
        error = fmt::format("cannot start a process: {}", std::strerror(errno));
        ::close(fds[0]);
        return std::nullopt;
    }
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    return Probe{index, pid, fds[0], Clock::now() + timeout, {}};
}

// Reads what has arrived; true once the child closed its end.
bool readAvailable(Probe& probe) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(probe.fd, buffer, sizeof buffer);
        if (n > 0) {
            probe.answer.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n == 0 || errno != EAGAIN;
    }
}

void fillFromAnswer(CatalogEntry& entry, const std::string& answer) {
    if (answer.starts_with("E")) {
        entry.failure = answer.size() > 1 ? answer.substr(1) : "cannot be loaded";
        return;
    }
    std::istringstream fields(answer.substr(1));
    std::string name;
    int instrument = 0;
    if (!(fields >> entry.uniqueId >> entry.inputs >> entry.outputs >> instrument) ||
        fields.get() != '\n') {
        entry.failure = "ended while loading without an answer";
        return;
    }
    std::getline(fields, name, '\0');
    if (!name.empty()) entry.name = name;
    entry.instrument = instrument != 0;
}

// The entry for a child that closed its pipe, ended (status already
// reaped) or ran out of time.
CatalogEntry finish(Probe& probe, const std::string& path, const int* reapedStatus, bool timedOut,
                    std::chrono::milliseconds timeout) {
    ::close(probe.fd);
    if (timedOut) ::kill(probe.pid, SIGKILL);
    int status = reapedStatus != nullptr ? *reapedStatus : 0;
    if (reapedStatus == nullptr)
        while (::waitpid(probe.pid, &status, 0) < 0 && errno == EINTR) {
        }
    CatalogEntry entry = entryFor(path);
    if (timedOut)
        entry.failure = fmt::format("timed out after {:g} s", timeout.count() / 1000.0);
    else if (WIFSIGNALED(status))
        entry.failure = fmt::format("crashed (signal {})", WTERMSIG(status));
    else if (probe.answer.starts_with("V") || probe.answer.starts_with("E"))
        fillFromAnswer(entry, probe.answer);
    else if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        entry.failure = fmt::format("exited with status {} while loading", WEXITSTATUS(status));
    else
        entry.failure = "ended while loading without an answer";
    return entry;
}

}  // namespace

std::vector<CatalogEntry> probeVstModules(const std::vector<std::string>& paths,
                                          std::chrono::milliseconds timeout, int parallel) {
    std::vector<CatalogEntry> entries(paths.size());
    std::vector<Probe> running;
    const std::size_t most = static_cast<std::size_t>(std::max(parallel, 1));
    std::size_t next = 0;
    while (next < paths.size() || !running.empty()) {
        while (running.size() < most && next < paths.size()) {
            std::string error;
            if (auto probe = start(paths[next], next, timeout, error)) {
                running.push_back(*probe);
            } else {
                entries[next] = entryFor(paths[next]);
                entries[next].failure = error;
            }
            ++next;
        }
        if (running.empty()) continue;

        std::vector<pollfd> watched;
        Clock::time_point wake = Clock::now() + kLongestPoll;
        for (const Probe& probe : running) {
            watched.push_back({probe.fd, POLLIN, 0});
            wake = std::min(wake, probe.deadline);
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
        ::poll(watched.data(), watched.size(), static_cast<int>(std::max<long>(wait.count(), 0)));

        const Clock::time_point now = Clock::now();
        for (std::size_t i = running.size(); i-- > 0;) {
            Probe& probe = running[i];
            const bool closed = readAvailable(probe);
            // A child that ended while something it started keeps the pipe open.
            int status = 0;
            const bool reaped = !closed && ::waitpid(probe.pid, &status, WNOHANG) == probe.pid;
            if (reaped) readAvailable(probe);
            const bool timedOut = !closed && !reaped && now >= probe.deadline;
            if (closed || reaped || timedOut) {
                entries[probe.index] = finish(probe, paths[probe.index], reaped ? &status : nullptr,
                                              timedOut, timeout);
                running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }
    return entries;
}

}  // namespace varkel::engine
