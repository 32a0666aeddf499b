// The wave object: construction, binding to a file or control block, description and
// unit conversions.
#include "wave/Mmwave.h"

#include <cstring>
#include <limits>

#include "platform/Sysfile.h"
#include "util/Mmutils.h"

namespace orvelle {

namespace {

// a*b/c rounded to nearest, an exact half away from zero, saturated to 32 bits; 0 for
// c = 0 (a rate of 0 read from a file). |a| <= 2^31 and b, c < 2^32 keep a*b in 64 bits.
int32_t MulDivRoundSat(int64_t a, int64_t b, int64_t c)
{
    if (c <= 0)
        return 0;
    const int64_t num = a * b;
    int64_t q = num / c;
    const int64_t r = num % c;
    if (2 * (r < 0 ? -r : r) >= c)
        q += num < 0 ? -1 : 1;
    if (q > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (q < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(q);
}

} // namespace

TMMWave::TMMWave() = default;

TMMWave::~TMMWave() { ClearWave(); }

void TMMWave::Error(uint16_t ident) { throw EMMWaveError(LoadResStr(ident)); }

void TMMWave::SetFileName(const std::string& name)
{
    const std::string full = fullPathName(name);
    const int64_t heldSize = cb_ ? cb_->FileSize : 0;
    if (full == fileName_ && fileSizeByName(full) == heldSize)
        return;
    if (full.empty()) {
        FreeWave();
        return;
    }
    const bool exists = fileExists(full);
    TWAVEIOCB* block = nullptr;
    if (exists && wioReadFileInfo(block, full.c_str(), FOURCC_WAVE, wioSrcFile) == 0 && block) {
        ClearWave();
        TakeControlBlock(block);
        fileName_ = full;
        InitRegionList();
        Changed();
        return;
    }
    if (block) // a success code without a block is still a failure
        wioFreeFileInfo(block);
    if (!exists && !fileMustExist_) {
        ClearWave();
        fileName_ = full;
        Changed();
        return;
    }
    Error(exists ? SInvalidWaveFile : SErrorReadingWave);
}

void TMMWave::TakeControlBlock(TWAVEIOCB* block)
{
    cb_ = block;
    if (!block)
        return;
    startPos_ = block->FirstSample;
    endPos_ = block->LastSample;
    bytesLeft_ = block->BytesLeft;
    position_ = block->SamplePos;
}

void TMMWave::ClearWave()
{
    CloseFile();
    fileName_.clear();
    ReleaseControlBlock();
    regions_.Clear();
    startPos_ = endPos_ = position_ = bytesLeft_ = lengthBytes_ = 0;
    regionIndex_ = regionBytesLeft_ = 0;
}

void TMMWave::ReleaseControlBlock()
{
    if (!cb_)
        return;
    wioFreeFileInfo(cb_);
    cb_ = nullptr;
}

void TMMWave::FreeWave()
{
    if (fileName_.empty() && !cb_)
        return;
    ClearWave();
    Changed();
}

void TMMWave::SetPWaveIOCB(TWAVEIOCB* block)
{
    if (IsMemWave())
        Error(SCantWriteMemWave);
    if (block == cb_)
        return;
    ClearWave();
    TakeControlBlock(block);
    if (block && block->Flags == wioSrcRaw && block->Source) {
        // The name is zero-terminated inside its block; never read past the block.
        const char* src = static_cast<const char*>(block->Source);
        const auto room = static_cast<size_t>(GlobalMemSize(block->Source));
        fileName_.assign(src, strnlen(src, room));
    }
    InitRegionList();
    Changed();
}

void TMMWave::SetPWaveFormat(const TWaveFormatEx* format)
{
    if (!format)
        return;
    TWAVEIOCB* block = nullptr;
    if (wioCreateFileInfo(block, format) != 0 || !block) {
        if (block)
            wioFreeFileInfo(block);
        return;
    }
    try {
        SetPWaveIOCB(block);
    } catch (...) {
        if (cb_ != block) // not taken yet: still ours to release
            wioFreeFileInfo(block);
        throw;
    }
}

void TMMWave::SetFileMustExist(bool v)
{
    if (!IsMemWave())
        fileMustExist_ = v;
}

void TMMWave::SetIOBufferSize(int32_t size)
{
    if (size == ioBufferSize_)
        return;
    ioBufferSize_ = Max(size, 8192);
    if (cb_ && cb_->Handle && wioSetIOBufferSize(cb_, ioBufferSize_) != 0)
        Error(SUnableToSetupIOBuffer);
}

void TMMWave::SetTimeFormat(TMMTimeFormats f)
{
    if (f == timeFormat_)
        return;
    timeFormat_ = f;
    InitRegionList();
}

TWaveFormatEx* TMMWave::GetPWaveFormat() const { return cb_ ? &cb_->Format : nullptr; }

uint16_t TMMWave::FormatTag() const
{
    const TWaveFormatEx* f = GetPWaveFormat();
    return f ? f->wFormatTag : 0;
}

int32_t TMMWave::BitLength() const
{
    const TWaveFormatEx* f = GetPWaveFormat();
    return f ? f->wBitsPerSample : 0;
}

TMMMode TMMWave::Mode() const
{
    const TWaveFormatEx* f = GetPWaveFormat();
    return f && f->nChannels == 2 ? mStereo : mMono;
}

int32_t TMMWave::SampleRate() const
{
    const TWaveFormatEx* f = GetPWaveFormat();
    if (!f)
        return 11025;
    // A rate read from a file may not fit the signed result.
    constexpr uint32_t kMax = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(f->nSamplesPerSec > kMax ? kMax : f->nSamplesPerSec);
}

std::string TMMWave::FormatString() const
{
    const TWaveFormatEx* f = GetPWaveFormat();
    if (!f)
        return LoadResStr(SUnknownFormat);
    std::string text;
    wioGetFormatName(f, text);
    return text;
}

int32_t TMMWave::FileSize() const { return cb_ ? cb_->FileSize : 0; }

int32_t TMMWave::DataSize() const { return cb_ ? SamplesToTimeFormat(cb_->SampleCount) : 0; }

int32_t TMMWave::GetDataOffset() const { return cb_ ? cb_->DataOffset : 0; }

int32_t TMMWave::SamplesToBytes(int32_t n) const
{
    const TWaveFormatEx* f = GetPWaveFormat();
    return f ? wioSamplesToBytes(f, n) : 0;
}

int32_t TMMWave::BytesToSamples(int32_t n) const
{
    const TWaveFormatEx* f = GetPWaveFormat();
    return f ? wioBytesToSamples(f, n) : 0;
}

int32_t TMMWave::SamplesToTimeFormat(int32_t n) const
{
    const TWaveFormatEx* f = GetPWaveFormat();
    if (!f)
        return 0;
    switch (timeFormat_) {
    case tfSample:
        return n;
    case tfByte:
        return wioSamplesToBytes(f, n);
    case tfMillisecond:
        return MulDivRoundSat(n, 1000, f->nSamplesPerSec);
    }
    return 0;
}

int32_t TMMWave::TimeFormatToSamples(int32_t v) const
{
    const TWaveFormatEx* f = GetPWaveFormat();
    if (!f)
        return 0;
    switch (timeFormat_) {
    case tfSample:
        return v;
    case tfByte:
        return wioBytesToSamples(f, v);
    case tfMillisecond:
        return MulDivRoundSat(v, f->nSamplesPerSec, 1000);
    }
    return 0;
}

void TMMWave::Changed()
{
    if (assigning_) {
        changePending_ = true;
        return;
    }
    changePending_ = false;
    TMMObject::Changed();
}

void TMMWave::Progress(int32_t curByte, int32_t numBytes, bool& cancel)
{
    if (OnProgress)
        OnProgress(this, curByte, numBytes, cancel);
}

} // namespace orvelle
