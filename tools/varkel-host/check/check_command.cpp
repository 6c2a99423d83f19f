#include "tools/varkel-host/check/check_command.h"

#include <fmt/format.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include <CLI/CLI.hpp>
#include <chrono>
#include <fstream>
#include <stdexcept>

#include "check/check_report.h"
#include "check/check_runner.h"
#include "check/realtime_watch.h"
#include "engine/plugins/plugin_loader.h"
#include "tools/varkel-host/cli/options.h"

namespace varkel::tool {

namespace {

class CheckCommand : public Command {
public:
    std::string name() const override { return "check"; }
    std::string summary() const override {
        return "Tests VST 2.4 and LV2 plug-ins, each test in a child process";
    }
    void declare(CLI::App& command) override {
        command.add_option("PLUGIN", plugins,
                           "VST 2.4 modules, LV2 plug-in URIs or bundles (default: Varkel)")
            ->expected(0, 100000)  // bounded: the hidden catch-all is the unbounded one
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        command.add_option("--test", patterns, "Runs the tests named (repeatable; * and ? match)")
            ->type_name("NAME")
            ->allow_extra_args(false)  // one name each time: the plug-ins after it stay theirs
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        command.add_flag("--list-tests", listTests, "Lists the tests and exits");
        command.add_flag("--json", json, "Reports as JSON");
        command.add_option("--junit", junit, "Writes a JUnit XML report to FILE too")
            ->type_name("FILE")
            ->check(notEmpty());
        command.add_flag("--only-failed", onlyFailed, "Lists only the tests that failed");
        command.add_flag("--strict", strict, "Adds the slow tests");
        command.add_flag("--in-process", inProcess,
                         "Runs the tests in this process, for a debugger");
        command.add_option("--timeout", timeoutSeconds, "Seconds each test may take (default 30)")
            ->type_name("SECONDS")
            ->check(numberAboveZeroUpTo(86400.0));
    }

    int run() override {
        if (listTests) {
            for (const check::TestInfo& test : check::checkTests())
                fmt::print("{:<22}{}{}\n", test.name, test.summary, test.slow ? " (--strict)" : "");
            return kExitSuccess;
        }
        // A test's child, in a process group of its own, would outlive a
        // parent killed or interrupted; it goes with it instead.
        if (inProcess) prctl(PR_SET_PDEATHSIG, SIGKILL);
        std::vector<std::string> tests;
        try {
            tests = check::chooseTests(patterns, strict);
        } catch (const std::invalid_argument& unmatched) {
            throw UsageError(fmt::format("check: --test {} names no test",
                                         unmatched.what()),
                             "varkel-host check --list-tests");
        }
        if (plugins.empty()) plugins.push_back(engine::defaultPluginPath());
        // A plug-in that prints on stdout must not spoil the report a parent
        // reads there: it prints on stderr instead while the tests run.
        std::FILE* out = stdout;
        if (inProcess && json) {
            std::fflush(stdout);
            const int report = dup(STDOUT_FILENO);
            if (report < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0 ||
                (out = fdopen(report, "w")) == nullptr)
                throw EngineError("check: cannot set standard output aside");
        }
        std::vector<check::PluginReport> reports;
        for (const std::string& plugin : plugins)
            reports.push_back({plugin, check::runTests(tests, [&](const std::string& test) {
                                   return runOne(test, plugin);
                               })});
        fmt::print(out, "{}", json ? check::reportJson(reports, onlyFailed)
                                   : check::reportText(reports, onlyFailed));
        if (out != stdout && std::fclose(out) != 0)
            throw EngineError("check: cannot write the report");
        if (!junit.empty()) {
            std::ofstream file(junit, std::ios::binary);
            file << check::reportJunit(reports);
            if (!file.flush()) throw EngineError("--junit: cannot write " + junit);
        }
        // The child a parent runs reports its outcome in JSON whatever it is.
        if (inProcess && json) return kExitSuccess;
        for (const auto& report : reports)
            if (report.failed()) return kExitFailure;
        return kExitSuccess;
    }

private:
    check::Outcome runOne(const std::string& test, const std::string& plugin) const {
        if (inProcess) return check::runTest(test, plugin, {});
        check::ChildCommand child;
        // This very binary, even when a rebuild has replaced its file since.
        child.arguments = {"/proc/self/exe", "check", "--in-process", "--json", "--test", test, "--", plugin};
        const std::string watch = check::watchLibraryPath();
        if (test == "realtime-safety" && !watch.empty()) child.environment.push_back("LD_PRELOAD=" + watch);
        return check::runChild(test, child,
                               std::chrono::milliseconds(std::llround(timeoutSeconds * 1000.0)));
    }

    std::vector<std::string> plugins;
    std::vector<std::string> patterns;
    bool listTests = false;
    bool json = false;
    std::string junit;
    bool onlyFailed = false;
    bool strict = false;
    bool inProcess = false;
    double timeoutSeconds = 30.0;
};

}  // namespace

std::unique_ptr<Command> makeCheckCommand() { return std::make_unique<CheckCommand>(); }

}  // namespace varkel::tool
