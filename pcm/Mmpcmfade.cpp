#include "pcm/Mmpcmfade.h"

#include <algorithm>
#include <cstring>

#include "util/Mmutils.h"

namespace orvelle {

namespace {
int laneLimit = 16; // widest vector kernel the ramps may use
} // namespace

namespace pcmfade {
bool Overflow = false;
void limitVectorLanes(int lanes) { laneLimit = lanes; }
} // namespace pcmfade

namespace {

__extension__ typedef __int128 Int128;

constexpr int32_t kUnity = 16384;

// How the samples lie: bytes per sample, bytes per frame, channels faded (1 or 2).
struct Layout {
    int bytes;
    int frameSize;
    int channels;
    bool contiguous() const { return frameSize == bytes * channels; }
};

// The exact stepping of one channel's gain over a ramp of `frames` frames from g0 towards
// g1: per frame the gain grows by q and, whenever the accumulator (starting at half a ramp)
// runs below 0 after taking r off, by one more. Over the whole ramp it arrives at g1.
struct GainRamp {
    int64_t frames, q, r, half, g0;
    int dir;

    GainRamp(int32_t from, int32_t to, int64_t length) : frames(length), q(0), r(0), half(length / 2), g0(from)
    {
        const int64_t delta = to >= from ? int64_t{to} - from : int64_t{from} - to;
        if (delta != 0) { // a constant gain, the common case, needs no division
            q = delta / frames;
            r = delta % frames;
        }
        dir = to >= from ? 1 : -1;
    }
    bool constant(int32_t gain) const { return q == 0 && r == 0 && g0 == gain; }

    // The gain and accumulator for frame m, in closed form: after m steps the accumulator has
    // wrapped c times, the one c that puts half - m*r + c*frames into 0..frames-1.
    void at(int64_t m, int64_t& gain, int64_t& acc) const
    {
        int64_t wraps = 0;
        acc = half;
        if (r != 0) {
            const Int128 taken = Int128{m} * r;
            wraps = static_cast<int64_t>((taken + (frames - 1 - half)) / frames);
            acc = static_cast<int64_t>(half - taken + Int128{wraps} * frames);
        }
        gain = g0 + dir * (m * q + wraps);
    }
    // The same stepping one frame at a time, as the sample loops do.
    void next(int64_t& gain, int64_t& acc) const
    {
        gain += dir * q;
        acc -= r;
        if (acc < 0) {
            acc += frames;
            gain += dir;
        }
    }
    int32_t gainAt(int64_t m) const
    {
        int64_t gain, acc;
        at(m, gain, acc);
        return static_cast<int32_t>(gain); // between g0 and g1 for m <= frames
    }
};

// floor(s * g / 16384), clipped to the sample range on the side of the sample's sign.
template <int32_t Lo, int32_t Hi> inline int32_t scaleSample(int32_t s, int64_t gain, bool& clipped)
{
    const int64_t v = (int64_t{s} * gain) >> 14;
    if (v < Lo || v > Hi) {
        clipped = true;
        return s >= 0 ? Hi : Lo;
    }
    return static_cast<int32_t>(v);
}

template <bool Is16> inline void scaleAt(uint8_t* p, int64_t gain, bool& clipped)
{
    if constexpr (Is16) {
        int16_t s;
        std::memcpy(&s, p, 2);
        const auto out = static_cast<int16_t>(scaleSample<-32768, 32767>(s, gain, clipped));
        std::memcpy(p, &out, 2);
    } else {
        *p = static_cast<uint8_t>(scaleSample<-128, 127>(*p - 128, gain, clipped) + 128);
    }
}

// `count` samples of one channel, `stride` bytes apart, from frame `first` of the ramp on.
template <bool Is16>
void rampScalar(uint8_t* p, int64_t count, int stride, const GainRamp& ramp, int64_t first, bool& clipped)
{
    int64_t gain, acc;
    ramp.at(first, gain, acc);
    for (int64_t k = 0; k < count; ++k, p += stride) {
        scaleAt<Is16>(p, gain, clipped);
        ramp.next(gain, acc);
    }
}

// The vector kernels step 32 samples (16-bit) or 64 (8-bit) at a time. Lanes holds, for
// each sample j of such a step, the gain and accumulator of its channel at its frame, and the
// gain and accumulator change of one step (a step moves every sample on by the same number
// of frames).
constexpr int kMaxStepSamples = 64;

struct Lanes {
    int32_t gain[kMaxStepSamples], acc[kMaxStepSamples], step[kMaxStepSamples], stepUp[kMaxStepSamples],
        rest[kMaxStepSamples];
    int32_t frames;
};

constexpr int stepSamples(bool is16) { return is16 ? 32 : 64; }

// Lanes are 32-bit: gains of 0..65535 keep s * g inside 32 bits, and with gains that are
// not negative, clipping on the side of the sample's sign is plain saturation. The data is
// loaded as 32-bit words and split by shifts into one vector per position in the word (2
// samples of 16 bits, 4 of 8), so no lane ever crosses another; each such vector holds one
// channel, and each steps on its own, so that their stepping runs side by side. The same
// source is built for 16 lanes on AVX-512 and for 8 lanes on AVX2.
#define ORVELLE_INLINE [[gnu::always_inline]] inline

typedef int32_t V8 __attribute__((vector_size(32)));
typedef int32_t V16 __attribute__((vector_size(64)));

// Vectors go by reference: by value they would change the calling convention per target.
template <typename VInt, int Bytes> struct WordLanes {
    typedef uint32_t VWord __attribute__((vector_size(sizeof(VInt))));
    static constexpr int kWidth = sizeof(VInt) / 4;
    static constexpr int kPerWord = 4 / Bytes;
    static constexpr int kLoads = stepSamples(Bytes == 2) / (kWidth * kPerWord);
    static constexpr int kGroups = kLoads * kPerWord;
    static constexpr int32_t kLo = Bytes == 2 ? -32768 : -128, kHi = Bytes == 2 ? 32767 : 127;

    VInt gain[kGroups], acc[kGroups], step[kGroups], stepUp[kGroups], rest[kGroups];
    VInt frames, lowest, highest;

    // Lane i of group g holds sample `sampleOf(g, i)` of the step.
    static constexpr int sampleOf(int g, int i)
    {
        return (g / kPerWord) * kWidth * kPerWord + i * kPerWord + g % kPerWord;
    }

    ORVELLE_INLINE explicit WordLanes(const Lanes& l)
    {
        for (int g = 0; g < kGroups; ++g)
            for (int i = 0; i < kWidth; ++i) {
                const int j = sampleOf(g, i);
                gain[g][i] = l.gain[j];
                acc[g][i] = l.acc[j];
                step[g][i] = l.step[j];
                stepUp[g][i] = l.stepUp[j];
                rest[g][i] = l.rest[j];
            }
        frames = VInt{} + l.frames;
        lowest = VInt{};
        highest = VInt{};
    }
    // floor(s * g / 16384), clamped when the gains may clip; the extremes seen tell whether any did.
    template <bool Clamp> ORVELLE_INLINE void scale(VInt& s, int g)
    {
        s = (s * gain[g]) >> 14;
        if constexpr (Clamp) {
            lowest = s < lowest ? s : lowest;
            highest = s > highest ? s : highest;
            const VInt lo = VInt{} + kLo, hi = VInt{} + kHi;
            s = s < lo ? lo : s;
            s = s > hi ? hi : s;
        }
    }
    ORVELLE_INLINE void advance(int g)
    {
        VInt& a = acc[g];
        a -= rest[g];
        const VInt wrap = a < 0;
        a += wrap & frames; // added only where it wrapped: elsewhere a + frames may not fit
        gain[g] += wrap ? stepUp[g] : step[g];
    }
    ORVELLE_INLINE bool clipped() const
    {
        bool any = false;
        for (int i = 0; i < kWidth; ++i)
            any = any || lowest[i] < kLo || highest[i] > kHi;
        return any;
    }
    // Sample t of every word, as a signed value.
    ORVELLE_INLINE static void unpack(const VWord& w, int t, VInt& s)
    {
        if constexpr (Bytes == 2)
            s = t == 0 ? reinterpret_cast<VInt>(w << 16) >> 16 : reinterpret_cast<VInt>(w) >> 16;
        else
            s = reinterpret_cast<VInt>((w >> (8 * t)) & 0xFF) - 128;
    }
    // Puts the samples back as sample t of every word.
    ORVELLE_INLINE static void pack(VWord& out, const VInt& s, int t)
    {
        if constexpr (Bytes == 2)
            out |= (reinterpret_cast<VWord>(s) & 0xFFFF) << (16 * t);
        else
            out |= reinterpret_cast<VWord>(s + 128) << (8 * t);
    }
};

template <typename VInt, int Bytes, bool Clamp> ORVELLE_INLINE bool rampWords(uint8_t* p, int64_t steps, const Lanes& l)
{
    using W = WordLanes<VInt, Bytes>;
    typename W::VWord word, out;
    W v(l);
    for (int64_t i = 0; i < steps; ++i) {
        for (int k = 0; k < W::kLoads; ++k, p += sizeof word) {
            std::memcpy(&word, p, sizeof word);
            out = typename W::VWord{};
#pragma GCC unroll 4
            for (int t = 0; t < W::kPerWord; ++t) {
                const int g = k * W::kPerWord + t;
                VInt s;
                W::unpack(word, t, s);
                v.template scale<Clamp>(s, g);
                W::pack(out, s, t);
                v.advance(g);
            }
            std::memcpy(p, &out, sizeof out);
        }
    }
    return Clamp && v.clipped();
}

using RampKernel = bool (*)(uint8_t* p, int64_t steps, const Lanes& l);

#if defined(__x86_64__)
template <int Bytes, bool Clamp>
__attribute__((target("arch=x86-64-v4"))) bool rampWide(uint8_t* p, int64_t steps, const Lanes& l)
{
    return rampWords<V16, Bytes, Clamp>(p, steps, l);
}
template <int Bytes, bool Clamp>
__attribute__((target("avx2"))) bool rampAvx2(uint8_t* p, int64_t steps, const Lanes& l)
{
    return rampWords<V8, Bytes, Clamp>(p, steps, l);
}

int widestLanes()
{
    static const int lanes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
            __builtin_cpu_supports("avx512cd")
        ? 16
        : (__builtin_cpu_supports("avx2") ? 8 : 0);
    return lanes;
}

template <int Bytes> RampKernel kernelFor(int lanes, bool clamp)
{
    if (lanes >= 16)
        return clamp ? rampWide<Bytes, true> : rampWide<Bytes, false>;
    if (lanes >= 8)
        return clamp ? rampAvx2<Bytes, true> : rampAvx2<Bytes, false>;
    return nullptr;
}
#endif

// The kernel for 16- or 8-bit samples at the widest width allowed and available, with or
// without clamping; null when the ramps stay scalar.
RampKernel rampKernel(bool is16, bool clamp)
{
#if defined(__x86_64__)
    const int lanes = std::min(widestLanes(), laneLimit);
    return is16 ? kernelFor<2>(lanes, clamp) : kernelFor<1>(lanes, clamp);
#else
    (void)is16;
    (void)clamp;
    return nullptr;
#endif
}

bool fitsLanes(const GainRamp& ramp, int32_t g1)
{
    return ramp.frames <= INT32_MAX && ramp.g0 >= 0 && ramp.g0 <= 65535 && g1 >= 0 && g1 <= 65535;
}

// Runs a vector kernel over the whole steps of contiguous data; returns the frames done.
template <bool Is16> int64_t rampVector(
    uint8_t* p, int64_t samples, const Layout& lay, const GainRamp* ramps, const int32_t* to, bool& clipped)
{
    // Gains up to unity cannot clip: |s * g / 16384| <= |s|.
    bool mayClip = false;
    for (int c = 0; c < lay.channels; ++c)
        mayClip = mayClip || ramps[c].g0 > kUnity || to[c] > kUnity;
    const RampKernel kernel = rampKernel(Is16, mayClip);
    const int64_t perStep = stepSamples(Is16) / lay.channels;
    const int64_t steps = samples / perStep;
    if (kernel == nullptr || steps == 0)
        return 0;
    Lanes l;
    l.frames = static_cast<int32_t>(ramps[0].frames);
    for (int c = 0; c < lay.channels; ++c) {
        const GainRamp& ramp = ramps[c];
        // perStep frames take perStep * r off the accumulator: whole ramps of it add to the
        // gain at every step, the rest may wrap once more. Both fit 32 bits: r < frames.
        const int64_t taken = perStep * ramp.r;
        const int64_t step = ramp.dir * (perStep * ramp.q + taken / ramp.frames);
        int64_t gain, acc;
        ramp.at(0, gain, acc);
        for (int64_t m = 0; m < perStep; ++m, ramp.next(gain, acc)) {
            const auto j = static_cast<size_t>(m * lay.channels + c);
            l.gain[j] = static_cast<int32_t>(gain);
            l.acc[j] = static_cast<int32_t>(acc);
            l.rest[j] = static_cast<int32_t>(taken % ramp.frames);
            l.step[j] = static_cast<int32_t>(step);
            l.stepUp[j] = static_cast<int32_t>(step + ramp.dir);
        }
    }
    if (kernel(p, steps, l))
        clipped = true;
    return steps * perStep;
}

template <bool Is16> void fillSilence(uint8_t* p, int64_t count, int stride)
{
    for (int64_t k = 0; k < count; ++k, p += stride)
        std::memset(p, Is16 ? 0 : 128, Is16 ? 2 : 1);
}

// One segment: `n` bytes at `p`, on the ramp of `distance` bytes from gains `from` to the
// gains `to` of the next point. Stores the gains for the frame after the last one handled.
template <bool Is16> bool fadeSegment(uint8_t* p, int64_t n, const Layout& lay, int64_t distance, const int32_t* from,
    const int32_t* to, int32_t* reached)
{
    const int64_t frames = distance / lay.frameSize;
    if (frames == 0) { // a point closer than one frame: its gains apply at once
        std::copy_n(to, lay.channels, reached);
        return false;
    }
    const int64_t samples = n / lay.frameSize;
    const GainRamp ramps[2] = {GainRamp(from[0], to[0], frames), GainRamp(from[1], to[1], frames)};
    bool unity = true, silent = true, vector = lay.contiguous();
    for (int c = 0; c < lay.channels; ++c) {
        reached[c] = ramps[c].gainAt(samples);
        unity = unity && ramps[c].constant(kUnity);
        silent = silent && ramps[c].constant(0);
        vector = vector && fitsLanes(ramps[c], to[c]);
    }
    bool clipped = false;
    if (unity || samples == 0)
        return false;
    if (silent && lay.contiguous()) {
        std::memset(p, Is16 ? 0 : 128, static_cast<size_t>(samples * lay.frameSize));
        return false;
    }
    // The vector kernel handles both channels of a stereo frame together; a unity or silent
    // channel there comes out as it would when skipped (s * 16384 >> 14 is s, s * 0 is 0).
    const int64_t done = vector ? rampVector<Is16>(p, samples, lay, ramps, to, clipped) : 0;
    for (int c = 0; c < lay.channels; ++c) {
        uint8_t* first = p + done * lay.frameSize + c * lay.bytes;
        if (done == 0 && ramps[c].constant(kUnity))
            continue;
        if (done == 0 && ramps[c].constant(0))
            fillSilence<Is16>(first, samples, lay.frameSize);
        else
            rampScalar<Is16>(first, samples - done, lay.frameSize, ramps[c], done, clipped);
    }
    return clipped;
}

template <bool Is16> bool volumeFade(const TWaveFormatEx* format, void* data, int32_t count, TMMFadeList* list)
{
    pcmfade::Overflow = false;
    if (format == nullptr || format->wFormatTag != WAVE_FORMAT_PCM || format->nChannels == 0 || list == nullptr ||
        (data == nullptr && count > 0))
        return false;
    const int bytes = Is16 ? 2 : 1;
    const Layout lay{bytes, bytes * format->nChannels, std::min<int>(format->nChannels, 2)};
    TMMFadePlayState& state = list->PlayState;
    state.Index = Max(list->LocateFadePoint(state.Position) - 1, 0);
    auto* p = static_cast<uint8_t*>(data);
    int64_t remaining = count;
    while (remaining > 0 && state.Index < list->Count()) {
        const TMMFadePoint& point = list->Get(state.Index);
        const int64_t distance = int64_t{point.Position} - state.Position;
        const int64_t n = std::min(remaining, distance);
        if (n > 0) {
            const int32_t from[2] = {state.LeftVolume, state.RightVolume};
            const int32_t to[2] = {point.LeftVolume, point.RightVolume};
            int32_t reached[2] = {state.LeftVolume, state.RightVolume};
            if (fadeSegment<Is16>(p, n, lay, distance, from, to, reached))
                pcmfade::Overflow = true;
            state.LeftVolume = reached[0];
            state.RightVolume = reached[1]; // a mono fade leaves the second gain as it was
            p += n;
            remaining -= n;
            state.Position = static_cast<int32_t>(state.Position + n); // n <= distance: stays at or before the point
        }
        if (state.Position >= point.Position)
            ++state.Index;
    }
    return pcmfade::Overflow;
}

} // namespace

bool pcmVolumeFade8(const TWaveFormatEx* format, void* data, int32_t count, TMMFadeList* list)
{
    return volumeFade<false>(format, data, count, list);
}

bool pcmVolumeFade16(const TWaveFormatEx* format, void* data, int32_t count, TMMFadeList* list)
{
    return volumeFade<true>(format, data, count, list);
}

bool pcmVolumeFade(const TWaveFormatEx* format, void* data, int32_t count, TMMFadeList* list)
{
    if (format == nullptr || format->wFormatTag != WAVE_FORMAT_PCM)
        return false;
    // Other sample sizes would be read as 16-bit samples and come out garbled.
    if (format->wBitsPerSample == 8)
        return pcmVolumeFade8(format, data, count, list);
    if (format->wBitsPerSample == 16)
        return pcmVolumeFade16(format, data, count, list);
    return false;
}

} // namespace orvelle
