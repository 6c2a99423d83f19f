/* Test material and read-back for the batch benchmark and the large-file
 * check, compiled by those scripts with the system's libsndfile:
 *   sound_file_tool make PATH FRAMES CHANNELS RATE pcm16|float   tones and noise
 *   sound_file_tool check PATH   prints the container, the frames the header
 *                                declares and the frames actually read */
#include <math.h>
#include <sndfile.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kChunk = 65536 };

static int make(const char* path, long long frames, int channels, int rate, const char* type) {
    SF_INFO info = {0};
    info.channels = channels;
    info.samplerate = rate;
    info.format = SF_FORMAT_WAV | (strcmp(type, "float") == 0 ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
    /* The input of a large render may pass 4 GiB itself. */
    if ((double)frames * channels * 4 > 4.0e9) info.format = SF_FORMAT_RF64 | (info.format & SF_FORMAT_SUBMASK);
    SNDFILE* file = sf_open(path, SFM_WRITE, &info);
    if (file == NULL) {
        fprintf(stderr, "%s: %s\n", path, sf_strerror(NULL));
        return 1;
    }
    float* block = malloc(sizeof(float) * kChunk * channels);
    uint32_t noise = 1;
    for (long long done = 0; done < frames;) {
        const long long n = frames - done < kChunk ? frames - done : kChunk;
        for (long long f = 0; f < n; ++f)
            for (int c = 0; c < channels; ++c) {
                noise = noise * 1664525u + 1013904223u;
                const double t = (double)(done + f) / rate;
                block[f * channels + c] = (float)(0.4 * sin(2 * M_PI * (110.0 + 55.0 * c) * t) +
                                                  0.1 * ((double)(noise >> 8) / 8388608.0 - 1.0));
            }
        if (sf_writef_float(file, block, n) != n) {
            fprintf(stderr, "%s: %s\n", path, sf_strerror(file));
            return 1;
        }
        done += n;
    }
    free(block);
    return sf_close(file) == 0 ? 0 : 1;
}

static int check(const char* path) {
    SF_INFO info = {0};
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (file == NULL) {
        fprintf(stderr, "%s: %s\n", path, sf_strerror(NULL));
        return 1;
    }
    SF_FORMAT_INFO major = {.format = info.format & SF_FORMAT_TYPEMASK};
    sf_command(NULL, SFC_GET_FORMAT_INFO, &major, sizeof(major));
    float* block = malloc(sizeof(float) * kChunk * info.channels);
    long long read = 0, n;
    double last = 0.0;
    while ((n = sf_readf_float(file, block, kChunk)) > 0) {
        read += n;
        last = block[(n - 1) * info.channels];
    }
    printf("%s: %s, %d channels, %lld frames declared, %lld frames read, last sample %.6f\n", path,
           major.name, info.channels, (long long)info.frames, read, last);
    free(block);
    sf_close(file);
    return read == info.frames ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc == 7 && strcmp(argv[1], "make") == 0)
        return make(argv[2], atoll(argv[3]), atoi(argv[4]), atoi(argv[5]), argv[6]);
    if (argc == 3 && strcmp(argv[1], "check") == 0) return check(argv[2]);
    fprintf(stderr, "usage: %s make PATH FRAMES CHANNELS RATE pcm16|float | check PATH\n", argv[0]);
    return 2;
}
