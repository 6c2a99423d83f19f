// Speaker arrangements on the heap.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "framework/audio_effect_x.h"

#if defined(__SANITIZE_ADDRESS__)
#define VARKEL_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARKEL_TEST_ASAN 1
#endif
#endif

#if defined(VARKEL_TEST_ASAN)
#include <sanitizer/asan_interface.h>
// Part of the sanitizer runtime; not every compiler ships its header.
extern "C" std::size_t __sanitizer_get_allocated_size(const volatile void* p);
#elif defined(__linux__) && !defined(__SANITIZE_THREAD__)
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#define VARKEL_TEST_ADDRESS_LIMIT 1
#endif

namespace {

class Fx : public AudioEffectX {
public:
    Fx() : AudioEffectX(nullptr, 1, 1) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

const unsigned char* bytesOf(const void* p) { return static_cast<const unsigned char*>(p); }

// The exact block size is known to the address sanitizer's allocator; the
// plain allocator only promises at least the size asked for.
void expectBlockOf(const VstSpeakerArrangement* block, std::size_t bytes) {
#if defined(VARKEL_TEST_ASAN)
    EXPECT_EQ(__sanitizer_get_allocated_size(block), bytes);
#elif defined(VARKEL_TEST_ADDRESS_LIMIT)
    EXPECT_GE(malloc_usable_size(const_cast<VstSpeakerArrangement*>(block)), bytes);
#else
    (void)block;
    (void)bytes;
#endif
}

void expectReleased([[maybe_unused]] const void* block) {
#if defined(VARKEL_TEST_ASAN)
    EXPECT_TRUE(__asan_address_is_poisoned(block));
#endif
}

// A speaker whose every field is distinct: a NaN with a payload, a negative
// zero, a subnormal, text after the name's terminator, a patterned tail.
VstSpeakerProperties patternedSpeaker(const char* name, VstInt32 type, unsigned seed) {
    VstSpeakerProperties s;
    std::memset(&s, 'Z', sizeof(s));
    const std::uint32_t nanBits = 0x7FC01234u + seed;
    std::memcpy(&s.azimuth, &nanBits, sizeof(nanBits));
    s.elevation = -0.0f;
    s.radius = 1e-40f;
    s.reserved = 3.5f + static_cast<float>(seed);
    std::memcpy(s.name, name, std::strlen(name) + 1);
    s.type = type;
    for (unsigned i = 0; i < sizeof(s.future); ++i) s.future[i] = static_cast<char>(i * 7 + seed);
    return s;
}

// What a copy must hold: the source with the name zero-filled past its end.
VstSpeakerProperties expectedCopy(const VstSpeakerProperties& source) {
    VstSpeakerProperties s = source;
    const std::size_t length = strnlen(source.name, 63);
    std::memset(s.name + length, 0, sizeof(s.name) - length);
    return s;
}

void expectSameBytes(const VstSpeakerProperties& actual, const VstSpeakerProperties& expected) {
    EXPECT_EQ(std::memcmp(&actual, &expected, sizeof(actual)), 0);
}

// --- allocateArrangement / deallocateArrangement ---

TEST(SpeakerArrangement, ZeroChannelsMakeAnEightByteBlock) {
    Fx fx;
    VstSpeakerArrangement* arrangement = nullptr;
    ASSERT_TRUE(fx.allocateArrangement(&arrangement, 0));
    ASSERT_NE(arrangement, nullptr);
    expectBlockOf(arrangement, 8);
    const unsigned char zeros[8] = {};
    EXPECT_EQ(std::memcmp(arrangement, zeros, 8), 0);
    EXPECT_TRUE(fx.deallocateArrangement(&arrangement));
    EXPECT_EQ(arrangement, nullptr);
}

TEST(SpeakerArrangement, TwoChannelsMakeAZeroedBlockOf232Bytes) {
    Fx fx;
    VstSpeakerArrangement* arrangement = nullptr;
    ASSERT_TRUE(fx.allocateArrangement(&arrangement, 2));
    expectBlockOf(arrangement, 232);
    unsigned char expected[232] = {};
    expected[4] = 2;  // numChannels, little-endian
    EXPECT_EQ(std::memcmp(arrangement, expected, sizeof(expected)), 0);
    fx.deallocateArrangement(&arrangement);
}

TEST(SpeakerArrangement, AllocatingAgainReleasesTheOldBlock) {
    Fx fx;
    VstSpeakerArrangement* arrangement = nullptr;
    ASSERT_TRUE(fx.allocateArrangement(&arrangement, 3));
    const VstSpeakerArrangement* old = arrangement;
    ASSERT_TRUE(fx.allocateArrangement(&arrangement, 1));
    expectReleased(old);
    EXPECT_EQ(arrangement->numChannels, 1);
    expectBlockOf(arrangement, 120);
    fx.deallocateArrangement(&arrangement);
}

TEST(SpeakerArrangement, ACountOutsideTheBlockRangeIsRefusedAndChangesNothing) {
    const VstInt32 counts[] = {-1, -19173961, std::numeric_limits<VstInt32>::min(), 19173962,
                               std::numeric_limits<VstInt32>::max()};
    Fx fx;
    VstSpeakerArrangement* arrangement = nullptr;
    ASSERT_TRUE(fx.allocateArrangement(&arrangement, 1));
    arrangement->type = 7;
    const VstSpeakerArrangement* held = arrangement;
    for (VstInt32 count : counts) {
        SCOPED_TRACE(count);
        EXPECT_FALSE(fx.allocateArrangement(&arrangement, count));
        ASSERT_EQ(arrangement, held);
        EXPECT_EQ(arrangement->type, 7);  // still the live block
        EXPECT_EQ(arrangement->numChannels, 1);
    }
    fx.deallocateArrangement(&arrangement);
}

TEST(SpeakerArrangement, DeallocatingNothingSucceedsAndDoesNothing) {
    Fx fx;
    VstSpeakerArrangement* arrangement = nullptr;
    EXPECT_TRUE(fx.deallocateArrangement(&arrangement));
    ASSERT_TRUE(fx.allocateArrangement(&arrangement, 2));
    EXPECT_TRUE(fx.deallocateArrangement(&arrangement));
    EXPECT_EQ(arrangement, nullptr);
    EXPECT_TRUE(fx.deallocateArrangement(&arrangement));
    EXPECT_EQ(arrangement, nullptr);
}

TEST(SpeakerArrangement, NoPointerVariableIsRefused) {
    Fx fx;
    VstSpeakerArrangement* source = nullptr;
    ASSERT_TRUE(fx.allocateArrangement(&source, 1));
    EXPECT_FALSE(fx.allocateArrangement(nullptr, 2));
    EXPECT_FALSE(fx.deallocateArrangement(nullptr));
    EXPECT_FALSE(fx.matchArrangement(nullptr, source));
    fx.deallocateArrangement(&source);
}

#if defined(VARKEL_TEST_ADDRESS_LIMIT)
// Bytes of address space this process has mapped now.
std::size_t mappedBytes() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0;
    if (statm != nullptr) {
        if (std::fscanf(statm, "%lu", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    return pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// The largest valid count asks for 2 GiB; a child process whose address space
// is capped well below that sees the allocator really fail after the old block
// has gone, and must then hold null, not the released block.
TEST(SpeakerArrangementDeathTest, AFailedAllocationLeavesThePointerNull) {
    EXPECT_EXIT(
        {
            Fx fx;
            VstSpeakerArrangement* arrangement = nullptr;
            if (!fx.allocateArrangement(&arrangement, 2)) std::_Exit(2);
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max = mappedBytes() + (std::size_t{256} << 20);
            if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(3);
            try {
                fx.allocateArrangement(&arrangement, 19173961);
                std::_Exit(4);  // the cap did not bite
            } catch (const std::bad_alloc&) {
            }
            std::_Exit(arrangement == nullptr ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}
#endif

// --- copySpeaker ---

// The 5-character name leaves bytes 5..63 of the copy zero (expectedCopy).
TEST(SpeakerArrangement, CopySpeakerCopiesEveryFieldBitForBit) {
    Fx fx;
    VstSpeakerProperties source = patternedSpeaker("Front", -2, 1);
    VstSpeakerProperties destination;
    std::memset(&destination, 0xEE, sizeof(destination));
    ASSERT_TRUE(fx.copySpeaker(&destination, &source));
    expectSameBytes(destination, expectedCopy(source));
}

TEST(SpeakerArrangement, CopySpeakerCutsALongNameTo63Characters) {
    Fx fx;
    const std::string seventy(70, 'n');
    VstSpeakerProperties source = patternedSpeaker("", 3, 3);
    std::memcpy(source.name, seventy.data(), sizeof(source.name));  // 64 bytes, unterminated
    VstSpeakerProperties destination;
    std::memset(&destination, 0xEE, sizeof(destination));
    ASSERT_TRUE(fx.copySpeaker(&destination, &source));
    EXPECT_EQ(std::string(destination.name), std::string(63, 'n'));
    EXPECT_EQ(destination.name[63], 0);
    EXPECT_EQ(destination.type, 3);
}

TEST(SpeakerArrangement, CopySpeakerWithANullArgumentWritesNothing) {
    Fx fx;
    VstSpeakerProperties source = patternedSpeaker("C", 0, 4);
    VstSpeakerProperties destination;
    std::memset(&destination, 0xEE, sizeof(destination));
    EXPECT_FALSE(fx.copySpeaker(&destination, nullptr));
    EXPECT_FALSE(fx.copySpeaker(nullptr, &source));
    EXPECT_FALSE(fx.copySpeaker(nullptr, nullptr));
    for (std::size_t i = 0; i < sizeof(destination); ++i) EXPECT_EQ(bytesOf(&destination)[i], 0xEE);
    expectSameBytes(source, patternedSpeaker("C", 0, 4));
}

TEST(SpeakerArrangement, ASpeakerCopiedOntoItselfKeepsItsFields) {
    Fx fx;
    VstSpeakerProperties speaker = patternedSpeaker("Sub", 9, 5);
    ASSERT_TRUE(fx.copySpeaker(&speaker, &speaker));
    expectSameBytes(speaker, expectedCopy(patternedSpeaker("Sub", 9, 5)));
}

// --- matchArrangement ---

// A source block made by hand, independent of allocateArrangement.
struct SourceBlock {
    explicit SourceBlock(VstInt32 type, std::vector<VstSpeakerProperties> speakers)
        : bytes(8 + 112 * speakers.size()) {
        const auto count = static_cast<VstInt32>(speakers.size());
        std::memcpy(bytes.data(), &type, 4);
        std::memcpy(bytes.data() + 4, &count, 4);
        for (std::size_t i = 0; i < speakers.size(); ++i)
            std::memcpy(bytes.data() + 8 + 112 * i, &speakers[i], 112);
    }
    VstSpeakerArrangement* get() { return reinterpret_cast<VstSpeakerArrangement*>(bytes.data()); }
    std::vector<unsigned char> bytes;
};

VstSpeakerProperties speakerOf(const VstSpeakerArrangement* block, int i) {
    VstSpeakerProperties s;
    std::memcpy(&s, bytesOf(block) + 8 + 112 * i, sizeof(s));
    return s;
}

TEST(SpeakerArrangement, MatchMakesAFreshCopyAndReleasesTheOld) {
    Fx fx;
    const VstSpeakerProperties left = patternedSpeaker("L", 1, 6);
    const VstSpeakerProperties right = patternedSpeaker("R", 2, 7);
    SourceBlock source(1, {left, right});
    VstSpeakerArrangement* destination = nullptr;
    ASSERT_TRUE(fx.allocateArrangement(&destination, 5));
    const VstSpeakerArrangement* old = destination;

    ASSERT_TRUE(fx.matchArrangement(&destination, source.get()));
    expectReleased(old);
    ASSERT_NE(destination, nullptr);
    ASSERT_NE(destination, source.get());
    expectBlockOf(destination, 232);
    EXPECT_EQ(destination->type, 1);
    EXPECT_EQ(destination->numChannels, 2);
    expectSameBytes(speakerOf(destination, 0), expectedCopy(left));
    expectSameBytes(speakerOf(destination, 1), expectedCopy(right));
    fx.deallocateArrangement(&destination);
}

TEST(SpeakerArrangement, MatchWithZeroChannelsCopiesOnlyTheType) {
    Fx fx;
    SourceBlock source(-4, {});
    VstSpeakerArrangement* destination = nullptr;
    ASSERT_TRUE(fx.matchArrangement(&destination, source.get()));
    expectBlockOf(destination, 8);
    EXPECT_EQ(destination->type, -4);
    EXPECT_EQ(destination->numChannels, 0);
    fx.deallocateArrangement(&destination);
}

TEST(SpeakerArrangement, MatchWithoutASourceKeepsTheDestination) {
    Fx fx;
    VstSpeakerArrangement* destination = nullptr;
    ASSERT_TRUE(fx.allocateArrangement(&destination, 2));
    destination->type = 11;
    const VstSpeakerArrangement* held = destination;
    EXPECT_FALSE(fx.matchArrangement(&destination, nullptr));
    ASSERT_EQ(destination, held);
    EXPECT_EQ(destination->type, 11);
    fx.deallocateArrangement(&destination);
}

TEST(SpeakerArrangement, MatchingABlockToItselfKeepsIt) {
    Fx fx;
    VstSpeakerArrangement* arrangement = nullptr;
    ASSERT_TRUE(fx.allocateArrangement(&arrangement, 1));
    arrangement->type = 3;
    *speakerAt(arrangement, 0) = patternedSpeaker("M", 5, 8);
    const VstSpeakerArrangement* held = arrangement;
    EXPECT_TRUE(fx.matchArrangement(&arrangement, arrangement));
    ASSERT_EQ(arrangement, held);
    EXPECT_EQ(arrangement->type, 3);
    expectSameBytes(speakerOf(arrangement, 0), patternedSpeaker("M", 5, 8));
    fx.deallocateArrangement(&arrangement);
}

// Overrides that log their calls and can be made to fail.
class Scripted : public Fx {
public:
    bool deallocateArrangement(VstSpeakerArrangement** arrangement) override {
        log.push_back("deallocate");
        return failDeallocate ? false : Fx::deallocateArrangement(arrangement);
    }
    bool allocateArrangement(VstSpeakerArrangement** arrangement, VstInt32 channels) override {
        log.push_back("allocate " + std::to_string(channels));
        return failAllocate ? false : Fx::allocateArrangement(arrangement, channels);
    }
    bool copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from) override {
        log.push_back("copy");
        if (copies++ == failingCopy) return false;
        return Fx::copySpeaker(to, from);
    }
    std::vector<std::string> log;
    bool failDeallocate = false;
    bool failAllocate = false;
    int failingCopy = -1;
    int copies = 0;
};

TEST(SpeakerArrangement, MatchStopsAtAFailingCopyAndKeepsThePartlyFilledBlock) {
    Scripted fx;
    fx.failingCopy = 1;
    const VstSpeakerProperties first = patternedSpeaker("A", 1, 9);
    SourceBlock source(2, {first, patternedSpeaker("B", 2, 10), patternedSpeaker("C", 3, 11)});
    VstSpeakerArrangement* destination = nullptr;
    EXPECT_FALSE(fx.matchArrangement(&destination, source.get()));
    EXPECT_EQ(fx.log, (std::vector<std::string>{"deallocate", "allocate 3", "copy", "copy"}));
    ASSERT_NE(destination, nullptr);
    EXPECT_EQ(destination->type, 2);
    EXPECT_EQ(destination->numChannels, 3);
    expectSameBytes(speakerOf(destination, 0), expectedCopy(first));
    VstSpeakerProperties zero;
    std::memset(&zero, 0, sizeof(zero));
    expectSameBytes(speakerOf(destination, 1), zero);
    expectSameBytes(speakerOf(destination, 2), zero);
    fx.Fx::deallocateArrangement(&destination);
}

TEST(SpeakerArrangement, MatchPassesOnAFailedReleaseOrAllocation) {
    SourceBlock source(1, {patternedSpeaker("A", 1, 12)});
    {
        Scripted fx;
        fx.failDeallocate = true;
        VstSpeakerArrangement* destination = nullptr;
        EXPECT_FALSE(fx.matchArrangement(&destination, source.get()));
        EXPECT_EQ(fx.log, std::vector<std::string>{"deallocate"});
        EXPECT_EQ(destination, nullptr);
    }
    {
        Scripted fx;
        fx.failAllocate = true;
        VstSpeakerArrangement* destination = nullptr;
        EXPECT_FALSE(fx.matchArrangement(&destination, source.get()));
        EXPECT_EQ(fx.log, (std::vector<std::string>{"deallocate", "allocate 1"}));
        EXPECT_EQ(destination, nullptr);
    }
}

}  // namespace
