// The wave object: play regions, opening and closing, positioning, reading, writing and
// creating wave files.
#include <cstring>
#include <limits>
#include <new>
#include <sys/stat.h>
#include <utility>

#include "platform/Sysfile.h"
#include "util/Mmutils.h"
#include "wave/Mmwave.h"
#include "waveio/Mmio.h"

namespace orvelle {

namespace {

constexpr int64_t kMaxInt32 = std::numeric_limits<int32_t>::max();

int32_t clampToNonNegativeInt32(int64_t v) { return static_cast<int32_t>(v < 0 ? 0 : (v > kMaxInt32 ? kMaxInt32 : v)); }

// Clears the name for a new file: a file or a link (dangling or not) is removed, so that
// the new file is never written through a link. False when a folder stands there or the
// removal fails.
bool removeWhatStandsAt(const char* path)
{
    struct stat st { };
    if (SysFileOps().lstat(path, &st) != 0)
        return true;
    return !S_ISDIR(st.st_mode) && deleteFileName(path);
}

} // namespace

std::string quotedFileName(const std::string& name) { return "\"" + name + "\""; }

// A region's bytes never run past the data the file holds: when the frames, converted
// to bytes, claim more (a stored block align that disagrees with the sample width, say),
// the region ends where the data ends, as the engine's reading does.
int32_t TMMWave::dataBytesFrom(int32_t start) const
{
    return cb_ ? clampToNonNegativeInt32(int64_t{cb_->DataSize} - SamplesToBytes(start)) : 0;
}

void TMMWave::initRegionList()
{
    regions_.Clear();
    if (!cb_)
        return;
    const int32_t start = RealSamplesToSamples(startPos_);
    const int32_t end = RealSamplesToSamples(endPos_);
    TMMCutRegion r{};
    r.StartPos = start;
    r.Length = clampToNonNegativeInt32(static_cast<int64_t>(end) - start);
    r.StartBytes = SamplesToBytes(r.StartPos);
    r.LengthBytes = Min(SamplesToBytes(r.Length), dataBytesFrom(startPos_));
    r.Reserved = 0;
    regions_.Add(r);
}

int32_t TMMWave::playLength() const
{
    int64_t sum = 0;
    for (int32_t i = 0; i < regions_.Count(); ++i)
        sum += regions_.Get(i).Length;
    return clampToNonNegativeInt32(sum);
}

int32_t TMMWave::playLengthBytes() const
{
    int64_t sum = 0;
    for (int32_t i = 0; i < regions_.Count(); ++i)
        sum += regions_.Get(i).LengthBytes;
    return clampToNonNegativeInt32(sum);
}

void TMMWave::OpenFile()
{
    if (!cb_)
        return;
    const int32_t code = wioWaveOpen(cb_.get());
    raiseIfOutOfMemory(code);
    if (code != 0)
        raiseError(SUnableToOpenWave);
    applyIOBufferSize();
    initRegionList();
    InitPlayFadeList(false);
    open_ = true;
    SetPosition(GetPosition());
}

void TMMWave::CloseFile()
{
    if (cb_)
        (void)wioWaveClose(cb_.get());
    resetReading();
}

void TMMWave::closeChecked()
{
    const int32_t code = cb_ ? wioWaveClose(cb_.get()) : 0;
    resetReading();
    raiseIfOutOfMemory(code);
    if (code != 0)
        throw EMMWaveError("Unable to write wave file " + quotedFileName(fileName_));
}

void TMMWave::resetReading()
{
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
    const int32_t length = playLength();
    const int32_t p = MinMax(RealSamplesToSamples(position_), 0, length);
    lengthBytes_ = playLengthBytes();
    bytesLeft_ = Max(lengthBytes_ - SamplesToBytes(p), 0);
    regionIndex_ = -1;
    regionBytesLeft_ = -1;
    endedEarly_ = false;
    InitPlayFadeList(true);
    seekToPlayPosition(p);
}

// Finds the play region holding playing position `p` and seeks the engine there.
void TMMWave::seekToPlayPosition(int32_t p)
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
        if (wioWaveSetPosition(cb_.get(), sample) != 0 && wioWaveSetPosition(cb_.get(), sample) != 0)
            raiseError(SErrorSeeking);
        regionBytesLeft_ = Min(SamplesToBytes(rest), r.LengthBytes);
        regionIndex_ = i;
        return;
    }
    raiseError(SErrorSeeking);
}

int32_t TMMWave::ReadInternal(char* buffer, int32_t count) { return wioWaveReadData(cb_.get(), buffer, count); }

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
            if (r <= 0) {
                endedEarly_ = true; // bytes of the range were due, the file gave none
                break;
            }
            n -= r;
            total += r;
            regionBytesLeft_ -= r;
        } else if (regionIndex_ + 1 < regions_.Count()) {
            ++regionIndex_;
            const TMMCutRegion& next = regions_.Get(regionIndex_);
            regionBytesLeft_ = next.LengthBytes;
            wioWaveSetPosition(cb_.get(), SamplesToRealSamples(next.StartPos)); // checked by the next read
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
    position_ = playLength();
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
        raiseError(SCantWriteMemWave);
    return cb_ ? wioWaveWriteData(cb_.get(), buffer, count) : -1;
}

int32_t TMMWave::WriteDataSamples(const char* buffer, int32_t count)
{
    if (IsMemWave())
        raiseError(SCantWriteMemWave);
    return cb_ ? wioWaveWriteSamples(cb_.get(), buffer, count) : -1;
}

void TMMWave::CreateFile(const std::string& name, const TWaveFormatEx* format)
{
    if (IsMemWave())
        raiseError(SCantWriteMemWave);
    if (!format || name.empty())
        return;
    // The engine qualifies the name in a buffer of MMIO_MAXPATH bytes; a longer name
    // cannot be held and is refused rather than cut short.
    const std::string full = fullPathName(name);
    char path[MMIO_MAXPATH] = {};
    if (full.size() >= sizeof path)
        raiseError(SUnableToCreateWave);
    std::memcpy(path, full.data(), full.size());
    if (!wioGetFullPathName(path))
        raiseError(SUnableToCreateWave);

    TWAVEIOCB* made = nullptr;
    int32_t code = wioCreateFileInfo(made, format);
    ControlBlockHandle block(made);
    raiseIfOutOfMemory(code);
    if (code != 0 || !block)
        raiseError(SUnableToCreateWave);
    // What stands at the name is replaced without asking; it is removed only once the
    // format has been accepted, so a refused format leaves it in place.
    if (!removeWhatStandsAt(path))
        raiseError(SUnableToCreateWave);
    made = block.release(); // the engine may release the block and null the pointer
    code = wioWriteFileInfo(made, path);
    block.reset(made);
    raiseIfOutOfMemory(code);
    if (code != 0 || !block)
        raiseError(SUnableToCreateWave);

    bindControlBlock(std::move(block));
    fileName_ = path;
    applyIOBufferSize();
}

void TMMWave::copyMetadataFrom(const TMMWave& source)
{
    if (!cb_ || !source.cb_)
        raiseError(SInvalidParam);
    const int32_t code = wioCopyFileInfo(cb_.get(), source.cb_.get());
    raiseIfOutOfMemory(code);
    if (code != 0) // a block without its lists
        raiseError(SInvalidParam);
}

} // namespace orvelle
