#pragma once
// The wave file engine: reads and writes RIFF/WAVE files through a per-file control
// block. No routine raises: each returns a result code (wioErrNoMem when memory runs
// out), or a byte or frame count.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "riff/Mmriff.h"
#include "util/Mmtypes.h"
#include "util/Mmutils.h" // the blocks handed out are released with GlobalFreeMem
#include "waveio/Mmio.h"

namespace orvelle {

// Result codes.
inline constexpr int32_t wioErrGeneral = 101; // no "fmt " chunk; a metadata copy failed; no open file
inline constexpr int32_t wioErrBadParam = 104; // missing block, format or name; sample out of range
inline constexpr int32_t wioErrFile = 106; // open, read, seek, write or finish failed; not RIFF/WAVE
inline constexpr int32_t wioErrNoMem = 107;

// Source kinds (TWAVEIOCB::Flags).
inline constexpr uint32_t wioSrcFile = 1; // writers keep 0, which is the disk kind as well
inline constexpr uint32_t wioSrcResource = 2;
inline constexpr uint32_t wioSrcMemory = 4;
inline constexpr uint32_t wioSrcInfoOnly = 8;
inline constexpr uint32_t wioSrcRaw = 16;

inline constexpr FOURCC FOURCC_WAVE = mmioFourCC('W', 'A', 'V', 'E');

struct TWAVEIOCB {
    uint32_t Flags;
    // The open file: an HMMIO, or for the raw kind a plain file descriptor + 1; null: closed.
    void* Handle;
    MMCKINFO RiffChunk;
    MMCKINFO DataChunk; // dwFlags & MMIO_DIRTY is the written mark
    uintptr_t ResHandle;
    int32_t FileSize;
    int32_t DataSize;
    int32_t DataOffset;
    int32_t SampleCount;
    int32_t FirstSample;
    int32_t LastSample;
    int32_t BytesLeft;
    int32_t SamplePos;
    // GlobalAllocMem block: the file name (zero-terminated) for the disk and raw kinds,
    // the resource name for the resource kind, a copy of the MMIOINFO for the memory kind.
    void* Source;
    TDispList* DispList;
    TInfoChunk* InfoList;
    // Last: the format record, followed by its extra bytes. The block holds
    // wioFormatRoom(cb) bytes from here on, at least 18 + cbSize; bytes past what the file
    // gave are zero.
    TWaveFormatEx Format;
};

// Bytes the control block holds for its format record (at least 18).
int32_t wioFormatRoom(const TWAVEIOCB* cb);

int32_t wioFreeFileInfo(TWAVEIOCB*& cb);

// The owning handle of a complete control block: released with wioFreeFileInfo.
struct ControlBlockDeleter {
    void operator()(TWAVEIOCB* cb) const { wioFreeFileInfo(cb); }
};
using ControlBlockHandle = std::unique_ptr<TWAVEIOCB, ControlBlockDeleter>;

// A disk file opens for reading and writing, or for reading only when writing is refused.
int32_t wioFileOpen(
    HMMIO& handle, MMCKINFO& ck, uintptr_t& resHandle, const char* name, FOURCC fccType, uint32_t flags);
void wioFileClose(HMMIO& handle, uintptr_t& resHandle);

// For the memory kind `name` points to an MMIOINFO naming the block (pchBuffer, cchBuffer).
// A disk file is only read. Data after the end the "data" chunk declares (when that size
// is neither 0 nor all ones and fits the file) is not counted.
int32_t wioReadFileInfo(TWAVEIOCB*& cb, const char* name, FOURCC fccType, uint32_t flags);
int32_t wioFreeFileInfo(TWAVEIOCB*& cb);
int32_t wioWaveOpen(TWAVEIOCB* cb);
// Finishes a file carrying the written mark, then closes it. A failed finish keeps the
// mark: the next close opens the file again and finishes it in place.
int32_t wioWaveClose(TWAVEIOCB* cb);
// Closes the open file of `cb` without finishing it (plain close for the raw kind) and
// nulls `Handle`; nothing for a null block or a closed file. Counters are not touched.
void wioCloseFile(TWAVEIOCB* cb);
int32_t wioSetIOBufferSize(TWAVEIOCB* cb, int32_t size);

int32_t wioWaveSetFirstSample(TWAVEIOCB* cb, int32_t n);
int32_t wioWaveSetLastSample(TWAVEIOCB* cb, int32_t n);
int32_t wioWaveSetPosition(TWAVEIOCB* cb, int32_t n);

int32_t wioWaveReadData(TWAVEIOCB* cb, char* buffer, int32_t count);
int32_t wioWaveReadDataDirect(TWAVEIOCB* cb, char* buffer, int32_t count);
int32_t wioWaveReadSamples(TWAVEIOCB* cb, char* buffer, int32_t frames);

// Conversions; a format that would make them divide by zero gives 0.
int32_t wioBytesToSamples(const TWaveFormatEx* format, int32_t bytes);
int32_t wioSamplesToBytes(const TWaveFormatEx* format, int32_t frames);
int32_t wioBytesPerSample(const TWaveFormatEx* format);
int32_t wioBytesToTime(const TWaveFormatEx* format, int32_t bytes);
int32_t wioSamplesToTime(const TWaveFormatEx* format, int32_t frames);
int32_t wioTimeToSamples(const TWaveFormatEx* format, int32_t ms);
int32_t wioTimeToBytes(const TWaveFormatEx* format, int32_t ms);
int32_t wioBytesToSamplesEx(const TWAVEIOCB* cb, int32_t bytes);
int32_t wioSamplesToBytesEx(const TWAVEIOCB* cb, int32_t frames);

int32_t wioSizeOfWaveFormat(const TWaveFormatEx* format);
// A GlobalAllocMem copy of wioSizeOfWaveFormat bytes (cbSize 0 for PCM); null for null
// and when there is no memory.
TWaveFormatEx* wioCopyWaveFormat(const TWaveFormatEx* format);
// The same copy, reading no more than `available` bytes of `format`; bytes the record
// lacks count as zero (also in the 18-byte head). For records of a known, possibly short
// length; a control block made by a scan always holds 18 + cbSize bytes.
TWaveFormatEx* wioCopyWaveFormatN(const TWaveFormatEx* format, int32_t available);
void wioGetFormatName(const TWaveFormatEx* format, std::string& text);

bool wioIsWaveFile(const char* name, uint32_t flags);
// `name` is a buffer of MMIO_MAXPATH bytes, qualified in place.
bool wioGetFullPathName(char* name);
bool wioFileExists(const char* name);
bool wioFileDelete(const char* name);

// Writing.
int32_t wioCreateFileInfo(TWAVEIOCB*& cb, const TWaveFormatEx* format);
// wioCreateFileInfo reading no more than `available` bytes of `format` (missing bytes
// count as zero).
int32_t wioCreateFileInfoN(TWAVEIOCB*& cb, const TWaveFormatEx* format, int32_t available);
int32_t wioCopyFileInfo(TWAVEIOCB* dst, TWAVEIOCB* src);
// Creates `name`, which must not exist yet (nothing at the name is followed or replaced),
// after finishing any file the block was writing. The block then describes the new,
// empty file.
int32_t wioWriteFileInfo(TWAVEIOCB*& cb, const char* name);
int32_t wioWaveWriteData(TWAVEIOCB* cb, const char* buffer, int32_t count);
int32_t wioWaveWriteDataDirect(TWAVEIOCB* cb, const char* buffer, int32_t count);
int32_t wioWaveWriteSamples(TWAVEIOCB* cb, const char* buffer, int32_t frames);

} // namespace orvelle
