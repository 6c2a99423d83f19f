#include "engine/sound/output_format.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

#include "engine/engine_error.h"

namespace varkel::engine {

namespace {

struct Container {
    int major = 0;
    int codec = 0;  // the one sample format of a lossy container; 0 for others
};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool fits(int format, int channels, int sampleRate) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = sampleRate;
    return sf_format_check(&info) != 0;
}

std::vector<int> librarySubtypes() {
    std::vector<int> subtypes;
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE_COUNT, &count, sizeof(count));
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE, &info, sizeof(info)) == 0)
            subtypes.push_back(info.format);
    }
    return subtypes;
}

// Every extension libsndfile reports for its containers (the first container
// wins a shared one, which puts Microsoft's WAV before NIST's), plus the
// names people use for the lossy ones and for AIFF and AU.
const std::map<std::string, Container>& knownContainers() {
    static const std::map<std::string, Container> containers = [] {
        std::map<std::string, Container> result;
        int count = 0;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof(count));
        for (int i = 0; i < count; ++i) {
            SF_FORMAT_INFO info{};
            info.format = i;
            if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof(info)) != 0 ||
                info.extension == nullptr)
                continue;
            result.emplace(lower(info.extension), Container{info.format, 0});
        }
        const auto alias = [&](const char* name, int major, int codec) {
            const bool known = std::any_of(result.begin(), result.end(), [&](const auto& entry) {
                return entry.second.major == major;
            });
            if (known) result[name] = Container{major, codec};
        };
        alias("mp3", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III);
        alias("m1a", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III);
        alias("ogg", SF_FORMAT_OGG, SF_FORMAT_VORBIS);
        alias("oga", SF_FORMAT_OGG, SF_FORMAT_VORBIS);
        alias("opus", SF_FORMAT_OGG, SF_FORMAT_OPUS);
        alias("aif", SF_FORMAT_AIFF, 0);
        alias("aifc", SF_FORMAT_AIFF, 0);
        alias("snd", SF_FORMAT_AU, 0);
        alias("wave", SF_FORMAT_WAV, 0);
        return result;
    }();
    return containers;
}

bool writable(const Container& container) {
    if (container.codec != 0) return fits(container.major | container.codec, 2, 48000);
    for (const int subtype : librarySubtypes())
        if (fits(container.major | subtype, 2, 48000) || fits(container.major | subtype, 1, 48000))
            return true;
    return false;
}

int subtypeFor(SampleFormat requested) {
    switch (requested) {
        case SampleFormat::Float:
            return SF_FORMAT_FLOAT;
        case SampleFormat::Pcm24:
            return SF_FORMAT_PCM_24;
        case SampleFormat::Pcm16:
            return SF_FORMAT_PCM_16;
        case SampleFormat::SameAsInput:
            break;
    }
    return 0;
}

const char* sampleFormatWord(int subtype) {
    switch (subtype) {
        case SF_FORMAT_FLOAT:
            return "32-bit float";
        case SF_FORMAT_PCM_24:
            return "24-bit integer";
        default:
            return "16-bit integer";
    }
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : ", ") + word;
    return text;
}

}  // namespace

int bytesPerSample(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
            return 1;
        case SF_FORMAT_PCM_16:
            return 2;
        case SF_FORMAT_PCM_24:
            return 3;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
            return 4;
        case SF_FORMAT_DOUBLE:
            return 8;
        default:
            return 0;
    }
}

std::vector<std::string> writableExtensions() {
    std::vector<std::string> extensions;
    for (const auto& [extension, container] : knownContainers())
        if (writable(container)) extensions.push_back(extension);
    return extensions;  // a map's keys come sorted
}

int chooseOutputFormat(const std::string& outputPath, int inputFormat, SampleFormat requested,
                       int channels, int sampleRate) {
    const std::string extension = lower(std::filesystem::path(outputPath).extension().string());
    Container container{inputFormat & SF_FORMAT_TYPEMASK, 0};
    if (!extension.empty()) {
        const auto& containers = knownContainers();
        const auto found = containers.find(extension.substr(1));
        if (found == containers.end() || !writable(found->second))
            throw EngineError(outputPath + ": libsndfile here cannot write " + extension +
                            " files; it writes " + joined(writableExtensions()));
        container = found->second;
    }
    const std::string name = containerName(container.major);
    const int asked = subtypeFor(requested);
    if (asked != 0) {
        if (fits(container.major | asked, channels, sampleRate)) return container.major | asked;
        throw EngineError(outputPath + ": a " + name + " file cannot hold " +
                        sampleFormatWord(asked) + " samples (" + mention(RequestField::Format) + ")");
    }
    std::vector<int> candidates;
    if (container.codec != 0) {
        candidates = {container.codec};
    } else {
        candidates = {SF_FORMAT_FLOAT, SF_FORMAT_PCM_24, SF_FORMAT_PCM_16};
        // A lossy codec may pass libsndfile's check for a container that
        // cannot be written with it (MPEG in WAV): lossy input gets float
        // unless it keeps its own container.
        const bool ownContainer = container.major == (inputFormat & SF_FORMAT_TYPEMASK);
        if (lossyCodec(inputFormat).empty() || ownContainer)
            candidates.insert(candidates.begin(), inputFormat & SF_FORMAT_SUBMASK);
        // Reading an Ogg or MPEG file and keeping its container keeps its codec.
        if (container.major == SF_FORMAT_OGG) candidates.push_back(SF_FORMAT_VORBIS);
        if (container.major == SF_FORMAT_MPEG) candidates.push_back(SF_FORMAT_MPEG_LAYER_III);
    }
    for (const int subtype : candidates)
        if (fits(container.major | subtype, channels, sampleRate)) return container.major | subtype;
    throw EngineError(outputPath + ": libsndfile cannot write a " + name + " file with " +
                    std::to_string(channels) + " channels at " + std::to_string(sampleRate) +
                    " Hz");
}

int withRoomForLength(int format, std::int64_t frames, int channels) {
    const int major = format & SF_FORMAT_TYPEMASK;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX) return format;
    // Room for the header and any chunks libsndfile adds.
    constexpr std::int64_t kWavDataLimit = 0xFFFFFFFFLL - (1 << 20);
    const int subtype = format & SF_FORMAT_SUBMASK;
    // A compressed sample is taken at its widest.
    const int bytes = bytesPerSample(subtype) > 0 ? bytesPerSample(subtype) : 4;
    const bool small = frames >= 0 && frames <= kWavDataLimit / channels / bytes;
    return small ? format : SF_FORMAT_RF64 | subtype;
}

bool hasSoundFileExtension(const std::string& path) {
    const std::string extension = lower(std::filesystem::path(path).extension().string());
    return extension.size() > 1 && knownContainers().contains(extension.substr(1));
}

bool isIntegerFormat(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
        case SF_FORMAT_VORBIS:
        case SF_FORMAT_OPUS:
            return false;
        default:
            return true;
    }
}

std::string lossyCodec(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_VORBIS:
            return "Vorbis";
        case SF_FORMAT_OPUS:
            return "Opus";
        case SF_FORMAT_MPEG_LAYER_I:
            return "MPEG Layer I";
        case SF_FORMAT_MPEG_LAYER_II:
            return "MPEG Layer II";
        case SF_FORMAT_MPEG_LAYER_III:
            return "MPEG Layer III";
        default:
            return {};
    }
}

double integerStep(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return 1.0 / 128.0;
        case SF_FORMAT_PCM_16:
            return 1.0 / 32768.0;
        case SF_FORMAT_PCM_24:
            return 1.0 / 8388608.0;
        default:
            return 0.0;
    }
}

std::string formatDescription(int format) {
    const std::string codec = lossyCodec(format);
    if (!codec.empty()) return "lossy (" + codec + ")";
    std::string samples;
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            samples = "8-bit PCM";
            break;
        case SF_FORMAT_PCM_16:
            samples = "16-bit PCM";
            break;
        case SF_FORMAT_PCM_24:
            samples = "24-bit PCM";
            break;
        case SF_FORMAT_PCM_32:
            samples = "32-bit PCM";
            break;
        case SF_FORMAT_FLOAT:
            samples = "32-bit float";
            break;
        case SF_FORMAT_DOUBLE:
            samples = "64-bit float";
            break;
        default: {
            SF_FORMAT_INFO info{};
            info.format = format & SF_FORMAT_SUBMASK;
            const bool known = sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof(info)) == 0 &&
                               info.name != nullptr;
            samples = known ? info.name : "encoded";
        }
    }
    // "WAV (Microsoft)": the container's first word is its usual name.
    const std::string container = containerName(format);
    return samples + " " + container.substr(0, container.find(' '));
}

std::string containerName(int format) {
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_TYPEMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof(info)) != 0 || info.name == nullptr)
        return "this";
    return info.name;
}

}  // namespace varkel::engine
