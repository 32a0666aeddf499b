// The wave object: play regions, opening and closing, positioning, reading, writing and
// creating wave files.
#include <cstring>
#include <limits>

#include "platform/Sysfile.h"
#include "util/Mmutils.h"
#include "wave/Mmwave.h"
#include "waveio/Mmio.h"

namespace orvelle {

namespace {

constexpr int64_t kMaxInt32 = std::numeric_limits<int32_t>::max();

int32_t ClampToInt32(int64_t v) { return static_cast<int32_t>(v < 0 ? 0 : (v > kMaxInt32 ? kMaxInt32 : v)); }

// Releases a control block made for a binding unless `owner` has taken it.
struct BlockGuard {
    explicit BlockGuard(TWAVEIOCB* const& owner) : owner(owner) { }
    BlockGuard(const BlockGuard&) = delete;
    BlockGuard& operator=(const BlockGuard&) = delete;
    ~BlockGuard()
    {
        if (block && block != owner)
            wioFreeFileInfo(block);
    }
    TWAVEIOCB* block = nullptr;
    TWAVEIOCB* const& owner;
};

} // namespace

void TMMWave::InitRegionList()
{
    regions_.Clear();
    if (!cb_)
        return;
    const int32_t start = RealSamplesToSamples(startPos_);
    const int32_t end = RealSamplesToSamples(endPos_);
    TMMCutRegion r{};
    r.StartPos = start;
    r.Length = ClampToInt32(static_cast<int64_t>(end) - start);
    r.StartBytes = SamplesToBytes(r.StartPos);
    r.LengthBytes = SamplesToBytes(r.Length);
    r.Reserved = 0;
    regions_.Add(r);
}

int32_t TMMWave::PlayLength() const
{
    int64_t sum = 0;
    for (int32_t i = 0; i < regions_.Count(); ++i)
        sum += regions_.Get(i).Length;
    return ClampToInt32(sum);
}

void TMMWave::OpenFile()
{
    if (!cb_)
        return;
    if (wioWaveOpen(cb_) != 0)
        Error(SUnableToOpenWave);
    if (wioSetIOBufferSize(cb_, ioBufferSize_) != 0)
        Error(SUnableToSetupIOBuffer);
    InitRegionList();
    InitPlayFadeList(false);
    open_ = true;
    SetPosition(GetPosition());
}

void TMMWave::CloseFile()
{
    // Finishing a written file reports its failure only through the engine's code;
    // closing itself never fails, so the code is not turned into an exception here.
    if (cb_)
        wioWaveClose(cb_);
    open_ = false;
    position_ = 0;
    bytesLeft_ = 0;
    regionBytesLeft_ = 0;
}

int32_t TMMWave::GetPosition() const { return cb_ ? SamplesToTimeFormat(position_) : -1; }

void TMMWave::SetPosition(int32_t value)
{
    if (!cb_)
        return;
    position_ = TimeFormatToSamples(value);
    if (!open_)
        return; // applied by the next OpenFile
    const int32_t length = PlayLength();
    const int32_t p = MinMax(RealSamplesToSamples(position_), 0, length);
    lengthBytes_ = SamplesToBytes(length);
    bytesLeft_ = lengthBytes_ - SamplesToBytes(p);
    regionIndex_ = -1;
    regionBytesLeft_ = -1;
    InitPlayFadeList(true);
    SeekToPlayPosition(p);
}

// Finds the play region holding playing position `p` and seeks the engine there.
void TMMWave::SeekToPlayPosition(int32_t p)
{
    int64_t sum = 0;
    for (int32_t i = 0; i < regions_.Count(); ++i) {
        const TMMCutRegion& r = regions_.Get(i);
        sum += r.Length;
        if (sum < p)
            continue;
        const int32_t rest = static_cast<int32_t>(sum - p); // 0 <= rest <= r.Length
        const int32_t sample = SamplesToRealSamples(r.StartPos + (r.Length - rest));
        // A failed seek is tried once more before it counts.
        if (wioWaveSetPosition(cb_, sample) != 0 && wioWaveSetPosition(cb_, sample) != 0)
            Error(SErrorSeeking);
        regionBytesLeft_ = SamplesToBytes(rest);
        regionIndex_ = i;
        return;
    }
    Error(SErrorSeeking);
}

int32_t TMMWave::ReadInternal(char* buffer, int32_t count) { return wioWaveReadData(cb_, buffer, count); }

int32_t TMMWave::ReadDataBytes(char* buffer, int32_t count)
{
    if (!cb_ || !buffer || bytesLeft_ <= 0)
        return -1;
    int32_t total = 0;
    int32_t n = Min(count, bytesLeft_);
    while (n > 0) {
        if (regionBytesLeft_ > 0) {
            const int32_t k = Min(n, regionBytesLeft_);
            // Never trust a count beyond what was asked for.
            const int32_t r = Min(ReadInternal(buffer + total, k), k);
            if (r <= 0)
                break;
            n -= r;
            total += r;
            regionBytesLeft_ -= r;
        } else if (regionIndex_ + 1 < regions_.Count()) {
            ++regionIndex_;
            const TMMCutRegion& next = regions_.Get(regionIndex_);
            regionBytesLeft_ = next.LengthBytes;
            wioWaveSetPosition(cb_, SamplesToRealSamples(next.StartPos)); // checked by the next read
        } else {
            bytesLeft_ = 0;
            break;
        }
    }
    if (total > 0) {
        bytesLeft_ -= total;
        position_ = SamplesToRealSamples(BytesToSamples(lengthBytes_ - bytesLeft_));
        return total;
    }
    // Bytes were due but none came: end the data with one result of four zero bytes.
    std::memset(buffer, 0, 4);
    bytesLeft_ = 0;
    regionBytesLeft_ = 0;
    position_ = PlayLength();
    return 4;
}

int32_t TMMWave::ReadDataSamples(char* buffer, int32_t count)
{
    if (!cb_)
        return -1;
    const int32_t r = ReadDataBytes(buffer, SamplesToBytes(count));
    return r > 0 ? BytesToSamples(r) : -1;
}

int32_t TMMWave::WriteDataBytes(const char* buffer, int32_t count)
{
    if (IsMemWave())
        Error(SCantWriteMemWave);
    return cb_ ? wioWaveWriteData(cb_, buffer, count) : -1;
}

int32_t TMMWave::WriteDataSamples(const char* buffer, int32_t count)
{
    if (IsMemWave())
        Error(SCantWriteMemWave);
    return cb_ ? wioWaveWriteSamples(cb_, buffer, count) : -1;
}

void TMMWave::CreateFile(const std::string& name, const TWaveFormatEx* format)
{
    if (IsMemWave())
        Error(SCantWriteMemWave);
    if (!format || name.empty())
        return;
    // The engine qualifies the name in a buffer of MMIO_MAXPATH bytes; a longer name
    // cannot be held and is refused rather than cut short.
    const std::string full = fullPathName(name);
    char path[MMIO_MAXPATH] = {};
    if (full.size() >= sizeof path)
        Error(SUnableToCreateWave);
    std::memcpy(path, full.data(), full.size());
    if (!wioGetFullPathName(path))
        Error(SUnableToCreateWave);

    BlockGuard made(cb_);
    if (wioCreateFileInfo(made.block, format) != 0 || !made.block)
        Error(SUnableToCreateWave);
    // The file of that name is replaced without asking; it is removed only once the
    // format has been accepted, so a refused format leaves it in place.
    if (fileExists(path))
        deleteFileName(path);
    if (wioWriteFileInfo(made.block, path) != 0 || !made.block)
        Error(SUnableToCreateWave);

    SetPWaveIOCB(made.block); // the wave owns the block from here on
    fileName_ = path;
    if (wioSetIOBufferSize(cb_, ioBufferSize_) != 0)
        Error(SUnableToSetupIOBuffer);
}

} // namespace orvelle
