#include "pcm/Mmpcmfade.h"
#include "pcm/Mmpcmsup.h"
#include "util/LittleEndian.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace orvelle {
namespace {

using Bytes = std::vector<uint8_t>;

TWaveFormatEx pcmFormat(int bits, int channels)
{
    TWaveFormatEx f{};
    pcmBuildWaveHeader(&f, bits, channels, 44100);
    return f;
}

Bytes samples16(std::initializer_list<int16_t> values)
{
    Bytes b;
    for (int16_t v : values)
        appendLe16(b, static_cast<uint16_t>(v));
    return b;
}

std::vector<int16_t> values16(const Bytes& b)
{
    std::vector<int16_t> v(b.size() / 2);
    std::memcpy(v.data(), b.data(), v.size() * 2);
    return v;
}

// A list holding `points`, positioned at `position` with the carried gains given.
struct Fade {
    TMMFadeList list;
    Fade(std::initializer_list<TMMFadePoint> points, int32_t position, int32_t left, int32_t right = 0)
    {
        for (const auto& p : points)
            list.Add(p);
        list.PlayState = {0, position, left, right};
    }
};

TMMFadePoint pointAt(int32_t position, int32_t left, int32_t right = 0) { return {position, 0, left, right, 0}; }

// ---- the cases the rules name ----

TEST(VolumeFade, UnityStretchLeavesTheDataAlone)
{
    Fade f({pointAt(100, 16384)}, 0, 16384);
    Bytes data(100);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    const Bytes before = data;
    const TWaveFormatEx fmt = pcmFormat(8, 1);
    EXPECT_FALSE(pcmVolumeFade(&fmt, data.data(), 100, &f.list));
    EXPECT_EQ(data, before);
    EXPECT_EQ(f.list.PlayState.Position, 100);
    EXPECT_EQ(f.list.PlayState.LeftVolume, 16384);
}

TEST(VolumeFade, RampIsSteppedPerFrameAndArrivesAtThePoint)
{
    const TWaveFormatEx fmt = pcmFormat(16, 1);
    // The same ramp of 4 frames in one buffer and in two: the second call re-plans from the
    // gain reached over the remaining frames.
    for (const std::vector<int32_t>& split : {std::vector<int32_t>{8}, {4, 4}, {2, 6}, {6, 2}, {1, 7}}) {
        Fade f({pointAt(8, 16384)}, 0, 0);
        Bytes data = samples16({1000, 1000, 1000, 1000});
        size_t at = 0;
        for (int32_t n : split) {
            pcmVolumeFade(&fmt, data.data() + at, n, &f.list);
            at += static_cast<size_t>(n);
        }
        if (split[0] == 1) // an odd first call leaves half a sample behind, as the rule goes
            continue;
        EXPECT_EQ(values16(data), (std::vector<int16_t>{0, 250, 500, 750})) << split[0];
        EXPECT_EQ(f.list.PlayState.LeftVolume, 16384);
        EXPECT_EQ(f.list.PlayState.Position, 8);
    }
    Fade half({pointAt(8, 16384)}, 0, 0);
    Bytes data = samples16({1000, 1000, 1000, 1000});
    pcmVolumeFade(&fmt, data.data(), 4, &half.list);
    EXPECT_EQ(half.list.PlayState.LeftVolume, 8192);
}

TEST(VolumeFade, ScalingRoundsTowardMinusInfinityAndClipsOnTheSamplesSide)
{
    struct Case {
        int bits;
        int32_t sample; // a byte for 8 bits, a value for 16
        int32_t gain;
        int32_t expected;
        bool overflow;
    };
    const Case cases[] = {
        {8, 129, 8192, 128, false},
        {8, 127, 8192, 127, false}, // floor(-0.5) is -1
        {8, 255, 32768, 255, true},
        {8, 0, 32768, 0, true},
        {8, 200, 16384, 200, false},
        {16, 30000, 32768, 32767, true},
        {16, -30000, 32768, -32768, true},
        {16, -1, 8192, -1, false},
        {16, 1, 8191, 0, false},
        {16, -32768, 16384, -32768, false},
        {16, 1000, 0, 0, false},
    };
    for (const auto& c : cases) {
        const TWaveFormatEx fmt = pcmFormat(c.bits, 1);
        const int32_t size = c.bits / 8;
        Fade f({pointAt(size, c.gain)}, 0, c.gain); // one frame at a constant gain
        Bytes data = c.bits == 8 ? Bytes{static_cast<uint8_t>(c.sample)} : samples16({static_cast<int16_t>(c.sample)});
        const bool result = (c.bits == 8 ? pcmVolumeFade8 : pcmVolumeFade16)(&fmt, data.data(), size, &f.list);
        const int32_t got = c.bits == 8 ? data[0] : values16(data)[0];
        EXPECT_EQ(got, c.expected) << c.bits << " bit " << c.sample << " at " << c.gain;
        EXPECT_EQ(result, c.overflow);
        EXPECT_EQ(pcmfade::Overflow, c.overflow);
    }
}

TEST(VolumeFade, UnityAndSilentChannelsOfAStereoFrame)
{
    const TWaveFormatEx fmt = pcmFormat(16, 2);
    // Long enough for the vector kernel, with a tail, and short.
    for (int frames : {3, 40}) {
        Fade f({pointAt(frames * 4, 16384, 0)}, 0, 16384, 0);
        Bytes data;
        for (int i = 0; i < frames; ++i) {
            const Bytes frame = samples16({static_cast<int16_t>(100 + i), static_cast<int16_t>(-200 - i)});
            data.insert(data.end(), frame.begin(), frame.end());
        }
        pcmVolumeFade(&fmt, data.data(), static_cast<int32_t>(data.size()), &f.list);
        const std::vector<int16_t> v = values16(data);
        for (int i = 0; i < frames; ++i) {
            EXPECT_EQ(v[2 * i], 100 + i);
            EXPECT_EQ(v[2 * i + 1], 0);
        }
    }
}

TEST(VolumeFade, DataAfterTheLastPointIsLeftAlone)
{
    const TWaveFormatEx fmt = pcmFormat(8, 1);
    Fade f({pointAt(0, 0), pointAt(4, 0)}, 0, 0);
    Bytes data(10, 200);
    pcmVolumeFade(&fmt, data.data(), 10, &f.list);
    EXPECT_EQ(data, (Bytes{128, 128, 128, 128, 200, 200, 200, 200, 200, 200}));
    EXPECT_EQ(f.list.PlayState.Position, 4); // the bytes beyond do not advance the position
    EXPECT_EQ(f.list.PlayState.Index, 2);
    pcmVolumeFade(&fmt, data.data() + 4, 6, &f.list);
    EXPECT_EQ(data[4], 200);
}

TEST(VolumeFade, RefusedFormatsAndArgumentsChangeNothing)
{
    Fade f({pointAt(0, 0), pointAt(40, 0)}, 0, 0);
    Bytes data(8, 77);
    const TWaveFormatEx adpcm = [] {
        TWaveFormatEx x = pcmFormat(16, 1);
        x.wFormatTag = 2;
        return x;
    }();
    TWaveFormatEx noChannels = pcmFormat(16, 1);
    noChannels.nChannels = 0;
    const TWaveFormatEx pcm24 = pcmFormat(24, 1), pcm32 = pcmFormat(32, 2), mono16 = pcmFormat(16, 1);
    struct Case {
        const char* what;
        bool (*routine)(const TWaveFormatEx*, void*, int32_t, TMMFadeList*);
        const TWaveFormatEx* format;
        bool withData, withList;
    };
    const Case cases[] = {
        {"null format", pcmVolumeFade, nullptr, true, true},
        {"null format 8", pcmVolumeFade8, nullptr, true, true},
        {"null format 16", pcmVolumeFade16, nullptr, true, true},
        {"format tag 2", pcmVolumeFade, &adpcm, true, true},
        {"format tag 2, 8", pcmVolumeFade8, &adpcm, true, true},
        {"format tag 2, 16", pcmVolumeFade16, &adpcm, true, true},
        {"24 bits", pcmVolumeFade, &pcm24, true, true},
        {"32 bits", pcmVolumeFade, &pcm32, true, true},
        {"no channels", pcmVolumeFade16, &noChannels, true, true},
        {"no list", pcmVolumeFade, &mono16, true, false},
        {"no data", pcmVolumeFade, &mono16, false, true},
    };
    for (const auto& c : cases) {
        pcmfade::Overflow = true;
        EXPECT_FALSE(c.routine(c.format, c.withData ? data.data() : nullptr, 8, c.withList ? &f.list : nullptr))
            << c.what;
        EXPECT_EQ(data, Bytes(8, 77)) << c.what;
        EXPECT_EQ(f.list.PlayState.Position, 0) << c.what;
    }
}

TEST(VolumeFade, APointCloserThanOneFrameJumpsToItsGains)
{
    const TWaveFormatEx fmt = pcmFormat(16, 2);
    // Points off the frame grid: 2 bytes to the first (half a frame), then a whole frame.
    Fade f({pointAt(2, 8192, 4096), pointAt(6, 8192, 4096)}, 0, 16384, 16384);
    Bytes data = samples16({1000, 1000, 1000, 1000});
    pcmVolumeFade(&fmt, data.data(), 8, &f.list);
    // The first 2 bytes hold no whole frame; the frame at byte 2 is scaled by the jumped-to gains.
    EXPECT_EQ(values16(data), (std::vector<int16_t>{1000, 500, 250, 1000}));
    EXPECT_EQ(f.list.PlayState.LeftVolume, 8192);
    EXPECT_EQ(f.list.PlayState.RightVolume, 4096);
}

TEST(VolumeFade, OnlyTheFirstTwoChannelsOfWiderFramesAreFaded)
{
    const TWaveFormatEx fmt = pcmFormat(16, 3);
    Fade f({pointAt(12, 0, 0)}, 0, 0, 0);
    Bytes data = samples16({1000, 2000, 3000, 1000, 2000, 3000});
    pcmVolumeFade(&fmt, data.data(), 12, &f.list);
    EXPECT_EQ(values16(data), (std::vector<int16_t>{0, 0, 3000, 0, 0, 3000}));
}

TEST(VolumeFade, OverflowIsClearedOnEntry)
{
    const TWaveFormatEx fmt = pcmFormat(16, 1);
    Fade f({pointAt(4, 32768)}, 0, 32768);
    Bytes data = samples16({30000, 10});
    EXPECT_TRUE(pcmVolumeFade(&fmt, data.data(), 2, &f.list));
    EXPECT_FALSE(pcmVolumeFade(&fmt, data.data() + 2, 2, &f.list));
    EXPECT_FALSE(pcmfade::Overflow);
    EXPECT_EQ(values16(data), (std::vector<int16_t>{32767, 20}));
}

TEST(VolumeFade, AReachedPointOnlyAdvancesTheIndex)
{
    const TWaveFormatEx fmt = pcmFormat(8, 1);
    // Positioned on the first point: its gains are not taken, the ramp to the second starts
    // from the carried gain.
    Fade f({pointAt(0, 0), pointAt(4, 16384)}, 0, 16384);
    Bytes data(4, 228); // s = 100
    pcmVolumeFade(&fmt, data.data(), 4, &f.list);
    EXPECT_EQ(data, Bytes(4, 228));
    EXPECT_EQ(f.list.PlayState.Index, 2);
}

// ---- a plain reference from the rules, against the routines on random streams ----

struct RefState {
    int32_t index = 0, position = 0, left = 0, right = 0;
};

int32_t refScale(int32_t s, int64_t g, int32_t lo, int32_t hi, bool& overflow)
{
    const double v = std::floor(static_cast<double>(s) * static_cast<double>(g) / 16384.0);
    if (v < lo || v > hi) {
        overflow = true;
        return s >= 0 ? hi : lo;
    }
    return static_cast<int32_t>(v);
}

// One channel of one segment, stepped exactly as written.
int64_t refChannel(
    uint8_t* p, int64_t count, int frameSize, bool is16, int64_t g0, int64_t g1, int64_t frames, bool& overflow)
{
    auto get = [&](int64_t k) {
        if (is16) {
            int16_t s;
            std::memcpy(&s, p + k * frameSize, 2);
            return static_cast<int32_t>(s);
        }
        return static_cast<int32_t>(p[k * frameSize]) - 128;
    };
    auto put = [&](int64_t k, int32_t v) {
        if (is16) {
            const auto s = static_cast<int16_t>(v);
            std::memcpy(p + k * frameSize, &s, 2);
        } else {
            p[k * frameSize] = static_cast<uint8_t>(v + 128);
        }
    };
    if (g0 == 16384 && g1 == 16384)
        return 16384;
    if (g0 == 0 && g1 == 0) {
        for (int64_t k = 0; k < count; ++k)
            put(k, 0);
        return 0;
    }
    const int64_t delta = g1 >= g0 ? g1 - g0 : g0 - g1;
    const int64_t q = delta / frames, r = delta % frames, dir = g1 >= g0 ? 1 : -1;
    int64_t g = g0, acc = frames / 2;
    for (int64_t k = 0; k < count; ++k) {
        put(k, refScale(get(k), g, is16 ? -32768 : -128, is16 ? 32767 : 127, overflow));
        g += dir * q;
        acc -= r;
        if (acc < 0) {
            acc += frames;
            g += dir;
        }
    }
    return g;
}

bool refFade(bool is16, int channels, uint8_t* data, int32_t count, const TMMFadeList& list, RefState& st)
{
    bool overflow = false;
    const int bytes = is16 ? 2 : 1, frameSize = bytes * channels;
    st.index = std::max(list.LocateFadePoint(st.position) - 1, 0);
    int64_t remaining = count;
    while (remaining > 0 && st.index < list.Count()) {
        const TMMFadePoint& pt = list.Get(st.index);
        const int64_t n = std::min<int64_t>(remaining, int64_t{pt.Position} - st.position);
        if (n > 0) {
            const int64_t frames = (int64_t{pt.Position} - st.position) / frameSize;
            if (frames == 0) {
                st.left = pt.LeftVolume;
                if (channels > 1)
                    st.right = pt.RightVolume;
            } else {
                const int64_t samples = n / frameSize;
                st.left = static_cast<int32_t>(
                    refChannel(data, samples, frameSize, is16, st.left, pt.LeftVolume, frames, overflow));
                if (channels > 1)
                    st.right = static_cast<int32_t>(
                        refChannel(data + bytes, samples, frameSize, is16, st.right, pt.RightVolume, frames, overflow));
            }
            data += n;
            remaining -= n;
            st.position = static_cast<int32_t>(st.position + n);
        }
        if (st.position >= pt.Position)
            ++st.index;
    }
    return overflow;
}

int32_t pick(std::mt19937& rng, int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); }

// Gains as a fade sees them: 0, unity, in between, above unity; with `wild` any 32-bit value.
int32_t randomGain(std::mt19937& rng, bool wild)
{
    switch (pick(rng, 0, wild ? 6 : 4)) {
    case 0:
        return 0;
    case 1:
        return 16384;
    case 2:
        return pick(rng, 0, 16384);
    case 3:
        return pick(rng, 16384, 65535);
    case 4:
        return pick(rng, 65536, 200000);
    case 5:
        return pick(rng, INT32_MIN, -1);
    default:
        return pick(rng, INT32_MIN, INT32_MAX);
    }
}

struct Trial {
    int bits, channels;
    bool wild; // positions unsorted, off the frame grid, far away; gains of any value
};

void runTrial(std::mt19937& rng, const Trial& t, int round)
{
    const bool is16 = t.bits == 16;
    const int frameSize = t.bits / 8 * t.channels;
    const int32_t size = pick(rng, 0, 6000);
    const int32_t start = t.wild && pick(rng, 0, 3) == 0 ? pick(rng, INT32_MIN, INT32_MAX - size) : pick(rng, -64, 64);
    TMMFadeList list;
    const int points = pick(rng, 0, 8);
    for (int i = 0; i < points; ++i) {
        int32_t pos = start + pick(rng, -200, size + 200);
        if (!t.wild)
            pos -= ((pos % frameSize) + frameSize) % frameSize;
        else if (pick(rng, 0, 4) == 0)
            pos = pick(rng, INT32_MIN, INT32_MAX);
        list.Add(TMMFadePoint{pos, 0, randomGain(rng, t.wild), randomGain(rng, t.wild), 0});
    }
    if (!t.wild || pick(rng, 0, 1) == 0)
        list.Sort();
    RefState ref{0, start, randomGain(rng, t.wild), randomGain(rng, t.wild)};
    list.PlayState = {pick(rng, -5, 10), ref.position, ref.left, ref.right};

    Bytes original(static_cast<size_t>(size));
    for (auto& b : original)
        b = static_cast<uint8_t>(rng());
    Bytes got = original, want = original;
    const TWaveFormatEx fmt = pcmFormat(t.bits, t.channels);
    int32_t at = 0;
    int call = 0;
    while (at < size) {
        // Mostly whole frames, sometimes any byte count.
        int32_t n = pick(rng, 1, std::min(size - at, pick(rng, 0, 1) ? 64 : 4096));
        if (pick(rng, 0, 3) != 0 && n >= frameSize)
            n -= n % frameSize;
        const bool gotOverflow = pcmVolumeFade(&fmt, got.data() + at, n, &list);
        const bool wantOverflow = refFade(is16, t.channels, want.data() + at, n, list, ref);
        at += n;
        ASSERT_EQ(got, want) << t.bits << " bit, " << t.channels << " ch, round " << round << ", call " << call;
        ASSERT_EQ(gotOverflow, wantOverflow) << "round " << round << ", call " << call;
        ASSERT_EQ(list.PlayState.Index, ref.index);
        ASSERT_EQ(list.PlayState.Position, ref.position);
        ASSERT_EQ(list.PlayState.LeftVolume, ref.left);
        if (t.channels > 1) {
            ASSERT_EQ(list.PlayState.RightVolume, ref.right);
        }
        ++call;
    }
}

// Every vector width the processor runs, and none, must give the reference's bytes.
class VolumeFadeWidths : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { pcmfade::limitVectorLanes(GetParam()); }
    void TearDown() override { pcmfade::limitVectorLanes(16); }
};

// 8- and 16-bit, mono and stereo, `rounds` random streams each.
void runTrials(uint32_t seed, bool wild, int rounds)
{
    std::mt19937 rng(seed);
    for (int bits : {8, 16})
        for (int channels : {1, 2})
            for (int round = 0; round < rounds; ++round) {
                runTrial(rng, Trial{bits, channels, wild}, round);
                if (::testing::Test::HasFatalFailure())
                    return;
            }
}

TEST_P(VolumeFadeWidths, MatchesThePlainReferenceOnRandomStreamsAndSplits) { runTrials(2026, false, 300); }

TEST_P(VolumeFadeWidths, ArbitraryPointListsMatchTheReferenceWithoutFault) { runTrials(99, true, 300); }

// Long ramps at gains the vector kernels take, so that most samples go through them.
TEST_P(VolumeFadeWidths, LongRampsMatchTheReference)
{
    std::mt19937 rng(5);
    for (const Trial t : {Trial{8, 1, false}, Trial{8, 2, false}, Trial{16, 1, false}, Trial{16, 2, false}})
        for (int round = 0; round < 40; ++round) {
            const int frameSize = t.bits / 8 * t.channels;
            const int32_t size = 8192 * frameSize;
            TMMFadeList list;
            for (int32_t pos : {0, pick(rng, 1, 4000) * frameSize, size})
                list.Add(TMMFadePoint{pos, 0, pick(rng, 0, 65535), pick(rng, 0, 65535), 0});
            list.Sort();
            RefState ref{0, 0, pick(rng, 0, 65535), pick(rng, 0, 65535)};
            list.PlayState = {0, 0, ref.left, ref.right};
            Bytes got(static_cast<size_t>(size));
            for (auto& b : got)
                b = static_cast<uint8_t>(rng());
            Bytes want = got;
            const TWaveFormatEx fmt = pcmFormat(t.bits, t.channels);
            const bool gotOverflow = pcmVolumeFade(&fmt, got.data(), size, &list);
            EXPECT_EQ(gotOverflow, refFade(t.bits == 16, t.channels, want.data(), size, list, ref));
            ASSERT_EQ(got, want) << t.bits << " bit, " << t.channels << " ch, round " << round;
            EXPECT_EQ(list.PlayState.LeftVolume, ref.left);
        }
}

INSTANTIATE_TEST_SUITE_P(Lanes, VolumeFadeWidths, ::testing::Values(16, 8, 0),
    [](const ::testing::TestParamInfo<int>& info) { return "lanes" + std::to_string(info.param); });

} // namespace
} // namespace orvelle
