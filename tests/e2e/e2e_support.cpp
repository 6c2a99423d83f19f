#include "tests/e2e/e2e_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "host/fresh_thread.h"
#include "host/plugin_instance.h"
#include "host/plugin_module.h"

namespace e2e {

namespace fs = std::filesystem;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

std::string temporaryFile() {
    char name[] = "/tmp/varkel-e2e-out-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    ::close(fd);
    return name;
}

// The environment with the given variables replaced or added.
std::vector<std::string> environmentWith(const std::vector<std::string>& changes) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        const std::string name = variable.substr(0, variable.find('=') + 1);
        if (std::none_of(changes.begin(), changes.end(),
                         [&](const std::string& c) { return c.starts_with(name); }))
            result.push_back(variable);
    }
    result.insert(result.end(), changes.begin(), changes.end());
    return result;
}

RunResult run(std::vector<std::string> argvStrings, const std::vector<std::string>& environment,
              int signal, const std::function<bool()>& ready, int repeatAfterMs = -1) {
    const std::string outPath = temporaryFile();
    const std::string errPath = temporaryFile();
    std::vector<char*> argv;
    for (std::string& arg : argvStrings) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings = environmentWith(environment);
    std::vector<char*> envp;
    for (std::string& variable : envStrings) envp.push_back(variable.data());
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_TRUNC);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_TRUNC);
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::dup2(in, STDIN_FILENO);
        ::execvpe(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (signal != 0) {
        for (int waited = 0; waited < 10000 && !ready(); ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::kill(pid, signal);
    }
    int status = 0;
    rusage usage{};
    // A program that ignores the signal must not hang the test.
    for (int waited = 0; signal != 0 && ::wait4(pid, &status, WNOHANG, &usage) == 0; ++waited) {
        if (waited == repeatAfterMs) ::kill(pid, signal);
        if (waited == 30000) ::kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (signal == 0) ::wait4(pid, &status, 0, &usage);

    RunResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    result.maxResidentKb = usage.ru_maxrss;
    ::unlink(outPath.c_str());
    ::unlink(errPath.c_str());
    return result;
}

}  // namespace

RunResult runHost(const std::vector<std::string>& args) { return runHost(args, 0, nullptr); }

RunResult runHost(const std::vector<std::string>& args, int signal,
                  const std::function<bool()>& ready, int repeatAfterMs) {
    std::vector<std::string> argv{VARKEL_HOST_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, {}, signal, ready, repeatAfterMs);
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& environment) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, environment, 0, nullptr);
}

ScratchDir::ScratchDir() {
    char name[] = "/tmp/varkel-e2e-XXXXXX";
    if (::mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp failed");
    root = name;
}

ScratchDir::~ScratchDir() {
    std::error_code error;
    fs::remove_all(root, error);
}

void expectRefusal(const RunResult& run, const std::string& message, int status) {
    EXPECT_EQ(run.status, status);
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.out, "");
}

std::size_t ScratchDir::entryCount() const {
    std::error_code error;
    std::size_t count = 0;
    for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error))
        ++count;
    return count;
}

std::map<std::string, std::string> ScratchDir::snapshot() const {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(entry.path(), root).string();
        entries[name] = entry.is_regular_file() ? readFile(entry.path().string()) : "<folder>";
    }
    return entries;
}

void writeSound(const std::string& path, int format, int channels, int sampleRate,
                std::int64_t frames, const SampleFunction& sample) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = sampleRate;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
    std::vector<float> block;
    for (std::int64_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) block.push_back(sample(f, c));
        if (f % 4096 == 4095 || f + 1 == frames) {
            sf_writef_float(file, block.data(), static_cast<sf_count_t>(block.size()) / channels);
            block.clear();
        }
    }
    sf_close(file);
}

Sound readSound(const std::string& path) {
    Sound sound;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sound.info);
    if (file == nullptr)
        throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    sound.samples.resize(static_cast<std::size_t>(sound.info.frames * sound.info.channels));
    sf_readf_float(file, sound.samples.data(), sound.info.frames);
    sf_close(file);
    return sound;
}

std::string fileBytes(const std::string& path) { return readFile(path); }

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

float testSignal(std::int64_t frame, int channel) {
    const double t = static_cast<double>(frame) / 44100.0;
    std::uint32_t x = static_cast<std::uint32_t>(frame * 2 + channel) * 2654435761u;
    x ^= x >> 15;
    const double noise = static_cast<double>(x & 0xFFFF) / 32768.0 - 1.0;
    return static_cast<float>(
        0.45 * std::sin(2.0 * std::numbers::pi * (220.0 + 110.0 * channel) * t) + 0.2 * noise);
}

std::vector<float> directRender(const Sound& input,
                                const std::vector<std::pair<int, float>>& parameters) {
    const auto frames = static_cast<std::size_t>(input.info.frames);
    std::vector<float> result;
    varkel::host::onFreshThread([&] {
        std::string error;
        auto module = varkel::host::PluginModule::load(VARKEL_MODULE_PATH, error);
        auto effect = module ? varkel::host::PluginInstance::create(*module, error) : nullptr;
        if (!effect) throw std::runtime_error(error);
        effect->start(static_cast<float>(input.info.samplerate), static_cast<VstInt32>(frames));
        for (const auto& [index, value] : parameters) effect->setParameter(index, value);
        std::vector<float> in[2] = {std::vector<float>(frames), std::vector<float>(frames)};
        std::vector<float> out[2] = {std::vector<float>(frames), std::vector<float>(frames)};
        for (std::size_t f = 0; f < frames; ++f)
            for (int c = 0; c < 2; ++c)
                in[c][f] = input.at(static_cast<std::int64_t>(f), input.info.channels == 1 ? 0 : c);
        float* inputs[2] = {in[0].data(), in[1].data()};
        float* outputs[2] = {out[0].data(), out[1].data()};
        effect->process(inputs, outputs, static_cast<VstInt32>(frames));
        effect->suspend();
        effect->close();
        for (std::size_t f = 0; f < frames; ++f) {
            result.push_back(out[0][f]);
            result.push_back(out[1][f]);
        }
    });
    return result;
}

}  // namespace e2e
