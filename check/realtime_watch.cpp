#include "check/realtime_watch.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#if defined(__x86_64__) && defined(__linux__)
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>

#if !defined(VARKEL_BUILD_TREE_WATCH)
#define VARKEL_BUILD_TREE_WATCH ""
#endif

namespace varkel::check {

std::string WatchCounts::describe() const {
    std::string text = std::to_string(allocations) + " allocations, " + std::to_string(releases) +
                       " releases, " + std::to_string(locks) + " locks, " +
                       std::to_string(systemCalls) + " system calls";
    if (!callNames.empty()) {
        text += " (";
        for (std::size_t i = 0; i < callNames.size(); ++i)
            text += (i == 0 ? "" : ", ") + callNames[i];
        text += ")";
    }
    return text;
}

std::string watchLibraryPath() {
#if defined(VARKEL_CHECK_NO_WATCH_LIBRARY)
    return {};
#endif
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        for (const fs::path& candidate :
             {executable.parent_path() / kWatchLibraryName,
              executable.parent_path().parent_path() / "lib" / "varkel" / kWatchLibraryName})
            if (fs::is_regular_file(candidate, error)) return candidate.string();
    }
    const std::string built = VARKEL_BUILD_TREE_WATCH;
    if (!built.empty() && fs::is_regular_file(built, error)) return built;
    return {};
}

#if defined(__x86_64__) && defined(__linux__)

// Every system call this thread makes once trapped comes back through here:
// the filter lets through only calls made from the instruction after this
// syscall, so the signal handler can make the trapped call for the caller.
extern "C" long varkel_check_syscall(long number, long a, long b, long c, long d, long e, long f);
extern "C" char varkel_check_syscall_return[];
asm(R"(
    .text
    .globl varkel_check_syscall
    .type varkel_check_syscall, @function
varkel_check_syscall:
    movq %rdi, %rax
    movq %rsi, %rdi
    movq %rdx, %rsi
    movq %rcx, %rdx
    movq %r8, %r10
    movq %r9, %r8
    movq 8(%rsp), %r9
    syscall
    .globl varkel_check_syscall_return
varkel_check_syscall_return:
    ret
    .size varkel_check_syscall, .-varkel_check_syscall
)");

namespace {

thread_local bool insideProcess = false;
std::atomic<long> trappedCalls{0};
constexpr std::size_t kNamesKept = 8;
std::array<std::atomic<long>, kNamesKept> trappedNumbers{};

void noteCall(long number) {
    trappedCalls.fetch_add(1, std::memory_order_relaxed);
    for (auto& slot : trappedNumbers) {
        long expected = -1;
        if (slot.load() == number) return;
        if (slot.compare_exchange_strong(expected, number)) return;
    }
}

void onTrappedCall(int, siginfo_t* info, void* context) {
    auto* registers = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
    const int saved = errno;
    if (insideProcess) noteCall(info->si_syscall);
    registers[REG_RAX] = varkel_check_syscall(
        info->si_syscall, registers[REG_RDI], registers[REG_RSI], registers[REG_RDX],
        registers[REG_R10], registers[REG_R8], registers[REG_R9]);
    errno = saved;
}

std::string callName(long number) {
    switch (number) {
        case SYS_read: return "read";
        case SYS_write: return "write";
        case SYS_openat: return "openat";
        case SYS_close: return "close";
        case SYS_mmap: return "mmap";
        case SYS_munmap: return "munmap";
        case SYS_brk: return "brk";
        case SYS_futex: return "futex";
        case SYS_nanosleep: return "nanosleep";
        case SYS_clock_nanosleep: return "clock_nanosleep";
        case SYS_sched_yield: return "sched_yield";
        case SYS_ioctl: return "ioctl";
        case SYS_madvise: return "madvise";
        case SYS_mprotect: return "mprotect";
        case SYS_getpid: return "getpid";
        case SYS_getppid: return "getppid";
        case SYS_gettid: return "gettid";
        case SYS_clock_gettime: return "clock_gettime";
        default: return "system call " + std::to_string(number);
    }
}

// Calls let through wherever they come from: those that must not run
// inside a signal handler (returning from one, changing the signal mask the
// handler restores, making threads or processes), and the exits.
constexpr std::array<std::uint32_t, 9> kAlwaysAllowed{
    SYS_rt_sigreturn, SYS_rt_sigprocmask, SYS_clone, SYS_clone3, SYS_fork,
    SYS_vfork,        SYS_execve,         SYS_exit,  SYS_exit_group};

[[maybe_unused]] bool installTrap(std::string& refusal) {
    struct sigaction action {};
    action.sa_sigaction = onTrappedCall;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGSYS, &action, nullptr) != 0) {
        refusal = "SIGSYS cannot be handled";
        return false;
    }
    const auto at = reinterpret_cast<std::uint64_t>(varkel_check_syscall_return);
    std::vector<sock_filter> program{
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
    for (std::uint32_t number : kAlwaysAllowed) {
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, number, 0, 1));
        program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    }
    const auto low = static_cast<std::uint32_t>(at), high = static_cast<std::uint32_t>(at >> 32);
    const std::vector<sock_filter> fromTrampoline{
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, instruction_pointer)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, low, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, instruction_pointer) + 4),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, high, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP)};
    program.insert(program.end(), fromTrampoline.begin(), fromTrampoline.end());
    sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) != 0) {
        refusal = std::string("seccomp refused: ") + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

#endif

RealtimeWatch::RealtimeWatch() {
    libraryEnter = reinterpret_cast<void (*)()>(dlsym(RTLD_DEFAULT, "varkel_watch_enter"));
    libraryLeave = reinterpret_cast<void (*)()>(dlsym(RTLD_DEFAULT, "varkel_watch_leave"));
    libraryCounts =
        reinterpret_cast<void (*)(long*, long*, long*)>(dlsym(RTLD_DEFAULT, "varkel_watch_counts"));
    if (libraryEnter == nullptr || libraryLeave == nullptr || libraryCounts == nullptr)
        libraryEnter = nullptr;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers' runtimes make system calls of their own inside any
    // call they watch, and from the trap's handler too: trapped, the check
    // would hang rather than count.
    trapRefusal = "system calls are not trapped in a sanitizer build";
#elif defined(__x86_64__) && defined(__linux__)
    for (auto& slot : trappedNumbers) slot = -1;
    trapping = installTrap(trapRefusal);
#else
    trapRefusal = "system calls are trapped on x86-64 Linux only";
#endif
}

std::vector<std::string> RealtimeWatch::missing() const {
    std::vector<std::string> what;
    if (libraryEnter == nullptr)
        what.push_back(std::string("allocations and locks (") + kWatchLibraryName +
                       " is not preloaded)");
    if (!trapping) what.push_back("system calls (" + trapRefusal + ")");
    return what;
}

void RealtimeWatch::enter() {
    if (libraryEnter != nullptr) libraryEnter();
#if defined(__x86_64__) && defined(__linux__)
    insideProcess = true;
#endif
}

void RealtimeWatch::leave() {
#if defined(__x86_64__) && defined(__linux__)
    insideProcess = false;
#endif
    if (libraryEnter != nullptr) libraryLeave();
}

WatchCounts RealtimeWatch::take() {
    WatchCounts counts;
    if (libraryEnter != nullptr) libraryCounts(&counts.allocations, &counts.releases, &counts.locks);
#if defined(__x86_64__) && defined(__linux__)
    counts.systemCalls = trappedCalls.exchange(0);
    for (auto& slot : trappedNumbers) {
        const long number = slot.exchange(-1);
        if (number >= 0) counts.callNames.push_back(callName(number));
    }
#endif
    return counts;
}

}  // namespace varkel::check
