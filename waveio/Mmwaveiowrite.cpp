// Creating, writing and finishing wave files.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "util/LittleEndian.h"
#include "util/Mmutils.h"
#include "waveio/Mmwaveio.h"
#include "waveio/Mmwaveioimpl.h"

namespace orvelle {

using namespace wioimpl;

namespace {

// Writes the format record as a "fmt " chunk of wioSizeOfWaveFormat bytes. Bytes the
// control block does not hold (a cbSize claiming more than a scanned chunk gave) are
// written as zeros, so the record never reads past the block.
bool writeFormatChunk(HMMIO h, const TWAVEIOCB* cb)
{
    const int32_t n = wioSizeOfWaveFormat(&cb->Format);
    const int32_t held = Min(n, wioFormatRoom(cb));
    MMCKINFO ck{};
    ck.ckid = kFmt;
    ck.cksize = static_cast<uint32_t>(n);
    if (mmioCreateChunk(h, &ck, 0) != 0)
        return false;
    if (mmioWrite(h, reinterpret_cast<const char*>(&cb->Format), held) != held)
        return false;
    if (n > held) {
        std::string zeros(static_cast<size_t>(n - held), '\0');
        if (mmioWrite(h, zeros.data(), n - held) != n - held)
            return false;
    }
    return mmioAscend(h, &ck, 0) == 0;
}

// "RIFF" "WAVE", the "fmt " chunk and an open "data" chunk carrying the written mark.
bool writeHeader(HMMIO h, const TWAVEIOCB* cb, MMCKINFO& riff, MMCKINFO& data)
{
    riff = MMCKINFO{};
    riff.ckid = FOURCC_RIFF;
    riff.fccType = FOURCC_WAVE;
    if (mmioCreateChunk(h, &riff, MMIO_CREATERIFF) != 0 || !writeFormatChunk(h, cb))
        return false;
    data = MMCKINFO{};
    data.ckid = kData;
    if (mmioCreateChunk(h, &data, 0) != 0)
        return false;
    data.dwFlags |= MMIO_DIRTY;
    return true;
}

// After a write: the position in the data gives SamplePos (from the start of the data,
// not from FirstSample), DataSize and SampleCount.
void noteWritePosition(TWAVEIOCB* cb)
{
    const int32_t at = mmioSeek(serviceHandle(cb), 0, 1);
    if (at < 0)
        return;
    const int32_t p = at - cb->DataOffset;
    cb->SamplePos = wioBytesToSamplesEx(cb, p);
    cb->DataSize = Max(cb->DataSize, p);
    // A window that reached the end of the data keeps reaching it as the data grows, so
    // the written frames can be positioned to.
    const bool windowToEnd = cb->LastSample == cb->SampleCount;
    cb->SampleCount = Max(cb->SampleCount, cb->SamplePos);
    if (windowToEnd)
        cb->LastSample = cb->SampleCount;
}

bool writeFact(HMMIO h, TWAVEIOCB* cb)
{
    cb->DataChunk = MMCKINFO{};
    cb->DataChunk.ckid = kFact;
    if (mmioCreateChunk(h, &cb->DataChunk, 0) != 0)
        return false;
    uint8_t value[4];
    storeLe32(value, static_cast<uint32_t>(cb->SampleCount));
    return mmioWrite(h, reinterpret_cast<const char*>(value), 4) == 4 && mmioAscend(h, &cb->DataChunk, 0) == 0;
}

// Fixes the chunk sizes and appends "fact", DISP and INFO; 0 or 106.
int32_t finishFile(TWAVEIOCB* cb)
{
    HMMIO h = serviceHandle(cb);
    MMIOINFO info{};
    if (mmioGetInfo(h, &info, 0) != 0 || mmioFlush(h, 0) != 0)
        return wioErrFile;
    if ((info.dwFlags & MMIO_CREATE) == 0) {
        // An existing file written in place: the sizes are fixed afresh.
        cb->DataChunk.cksize = 0;
        cb->DataChunk.dwFlags |= MMIO_DIRTY;
        cb->RiffChunk.cksize = 0;
        cb->RiffChunk.dwFlags |= MMIO_DIRTY;
    }
    // The data ends at DataOffset + DataSize, the furthest any write reached, also when
    // the file was positioned back after writing.
    const int64_t end = static_cast<int64_t>(cb->DataOffset) + cb->DataSize;
    if (end > INT32_MAX || mmioSeek(h, static_cast<int32_t>(end), 0) != end)
        return wioErrFile;
    if (mmioAscend(h, &cb->DataChunk, 0) != 0 || !writeFact(h, cb))
        return wioErrFile;
    if (RiffWriteDISP(h, cb->DispList) != 0 || RiffWriteINFO(h, cb->InfoList) != 0)
        return wioErrFile;
    // The last flush is checked, so that a failing write-out is not reported as success.
    if (mmioAscend(h, &cb->RiffChunk, 0) != 0 || mmioFlush(h, 0) != 0)
        return wioErrFile;
    const int32_t size = mmioSeek(h, 0, 2);
    if (size < 0)
        return wioErrFile;
    cb->FileSize = size;
    cb->LastSample = cb->SampleCount;
    return 0;
}

} // namespace

namespace {

int32_t createFileInfo(TWAVEIOCB*& cb, const TWaveFormatEx* format, int32_t available)
{
    // The copy has cbSize 0 for PCM, so the written record never claims extra bytes.
    GlobalBlock<> copy(wioCopyWaveFormatN(format, available));
    if (copy == nullptr)
        return wioErrNoMem;
    const int64_t size = GlobalMemSize(copy.get());
    ControlBlockHandle block(
        static_cast<TWAVEIOCB*>(GlobalAllocMem(std::max<int64_t>(sizeof(TWAVEIOCB), kFormatOffset + size))));
    std::memcpy(&block->Format, copy.get(), static_cast<size_t>(size));
    if (int32_t rc = RiffInitINFO(block->InfoList); rc != 0)
        return rc;
    if (int32_t rc = RiffInitDISP(block->DispList); rc != 0)
        return rc;
    cb = block.release();
    return 0;
}

} // namespace

int32_t wioCreateFileInfoN(TWAVEIOCB*& cb, const TWaveFormatEx* format, int32_t available)
{
    cb = nullptr;
    if (format == nullptr)
        return wioErrBadParam;
    try {
        return createFileInfo(cb, format, available);
    } catch (const std::bad_alloc&) {
        return wioErrNoMem; // the handles have released what was made
    }
}

int32_t wioCreateFileInfo(TWAVEIOCB*& cb, const TWaveFormatEx* format)
{
    // The caller vouches for 18 + cbSize bytes.
    return wioCreateFileInfoN(cb, format, wioSizeOfWaveFormat(format));
}

int32_t wioCopyFileInfo(TWAVEIOCB* dst, TWAVEIOCB* src)
{
    if (dst == nullptr || src == nullptr)
        return wioErrBadParam;
    if (RiffCopyInfo(dst->InfoList, src->InfoList) != 0 || RiffCopyDISP(dst->DispList, src->DispList) != 0)
        return wioErrGeneral;
    return 0;
}

int32_t wioWriteFileInfo(TWAVEIOCB*& cb, const char* name)
{
    if (cb == nullptr || name == nullptr || name[0] == 0)
        return wioErrBadParam;
    GlobalBlock<> source;
    try {
        source.reset(RiffNewText(name));
    } catch (const std::bad_alloc&) {
        return wioErrNoMem;
    }
    // A control block still open on another file is closed first, so no handle is lost;
    // a file it was writing is finished, not left with its sizes unfixed.
    if (int32_t rc = wioWaveClose(cb); rc != 0)
        return rc;
    std::string path(name); // the service takes a writable name
    HMMIO h = mmioOpenA(path.data(), nullptr, MMIO_ALLOCBUF | MMIO_READWRITE | MMIO_CREATE);
    if (h == nullptr)
        return wioErrFile;
    MMCKINFO riff{};
    MMCKINFO data{};
    if (!writeHeader(h, cb, riff, data)) {
        mmioClose(h, 0);
        wioFileDelete(name);
        return wioErrFile;
    }
    cb->Handle = h;
    cb->RiffChunk = riff;
    cb->DataChunk = data;
    cb->DataOffset = static_cast<int32_t>(data.dwDataOffset);
    GlobalFreeMem(cb->Source);
    cb->Source = source.release();
    // The block now describes a disk file: Source is a name, whatever kind it was before.
    if (cb->Flags != wioSrcFile)
        cb->Flags = 0;
    cb->ResHandle = 0;
    // The new file holds no data yet, whatever the block described before.
    cb->DataSize = 0;
    cb->SampleCount = 0;
    cb->FirstSample = 0;
    cb->LastSample = cb->SampleCount;
    return 0;
}

int32_t wioWaveWriteData(TWAVEIOCB* cb, const char* buffer, int32_t count)
{
    if (cb == nullptr || cb->Handle == nullptr || count <= 0 || isRaw(cb))
        return -1;
    const int32_t r = mmioWrite(serviceHandle(cb), buffer, count);
    if (r <= 0)
        return r;
    cb->DataChunk.dwFlags |= MMIO_DIRTY;
    noteWritePosition(cb);
    return r;
}

int32_t wioWaveWriteDataDirect(TWAVEIOCB* cb, const char* buffer, int32_t count)
{
    if (cb == nullptr || cb->Handle == nullptr || isRaw(cb))
        return -1;
    HMMIO h = serviceHandle(cb);
    MMIOINFO info{};
    if (mmioGetInfo(h, &info, 0) != 0)
        return -1;
    const int32_t total = Max(count, 0);
    int32_t stored = 0;
    while (stored < total) {
        if (info.pchNext == info.pchEndWrite) {
            info.dwFlags |= MMIO_DIRTY;
            if (mmioAdvance(h, &info, MMIO_ADVANCE_WRITE) != 0 || info.pchNext == info.pchEndWrite) {
                mmioSetInfo(h, &info, 0); // hand the state back even so
                return -1;
            }
        }
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(info.pchEndWrite - info.pchNext, total - stored));
        std::memcpy(info.pchNext, buffer + stored, static_cast<size_t>(n));
        info.pchNext += n;
        stored += n;
    }
    info.dwFlags |= MMIO_DIRTY;
    if (mmioSetInfo(h, &info, 0) != 0)
        return -1;
    cb->DataChunk.dwFlags |= MMIO_DIRTY;
    noteWritePosition(cb);
    return stored;
}

int32_t wioWaveWriteSamples(TWAVEIOCB* cb, const char* buffer, int32_t frames)
{
    if (cb == nullptr || frames <= 0)
        return -1;
    const int32_t r = wioWaveWriteData(cb, buffer, wioSamplesToBytesEx(cb, frames));
    return r < 0 ? -1 : wioBytesToSamplesEx(cb, r);
}

int32_t wioWaveClose(TWAVEIOCB* cb)
{
    if (cb == nullptr)
        return 0;
    const bool marked = !isRaw(cb) && (cb->DataChunk.dwFlags & MMIO_DIRTY) != 0;
    if (cb->Handle == nullptr) {
        // A closed block keeps the mark only when its finishing failed: open the file
        // again and finish it in place, rather than leave it unfinished in silence.
        if (!marked)
            return 0;
        if (wioWaveOpen(cb) != 0)
            return wioErrFile;
    }
    int32_t rc = marked ? finishFile(cb) : 0;
    // The mark belongs to this opening: once finished, a later open for reading must not
    // finish again. A failed finish keeps it for the next close.
    if (rc == 0)
        cb->DataChunk.dwFlags &= ~MMIO_DIRTY;
    wioCloseFile(cb);
    cb->BytesLeft = 0;
    cb->SamplePos = 0;
    return rc;
}

} // namespace orvelle
