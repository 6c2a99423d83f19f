// Sound files opened from several threads at once, as a batch does: each
// failure must name its own file's problem, not a text another thread's open
// left behind.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/sound/sound_file.h"

namespace {

namespace fs = std::filesystem;

void writeGoodWav(const std::string& path) {
    SF_INFO info{};
    info.channels = 1;
    info.samplerate = 44100;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    const short samples[64] = {};
    sf_write_short(file, samples, 64);
    sf_close(file);
}

TEST(SoundFileOpen, ParallelOpensEachReportTheirOwnError) {
    const fs::path folder = fs::temp_directory_path() / ("varkel-open-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string good = (folder / "good.wav").string(), bad = (folder / "bad.wav").string();
    writeGoodWav(good);
    // A RIFF header with no data chunk: libsndfile names what is missing.
    std::FILE* out = std::fopen(bad.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite("RIFF\x24\0\0\0WAVEjunk\x10\0\0\0abcdefghijklmnop", 1, 32, out);
    std::fclose(out);

    std::vector<std::string> messages[2];
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                try {
                    varkel::engine::SoundFileReader reader(bad);
                } catch (const std::exception& e) {
                    messages[t].push_back(e.what());
                }
                varkel::engine::SoundFileReader reader(good);
            }
        });
    for (std::thread& thread : threads) thread.join();
    fs::remove_all(folder);

    for (const auto& perThread : messages) {
        ASSERT_EQ(perThread.size(), 300u);
        for (const std::string& message : perThread)
            ASSERT_EQ(message.find("No Error"), std::string::npos) << message;
    }
}

}  // namespace
