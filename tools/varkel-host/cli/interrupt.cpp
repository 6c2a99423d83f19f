#include "tools/varkel-host/cli/interrupt.h"

#include <semaphore.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "engine/engine_error.h"
#include "engine/sound/temporary_files.h"

namespace varkel::tool {

namespace {

// Lock-free, so the handler may set them, and atomic, because worker threads
// read them.
std::atomic<int> interruptSignal{0};
std::atomic<int> signalsArrived{0};
static_assert(std::atomic<int>::is_always_lock_free);
// Posted by the handler (sem_post may be called there) and by the guard's
// end, to wake the watchdog.
sem_t wake;
std::atomic<bool> guardEnded{false};

extern "C" void requestInterrupt(int signal) {
    interruptSignal.store(signal);
    signalsArrived.fetch_add(1);
    ::sem_post(&wake);
}

// Waits for the semaphore until deadline (none: for ever); false on timeout.
bool waitForWake(const timespec* deadline) {
    for (;;) {
        const int result = deadline ? ::sem_timedwait(&wake, deadline) : ::sem_wait(&wake);
        if (result == 0) return true;
        if (errno == ETIMEDOUT) return false;
    }
}

// The start of this process's temporaries' names in folder.
std::string ownTemporaryPrefix(const std::string& folder) {
    const std::string pattern = engine::temporaryPattern(folder);
    return std::filesystem::path(pattern.substr(0, pattern.size() - 6)).filename().string();
}

void removeOwnTemporaries(const std::vector<std::pair<std::string, std::string>>& folders) {
    namespace fs = std::filesystem;
    for (const auto& [folder, prefix] : folders) {
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error))
            if (it->path().filename().string().starts_with(prefix)) {
                std::error_code ignored;
                fs::remove_all(it->path(), ignored);
            }
    }
}

// Sleeps until a signal arrives, then gives the work kForcedExitSeconds to
// return unless a second signal comes first.
void watch(std::vector<std::pair<std::string, std::string>> folders) {
    if (!waitForWake(nullptr) || guardEnded.load()) return;
    timespec deadline{};
    ::clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += kForcedExitSeconds;
    while (signalsArrived.load() < 2)
        if (!waitForWake(&deadline) || guardEnded.load()) break;
    if (guardEnded.load()) return;
    removeOwnTemporaries(folders);
    static constexpr char kMessage[] =
        "varkel-host: the plug-in did not stop; its unfinished files were removed\n";
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, kMessage, sizeof(kMessage) - 1);
    ::_exit(128 + interruptSignal.load());
}

}  // namespace

InterruptGuard::InterruptGuard(const std::vector<std::string>& folders) {
    std::vector<std::pair<std::string, std::string>> prefixes;
    for (const std::string& folder : folders) {
        const std::string where = folder.empty() ? "." : folder;
        prefixes.emplace_back(where, ownTemporaryPrefix(where));
    }
    ::sem_init(&wake, 0, 0);
    guardEnded.store(false);
    watchdog = std::thread(watch, std::move(prefixes));
    struct sigaction action {};
    action.sa_handler = requestInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &savedInterrupt);
    sigaction(SIGTERM, &action, &savedTerminate);
    sigaction(SIGHUP, &action, &savedHangUp);
}

InterruptGuard::~InterruptGuard() {
    sigaction(SIGINT, &savedInterrupt, nullptr);
    sigaction(SIGTERM, &savedTerminate, nullptr);
    sigaction(SIGHUP, &savedHangUp, nullptr);
    guardEnded.store(true);
    ::sem_post(&wake);
    watchdog.join();
    ::sem_destroy(&wake);
}

bool interruptRequested() { return interruptSignal.load() != 0; }

int interruptedStatus() {
    const int signal = interruptSignal.load();
    return signal != 0 ? 128 + signal : engine::kExitInterrupted;
}

void throwIfInterrupted() {
    if (interruptRequested()) throw engine::EngineError("interrupted; nothing written", engine::kExitInterrupted);
}

}  // namespace varkel::tool
