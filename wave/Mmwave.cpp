// The wave object: construction, binding to a file or control block, description and
// unit conversions.
#include "wave/Mmwave.h"

#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "platform/Sysfile.h"
#include "util/Mmmuldiv.h"
#include "util/Mmutils.h"

namespace orvelle {

// The engine reports running out of memory as a code; the wave object raises it.
void raiseIfOutOfMemory(int32_t code)
{
    if (code == wioErrNoMem)
        throw std::bad_alloc();
}

TMMWave::TMMWave() = default;

TMMWave::~TMMWave() { ClearWave(); }

void TMMWave::raiseError(uint16_t ident) { throw EMMWaveError(LoadResStr(ident)); }

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
    if (exists) {
        TWAVEIOCB* made = nullptr;
        const int32_t code = wioReadFileInfo(made, full.c_str(), FOURCC_WAVE, wioSrcFile);
        ControlBlockHandle block(made); // a success code without a block is still a failure
        raiseIfOutOfMemory(code);
        if (code == 0 && block) {
            ClearWave();
            takeControlBlock(std::move(block));
            fileName_ = full;
            initRegionList();
            Changed();
            return;
        }
    }
    if (!exists && !fileMustExist_) {
        ClearWave();
        fileName_ = full;
        Changed();
        return;
    }
    raiseError(exists ? SInvalidWaveFile : SErrorReadingWave);
}

void TMMWave::takeControlBlock(ControlBlockHandle block)
{
    cb_ = std::move(block);
    if (!cb_)
        return;
    startPos_ = cb_->FirstSample;
    endPos_ = cb_->LastSample;
    bytesLeft_ = cb_->BytesLeft;
    position_ = cb_->SamplePos;
}

void TMMWave::ClearWave()
{
    CloseFile();
    fileName_.clear();
    cb_.reset();
    regions_.Clear();
    startPos_ = endPos_ = position_ = bytesLeft_ = lengthBytes_ = 0;
    regionIndex_ = regionBytesLeft_ = 0;
    endedEarly_ = false;
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
        raiseError(SCantWriteMemWave);
    if (block == cb_.get())
        return;
    bindControlBlock(ControlBlockHandle(block));
}

void TMMWave::bindControlBlock(ControlBlockHandle block)
{
    ClearWave();
    takeControlBlock(std::move(block));
    if (cb_ && cb_->Flags == wioSrcRaw && cb_->Source) {
        // The name is zero-terminated inside its block; never read past the block.
        const char* src = static_cast<const char*>(cb_->Source);
        const auto room = static_cast<size_t>(GlobalMemSize(cb_->Source));
        fileName_.assign(src, strnlen(src, room));
    }
    initRegionList();
    Changed();
}

void TMMWave::SetPWaveFormat(const TWaveFormatEx* format)
{
    if (!format)
        return;
    TWAVEIOCB* made = nullptr;
    const int32_t code = wioCreateFileInfo(made, format);
    ControlBlockHandle block(made);
    raiseIfOutOfMemory(code);
    if (code != 0 || !block)
        return;
    if (IsMemWave())
        raiseError(SCantWriteMemWave);
    bindControlBlock(std::move(block));
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
    if (cb_ && cb_->Handle)
        applyIOBufferSize();
}

void TMMWave::applyIOBufferSize()
{
    const int32_t code = wioSetIOBufferSize(cb_.get(), ioBufferSize_);
    raiseIfOutOfMemory(code);
    if (code != 0)
        raiseError(SUnableToSetupIOBuffer);
}

void TMMWave::SetTimeFormat(TMMTimeFormats f)
{
    if (f == timeFormat_)
        return;
    timeFormat_ = f;
    initRegionList();
}

TWaveFormatEx* TMMWave::GetPWaveFormat() const { return cb_ ? &cb_->Format : nullptr; }

int32_t TMMWave::formatRecordSize() const { return cb_ ? wioFormatRoom(cb_.get()) : 0; }

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
        return mulDivRoundSaturated(n, 1000, f->nSamplesPerSec);
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
        return mulDivRoundSaturated(v, f->nSamplesPerSec, 1000);
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
