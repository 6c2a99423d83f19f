// Many instances over the life of one host session: 10,000 created, opened,
// given a block of audio and closed one after another, and 1,000 alive at
// once. Memory must come back: resident size stays flat in a plain build,
// and LeakSanitizer finds nothing in an AddressSanitizer build.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <set>
#include <vector>

#include "loaded_module.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VARKEL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VARKEL_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using varkel::host::PluginInstance;

constexpr int kFrames = 256;

// Resident set size in bytes, from /proc/self/statm.
long residentBytes() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return -1;
    long size = 0, resident = -1;
    if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = -1;
    std::fclose(f);
    return resident < 0 ? -1 : resident * 4096;
}

struct Block {
    std::vector<float> left, right;
    Block() : left(kFrames), right(kFrames) {}
    void refill() {
        for (int i = 0; i < kFrames; ++i) {
            left[i] = 0.5f * std::sin(0.02f * static_cast<float>(i));
            right[i] = -left[i];
        }
    }
};

// Processes one block in place; false if any sample came out non-finite.
bool processOnce(const PluginInstance& fx, Block& block) {
    block.refill();
    float* channels[2] = {block.left.data(), block.right.data()};
    fx.process(channels, channels, kFrames);
    for (int i = 0; i < kFrames; ++i)
        if (!std::isfinite(block.left[i]) || !std::isfinite(block.right[i])) return false;
    return true;
}

struct Tally {
    int created = 0, failed = 0, nonFinite = 0, badClose = 0;
};

// A new instance, opened and switched on; null (and counted) if the entry
// point gave none.
std::unique_ptr<PluginInstance> startedInstance(Tally& tally) {
    auto fx = loaded::makeInstance();
    if (!fx) {
        ++tally.failed;
        return nullptr;
    }
    ++tally.created;
    fx->start(44100.0f, kFrames);
    return fx;
}

void oneAfterAnother(int count, Tally& tally) {
    Block block;
    for (int i = 0; i < count; ++i) {
        auto fx = startedInstance(tally);
        if (!fx) continue;
        if (!processOnce(*fx, block)) ++tally.nonFinite;
        if (fx->close() != 1) ++tally.badClose;
    }
}

void allAtOnce(int count, Tally& tally, std::size_t& distinctRecords) {
    std::vector<std::unique_ptr<PluginInstance>> alive;
    alive.reserve(static_cast<std::size_t>(count));
    std::set<AEffect*> records;
    Block block;
    for (int i = 0; i < count; ++i) {
        auto fx = startedInstance(tally);
        if (!fx) continue;
        records.insert(fx->effect());
        alive.push_back(std::move(fx));
    }
    for (const auto& fx : alive)
        if (!processOnce(*fx, block)) ++tally.nonFinite;
    for (auto& fx : alive)
        if (fx->close() != 1) ++tally.badClose;
    distinctRecords = records.size();
}

TEST(Soak, TenThousandInstancesComeAndGoWithoutKeepingMemory) {
    Tally warmUp;
    std::size_t distinct = 0;
    // The allocator reaches its working size first, so what follows measures
    // only what the instances keep.
    allAtOnce(1000, warmUp, distinct);
    oneAfterAnother(1000, warmUp);
    ASSERT_EQ(warmUp.failed, 0);
    const long before = residentBytes();

    Tally tally;
    oneAfterAnother(10000, tally);
    allAtOnce(1000, tally, distinct);
    const long after = residentBytes();

    EXPECT_EQ(tally.failed, 0);
    EXPECT_EQ(tally.created, 11000);
    EXPECT_EQ(tally.nonFinite, 0);
    EXPECT_EQ(tally.badClose, 0);
    EXPECT_EQ(distinct, 1000u) << "instances alive together must have records of their own";

#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "LeakSanitizer found unreleased memory";
#endif
#if !defined(VARKEL_SANITIZED)
    // An object or processor record left behind per instance would add
    // about a megabyte or more over 11,000 instances.
    ASSERT_GT(before, 0);
    EXPECT_LT(after - before, 512L * 1024) << "resident size grew from " << before << " to " << after;
#else
    (void)before;
    (void)after;  // sanitizer allocators hold freed memory back, so RSS says nothing here
#endif
}

}  // namespace
