// The large-buffer output under libsndfile: writes past the buffer, a header
// rewritten after a seek, reads of what is still buffered, and failures
// reported with the system's reason.
#include "engine/sound/buffered_output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace varkel::engine {
namespace {

class BufferedOutputFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/vk-buffered-XXXXXX";
        descriptor = ::mkstemp(name);
        ASSERT_GE(descriptor, 0);
        path = name;
    }
    void TearDown() override { ::unlink(path.c_str()); }

    std::vector<unsigned char> onDisk() const {
        std::vector<unsigned char> bytes;
        FILE* file = std::fopen(path.c_str(), "rb");
        for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(static_cast<unsigned char>(c));
        std::fclose(file);
        return bytes;
    }

    int descriptor = -1;
    std::string path;
};

TEST_F(BufferedOutputFileTest, KeepsEveryByteWhereverItWasWritten) {
    std::vector<unsigned char> data(BufferedOutputFile::kBufferBytes * 2 + 12345);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7 + i / 251);
    {
        BufferedOutputFile file(descriptor);
        EXPECT_EQ(file.write(data.data(), 100), 100);
        const auto rest = static_cast<sf_count_t>(data.size() - 100);
        EXPECT_EQ(file.write(data.data() + 100, rest), rest);
        EXPECT_EQ(file.length(), static_cast<sf_count_t>(data.size()));
        // A header rewritten in place, then read back before it reaches the file.
        EXPECT_EQ(file.seek(4, SEEK_SET), 4);
        const unsigned char header[] = {'R', 'I', 'F', 'F'};
        EXPECT_EQ(file.write(header, 4), 4);
        EXPECT_EQ(file.tell(), 8);
        unsigned char back[8] = {};
        EXPECT_EQ(file.seek(-8, SEEK_CUR), 0);
        EXPECT_EQ(file.read(back, 8), 8);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(back) + 4, 4), "RIFF");
        // Appending again after the seek.
        EXPECT_EQ(file.seek(0, SEEK_END), static_cast<sf_count_t>(data.size()));
        EXPECT_EQ(file.write(header, 4), 4);
        EXPECT_TRUE(file.sync());
        std::copy(header, header + 4, data.begin() + 4);
        data.insert(data.end(), header, header + 4);
    }
    EXPECT_EQ(onDisk(), data);
}

TEST_F(BufferedOutputFileTest, ReportsTheSystemsReasonForAFailure) {
    const int full = ::open("/dev/full", O_RDWR | O_CLOEXEC);
    if (full < 0) GTEST_SKIP() << "no /dev/full";
    BufferedOutputFile file(full);
    const std::vector<unsigned char> data(BufferedOutputFile::kBufferBytes / 2);
    EXPECT_EQ(file.write(data.data(), static_cast<sf_count_t>(data.size())),
              static_cast<sf_count_t>(data.size()));  // still buffered
    EXPECT_FALSE(file.sync());
    EXPECT_EQ(file.failure(), ENOSPC);
    EXPECT_EQ(file.write(data.data(), 1), 0);
}

}  // namespace
}  // namespace varkel::engine
