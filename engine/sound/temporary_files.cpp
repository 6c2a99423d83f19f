#include "engine/sound/temporary_files.h"

#include <fmt/format.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <functional>
#include <system_error>

namespace varkel::engine {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPrefix = ".vk-";

// Eight hex digits standing for this machine's name.
std::string machineTag() {
    char name[256] = {};
    ::gethostname(name, sizeof(name) - 1);
    return fmt::format("{:08x}", static_cast<std::uint32_t>(std::hash<std::string>{}(name)));
}

bool processGone(long pid) { return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

}  // namespace

std::string temporaryPattern(const std::string& folder) {
    return (fs::path(folder) / fmt::format("{}{}-{}-XXXXXX", kPrefix, machineTag(), ::getpid()))
        .string();
}

int removeStaleTemporaries(const std::string& folder) {
    const std::string tag = kPrefix + machineTag() + "-";
    int removed = 0;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(tag) || it->is_symlink(error)) continue;
        long pid = 0;
        const char* first = name.data() + tag.size();
        const auto [stop, parsed] = std::from_chars(first, name.data() + name.size(), pid);
        if (parsed != std::errc() || stop == first || *stop != '-' || pid <= 0) continue;
        if (processGone(pid) && fs::remove_all(it->path(), error) > 0) ++removed;
    }
    return removed;
}

}  // namespace varkel::engine
