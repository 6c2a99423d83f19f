// varkel-noise-table-dump OUTFILE
//
// Writes the noise tables that the module's code uses as raw bytes, so that
// builds for different systems can be compared entry for entry: renders alone
// rarely show a radius that differs in the last place.
#include <cstdio>

#include "dsp/noise_tables.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTFILE\n", argv[0]);
        return 2;
    }
    const varkel::NoiseTables& tables = varkel::ensureNoiseTables();
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(&tables, sizeof tables, 1, out) != 1 ||
        std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
