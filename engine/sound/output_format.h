// The format of an output file, chosen from its name as sox does: the
// extension picks the container (none keeps the input's), then a sample
// format that container holds, from what the installed libsndfile writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varkel::engine {

// The sample format of an output: the input's (where the container holds it)
// or one asked for.
enum class SampleFormat { SameAsInput, Float, Pcm24, Pcm16 };

// Extensions (lower case) of the containers libsndfile here can write,
// sorted, e.g. "aiff", "caf", "flac", "mp3", "ogg", "opus", "wav".
std::vector<std::string> writableExtensions();

// The libsndfile format for an output named outputPath from an input of
// inputFormat: the container from the extension; the sample format asked
// for, else the input's when the container holds it, else the first of
// float, 24-bit and 16-bit integer it holds (lossy containers take their
// codec). Throws EngineError naming outputPath when the extension is not one
// libsndfile writes (listing those it does) or the container cannot hold the
// sample format asked for.
int chooseOutputFormat(const std::string& outputPath, int inputFormat, SampleFormat requested,
                       int channels, int sampleRate);

// A WAV that may grow past the 4 GiB its length fields hold becomes RF64,
// to be written with auto-downgrade so that it stays plain WAV when small.
// frames < 0: the length is unknown.
int withRoomForLength(int format, std::int64_t frames, int channels);

// Whether a file name's extension is one of libsndfile's containers (or a
// usual name for one), so that a folder's sound files can be told apart.
bool hasSoundFileExtension(const std::string& path);

bool isIntegerFormat(int format);
// Empty for lossless formats, else the codec, e.g. "Vorbis", "MPEG Layer III".
std::string lossyCodec(int format);
std::string containerName(int format);
// Bytes a sample takes in a file of this format; 0 for compressed ones.
int bytesPerSample(int format);
// One step of an integer PCM output as a float sample (1/32768 for 16-bit);
// 0 for other formats, whose samples dither would not help.
double integerStep(int format);
// What the summary names: "16-bit PCM WAV", "32-bit float AIFF",
// "lossy (Vorbis)".
std::string formatDescription(int format);

}  // namespace varkel::engine
