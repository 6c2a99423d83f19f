// The output format chosen from the output's name, against what libsndfile
// itself reports it can write.
#include "engine/sound/output_format.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>

#include "engine/engine_error.h"

namespace varkel::engine {
namespace {

constexpr int kWavFloat = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
constexpr int kFlac16 = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;

bool libraryWrites(int format) {
    SF_INFO info{};
    info.format = format;
    info.channels = 2;
    info.samplerate = 48000;
    return sf_format_check(&info) != 0;
}

struct FormatCase {
    const char* output;
    int inputFormat;
    SampleFormat requested;
    int expected;
};

TEST(OutputFormat, TheExtensionChoosesTheContainer) {
    const FormatCase cases[] = {
        // No extension: the input's container and sample format.
        {"out", kFlac16, SampleFormat::SameAsInput, kFlac16},
        {"out.wav", kFlac16, SampleFormat::SameAsInput, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {"OUT.WAV", kFlac16, SampleFormat::SameAsInput, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        // FLAC holds no float: the first integer format it holds.
        {"out.flac", kWavFloat, SampleFormat::SameAsInput, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"out.flac", kWavFloat, SampleFormat::Pcm16, kFlac16},
        {"out.aif", kWavFloat, SampleFormat::SameAsInput, SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
        {"out.caf", kFlac16, SampleFormat::Float, SF_FORMAT_CAF | SF_FORMAT_FLOAT},
        {"out.w64", kWavFloat, SampleFormat::SameAsInput, SF_FORMAT_W64 | SF_FORMAT_FLOAT},
        {"out.rf64", kWavFloat, SampleFormat::Pcm24, SF_FORMAT_RF64 | SF_FORMAT_PCM_24},
        {"out.ogg", kWavFloat, SampleFormat::SameAsInput, SF_FORMAT_OGG | SF_FORMAT_VORBIS},
        {"out.opus", kWavFloat, SampleFormat::SameAsInput, SF_FORMAT_OGG | SF_FORMAT_OPUS},
        {"dir.v2/out.mp3", kWavFloat, SampleFormat::SameAsInput,
         SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
        // Lossy input to a lossless container: float, which keeps the overs.
        {"out.aiff", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, SampleFormat::SameAsInput,
         SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
        {"out.wav", SF_FORMAT_OGG | SF_FORMAT_VORBIS, SampleFormat::SameAsInput, kWavFloat},
        {"out.wav", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, SampleFormat::SameAsInput, kWavFloat},
        {"out", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, SampleFormat::SameAsInput,
         SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
        {"out", SF_FORMAT_OGG | SF_FORMAT_OPUS, SampleFormat::SameAsInput,
         SF_FORMAT_OGG | SF_FORMAT_OPUS},
        {"out.aiff", SF_FORMAT_OGG | SF_FORMAT_OPUS, SampleFormat::SameAsInput,
         SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.output);
        if (!libraryWrites(c.expected)) continue;  // an older libsndfile
        EXPECT_EQ(chooseOutputFormat(c.output, c.inputFormat, c.requested, 2, 48000), c.expected);
    }
}

TEST(OutputFormat, UnwritableExtensionsAreErrorsListingTheWritableOnes) {
    for (const char* name : {"out.m4a", "out.aac", "out.txt", "out.wma"}) {
        SCOPED_TRACE(name);
        try {
            chooseOutputFormat(name, kWavFloat, SampleFormat::SameAsInput, 2, 44100);
            ADD_FAILURE() << "accepted";
        } catch (const EngineError& error) {
            const std::string text = error.what();
            EXPECT_EQ(text.find(name), 0u) << text;
            EXPECT_NE(text.find("it writes "), std::string::npos) << text;
            EXPECT_NE(text.find("wav"), std::string::npos) << text;
            EXPECT_NE(text.find("flac"), std::string::npos) << text;
        }
    }
}

TEST(OutputFormat, WritableExtensionsAreThoseLibsndfileWrites) {
    const auto extensions = writableExtensions();
    for (const char* expected : {"aiff", "au", "caf", "flac", "rf64", "w64", "wav"})
        EXPECT_NE(std::find(extensions.begin(), extensions.end(), expected), extensions.end())
            << expected;
    EXPECT_EQ(std::find(extensions.begin(), extensions.end(), "wma"), extensions.end());
    EXPECT_EQ(std::find(extensions.begin(), extensions.end(), "m4a"), extensions.end());
    EXPECT_EQ(std::find(extensions.begin(), extensions.end(), "mp3") != extensions.end(),
              libraryWrites(SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III));
    EXPECT_TRUE(std::is_sorted(extensions.begin(), extensions.end()));
}

TEST(OutputFormat, ASampleFormatTheContainerCannotHoldIsAnError) {
    const struct {
        const char* output;
        SampleFormat requested;
    } cases[] = {{"out.flac", SampleFormat::Float},
                 {"out.ogg", SampleFormat::Pcm16},
                 {"out.mp3", SampleFormat::Pcm24}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        EXPECT_THROW(chooseOutputFormat(c.output, kWavFloat, c.requested, 2, 44100), EngineError);
    }
}

TEST(OutputFormat, WavBecomesRf64OnlyWhenItMayPassFourGibibytes) {
    // 4 GiB of stereo float is 536870912 frames; the header needs a little.
    const struct {
        int format;
        std::int64_t frames;
        int channels;
        int expected;
    } cases[] = {
        {kWavFloat, 44100, 2, kWavFloat},
        {kWavFloat, 530000000, 2, kWavFloat},
        {kWavFloat, 536870912, 2, SF_FORMAT_RF64 | SF_FORMAT_FLOAT},
        {kWavFloat, 300000000, 4, SF_FORMAT_RF64 | SF_FORMAT_FLOAT},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1000000000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1100000000, 2, SF_FORMAT_RF64 | SF_FORMAT_PCM_16},
        {kWavFloat, -1, 2, SF_FORMAT_RF64 | SF_FORMAT_FLOAT},  // length unknown
        {SF_FORMAT_W64 | SF_FORMAT_FLOAT, 900000000, 2, SF_FORMAT_W64 | SF_FORMAT_FLOAT},
        {kFlac16, 2000000000, 2, kFlac16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.format << std::dec << " " << c.frames);
        EXPECT_EQ(withRoomForLength(c.format, c.frames, c.channels), c.expected);
    }
}

TEST(OutputFormat, LossyCodecsAreNamed) {
    EXPECT_EQ(lossyCodec(SF_FORMAT_OGG | SF_FORMAT_VORBIS), "Vorbis");
    EXPECT_EQ(lossyCodec(SF_FORMAT_OGG | SF_FORMAT_OPUS), "Opus");
    EXPECT_EQ(lossyCodec(SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III), "MPEG Layer III");
    EXPECT_EQ(lossyCodec(kFlac16), "");
    EXPECT_EQ(lossyCodec(kWavFloat), "");
}

TEST(OutputFormat, SoundFilesAreToldByTheirExtension) {
    for (const char* name : {"a.wav", "b.FLAC", "c.aiff", "d.ogg", "e.mp3", "f.opus", "g.caf"})
        EXPECT_TRUE(hasSoundFileExtension(name)) << name;
    for (const char* name : {"notes.txt", "cover.jpg", "wav", ".wav", "a.wav.bak"})
        EXPECT_FALSE(hasSoundFileExtension(name)) << name;
}

}  // namespace
}  // namespace varkel::engine
