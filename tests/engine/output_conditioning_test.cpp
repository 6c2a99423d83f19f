// The one-pass conversion to an integer output against the sample-by-sample
// path it stands for: rounding with the library's nearbyint, then
// libsndfile's own clipping conversion. Both write a file of each integer
// format; the files must match byte for byte, at every step of the small
// formats and their clipping edges, at halves, where floats and doubles stop
// having fractions, and at non-finite values.
#include "engine/sound/output_conditioning.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/sound/sound_file.h"

namespace varkel::engine {
namespace {

namespace fs = std::filesystem;

template <typename Sample>
std::vector<Sample> testSamples(double step) {
    using Limits = std::numeric_limits<Sample>;
    std::vector<Sample> samples = {Sample(0), Sample(-0.0), Limits::quiet_NaN(),
                                   Limits::infinity(), -Limits::infinity(), Limits::max(),
                                   Limits::lowest(), Limits::denorm_min(), -Limits::min()};
    const double top = 1.0 / step;
    // Every step and half step of an 8- or 16-bit output and a little
    // beyond; around the edges and zero of a 24-bit one.
    const double reach = std::min(top + 3.0, 40000.0);
    for (double k = -reach; k <= reach; k += 0.5) samples.push_back(static_cast<Sample>(k * step));
    for (const double edge : {-top, top - 1.0})
        for (double k = edge - 8.0; k <= edge + 8.0; k += 0.5)
            samples.push_back(static_cast<Sample>(k * step));
    for (const double edge : {0x1p23, 0x1p23 + 1.0, 0x1p23 - 0.5, 0x1p23 - 1.5, 0x1p52,
                              0x1p52 + 1.0, 0x1p52 - 0.5, 0x1p52 - 1.5, 0x1p53 + 2.0})
        for (const double sign : {1.0, -1.0}) samples.push_back(static_cast<Sample>(sign * edge * step));
    const std::size_t before = samples.size();
    for (std::size_t i = 0; i < before; ++i) {
        samples.push_back(std::nextafter(samples[i], Sample(0)));
        samples.push_back(std::nextafter(samples[i], Limits::infinity()));
    }
    std::mt19937 random(7);
    std::uniform_real_distribution<double> level(-1.5, 1.5);
    for (int i = 0; i < 10000; ++i) samples.push_back(static_cast<Sample>(level(random)));
    return samples;
}

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void expectSameBytes(const fs::path& expectedFile, const fs::path& gotFile) {
    SCOPED_TRACE(gotFile.filename().string());
    const std::string expected = contents(expectedFile);
    const std::string got = contents(gotFile);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        if (got[i] != expected[i]) FAIL() << "first difference at byte " << i;
}

template <typename Sample>
void expectSameFile(int format, double step, const fs::path& folder) {
    SCOPED_TRACE(testing::Message() << sizeof(Sample) << "-byte samples, format 0x" << std::hex
                                    << format);
    const OutputConditioning condition(true, step, nullptr);
    ASSERT_TRUE(condition.convertsToIntegers());
    const std::vector<Sample> samples = testSamples<Sample>(step);
    const auto frames = static_cast<sf_count_t>(samples.size());

    const auto write = [&](const std::string& name, const auto& data) {
        SoundFileWriter file((folder / name).string(), format, 1, 48000);
        file.write(data.data(), frames);
        file.commit();
        return folder / name;
    };
    std::vector<Sample> rounded = samples;
    condition.apply(rounded.data(), rounded.size());
    const fs::path byLibrary = write("library", rounded);

    std::vector<std::int32_t> integers(samples.size());
    condition.toIntegers(samples.data(), integers.data(), samples.size());
    expectSameBytes(byLibrary, write("integers", integers));
    if (!condition.fitsShorts()) return;
    std::vector<std::int16_t> shorts(samples.size());
    condition.toIntegers(samples.data(), shorts.data(), samples.size());
    expectSameBytes(byLibrary, write("shorts", shorts));
}

TEST(OutputConditioning, ConvertsToIntegersAsRoundingAndLibsndfileDo) {
    const fs::path folder = fs::temp_directory_path() / ("varkel-integers-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const struct {
        int format;
        double step;
    } outputs[] = {{SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1.0 / 32768},
                   {SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1.0 / 8388608},
                   {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1.0 / 128},
                   {SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 1.0 / 128},
                   {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1.0 / 32768}};
    for (const auto& output : outputs) {
        expectSameFile<float>(output.format, output.step, folder);
        expectSameFile<double>(output.format, output.step, folder);
    }
    fs::remove_all(folder);
}

TEST(OutputConditioning, DitherOrAFloatOutputKeepsTheSampleBySamplePath) {
    TpdfDither dither(1, 1.0 / 32768);
    EXPECT_FALSE(OutputConditioning(true, 1.0 / 32768, &dither).convertsToIntegers());
    EXPECT_FALSE(OutputConditioning(false, 0.0, nullptr).convertsToIntegers());
}

}  // namespace
}  // namespace varkel::engine
