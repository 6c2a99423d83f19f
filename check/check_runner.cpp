#include "check/check_runner.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>

#include "check/check_report.h"

extern char** environ;

namespace varkel::check {

namespace {

// The environment with additions, a later NAME replacing an earlier one;
// LD_PRELOAD is appended to, so that a sanitizer's runtime stays first.
std::vector<std::string> childEnvironment(const std::vector<std::string>& additions) {
    std::vector<std::string> result;
    for (char** e = environ; *e != nullptr; ++e) result.emplace_back(*e);
    for (const std::string& add : additions) {
        const std::string name = add.substr(0, add.find('=') + 1);
        auto same = std::find_if(result.begin(), result.end(),
                                 [&](const std::string& e) { return e.starts_with(name); });
        if (same == result.end()) {
            result.push_back(add);
        } else if (name == "LD_PRELOAD=" && same->size() > name.size()) {
            same->append(":").append(add, name.size());
        } else {
            *same = add;
        }
    }
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> list;
    for (std::string& s : strings) list.push_back(s.data());
    list.push_back(nullptr);
    return list;
}

std::string lastLines(const std::string& text, std::size_t count) {
    std::string trimmed = text;
    while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r')) trimmed.pop_back();
    if (trimmed.empty()) return trimmed;
    std::size_t at = trimmed.size();
    for (std::size_t n = 0; n < count && at != std::string::npos && at > 0; ++n)
        at = trimmed.rfind('\n', at - 1);
    std::string tail = at == std::string::npos ? trimmed : trimmed.substr(at + 1);
    std::replace(tail.begin(), tail.end(), '\n', ' ');
    return tail.size() > 300 ? tail.substr(tail.size() - 300) : tail;
}

Outcome failed(const std::string& test, std::string detail, const std::string& err) {
    Outcome outcome{test, Status::Fail, std::move(detail), 0.0};
    const std::string tail = lastLines(err, 3);
    if (!tail.empty()) outcome.detail += " (stderr: " + tail + ")";
    return outcome;
}

}  // namespace

Outcome runChild(const std::string& test, const ChildCommand& command,
                 std::chrono::milliseconds deadline) {
    const auto start = std::chrono::steady_clock::now();
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return failed(test, "cannot make a pipe", "");
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return failed(test, "cannot make a pipe", "");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // Its own process group, so that a plug-in's own children die with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<std::string> arguments = command.arguments;
    std::vector<std::string> environment = childEnvironment(command.environment);
    pid_t child = -1;
    const int spawned = posix_spawn(&child, arguments.front().c_str(), &actions, &attributes,
                                    pointers(arguments).data(), pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out[1]);
    close(err[1]);
    if (spawned != 0) {
        close(out[0]);
        close(err[0]);
        return failed(test, std::string("cannot start the test: ") + std::strerror(spawned), "");
    }

    std::string stdoutText, stderrText;
    bool late = false;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        const auto left = deadline - std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start);
        if (left.count() <= 0) {
            late = true;
            kill(-child, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 1000))) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            char buffer[4096];
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                (i == 0 ? stdoutText : stderrText).append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& fd : fds)
        if (fd.fd >= 0) close(fd.fd);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // Whatever the plug-in left running in the group goes too.
    kill(-child, SIGKILL);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    Outcome outcome;
    if (late) {
        outcome = failed(test, "passed the deadline of " + std::to_string(deadline.count() / 1000) +
                                   " s and was killed", stderrText);
    } else if (WIFSIGNALED(status)) {
        outcome = failed(test, std::string("died by signal ") + std::to_string(WTERMSIG(status)) +
                                   " (" + strsignal(WTERMSIG(status)) + ")", stderrText);
    } else {
        try {
            outcome = outcomeFromJson(stdoutText, test);
        } catch (const std::exception& error) {
            outcome = failed(test, "exited with status " + std::to_string(WEXITSTATUS(status)) +
                                       " without a report (" + error.what() + ")", stderrText);
        }
    }
    outcome.seconds = seconds;
    return outcome;
}

std::vector<Outcome> runTests(const std::vector<std::string>& tests,
                              const std::function<Outcome(const std::string&)>& run) {
    std::vector<Outcome> outcomes;
    std::map<std::string, Status> statuses;
    for (const std::string& test : tests) {
        const TestInfo* info = findTest(test);
        const auto needed = info == nullptr ? statuses.end() : statuses.find(info->needs);
        if (needed != statuses.end() && (needed->second == Status::Fail || needed->second == Status::Skip)) {
            outcomes.push_back({test, Status::Skip, info->needs + " did not pass", 0.0});
        } else {
            outcomes.push_back(run(test));
        }
        statuses[test] = outcomes.back().status;
    }
    return outcomes;
}

std::vector<std::string> chooseTests(const std::vector<std::string>& patterns, bool strict) {
    std::vector<std::string> chosen;
    for (const std::string& pattern : patterns) {
        bool matched = false;
        for (const TestInfo& info : checkTests())
            if (fnmatch(pattern.c_str(), info.name.c_str(), 0) == 0) matched = true;
        if (!matched) throw std::invalid_argument(pattern);
    }
    for (const TestInfo& info : checkTests()) {
        const bool named = std::any_of(patterns.begin(), patterns.end(), [&](const std::string& p) {
            return fnmatch(p.c_str(), info.name.c_str(), 0) == 0;
        });
        const bool outright = std::find(patterns.begin(), patterns.end(), info.name) != patterns.end();
        if (patterns.empty() ? (strict || !info.slow) : (named && (strict || !info.slow || outright)))
            chosen.push_back(info.name);
    }
    return chosen;
}

}  // namespace varkel::check
