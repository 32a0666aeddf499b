#include "waveio/Mmwaveio.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "platform/Resources.h"
#include "platform/Sysfile.h"
#include "util/Mmmuldiv.h"
#include "util/Mmutils.h"
#include "waveio/Mmwaveioimpl.h"

namespace orvelle {

using namespace wioimpl;

namespace {

constexpr FOURCC kDisp = mmioFourCC('D', 'I', 'S', 'P');
constexpr FOURCC kInfo = mmioFourCC('I', 'N', 'F', 'O');

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// The raw kind keeps its plain file descriptor + 1 in Handle, so that descriptor 0 is not null.
int rawFd(const TWAVEIOCB* cb) { return static_cast<int>(reinterpret_cast<intptr_t>(cb->Handle) - 1); }
void* rawHandle(int fd) { return reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1); }

// v raised to a multiple of `align` (the division truncating toward zero); 0 for align 0.
int32_t raiseToAlign(int32_t v, uint32_t align)
{
    if (align == 0)
        return 0;
    int64_t a = align;
    return saturateToInt32((v + a - 1) / a * a);
}

int32_t openMemoryFile(HMMIO& handle, const char* block, int64_t size)
{
    if (block == nullptr || size <= 0 || size > kInt32Max)
        return wioErrFile;
    MMIOINFO info{};
    info.fccIOProc = FOURCC_MEM;
    info.pchBuffer = const_cast<char*>(block); // read only: the block cannot grow
    info.cchBuffer = static_cast<int32_t>(size);
    info.adwInfo[0] = 0;
    handle = mmioOpenA(nullptr, &info, MMIO_ALLOCBUF);
    return handle != nullptr ? 0 : wioErrFile;
}

// What the chunk walk of a scan found.
struct ScanFindings {
    int64_t dataEnd = 0;
    int64_t dataOffset = 0;
    // The end the "data" chunk declares when that end is believable (a size that is
    // neither 0 nor all ones and that fits the file); -1 otherwise.
    int64_t declaredDataEnd = -1;
    bool sawData = false;
    bool sawNonZeroData = false;
    bool haveFact = false;
};

// Everything a scan makes; what is still here when the scan ends is released.
struct ScanParts {
    MmioHandle h;
    GlobalBlock<> source;
    InfoListHandle info;
    DispListHandle disp;
    GlobalBlock<TWAVEIOCB> cb; // the block alone: the lists and source are held above
};

// Makes the control block from a "fmt " chunk the position stands at. `present` is the
// chunk's body length as far as the file holds it.
int32_t readFormat(ScanParts& s, int64_t present)
{
    // A short chunk (the 14-byte record of old files lacks the bits field) reads with the
    // missing fields zero; a record that is then unusable is refused after the walk.
    TWaveFormatEx head{};
    const int32_t headBytes = static_cast<int32_t>(std::min<int64_t>(present, sizeof head));
    if (mmioRead(s.h.get(), reinterpret_cast<char*>(&head), headBytes) != headBytes)
        return wioErrFile;
    // The extra bytes are those the chunk holds: a cbSize claiming more is cut, so that
    // no description or copy carries bytes the file never had.
    if (head.wFormatTag != WAVE_FORMAT_PCM)
        head.cbSize = static_cast<uint16_t>(std::min<int64_t>(head.cbSize, std::max<int64_t>(present - 18, 0)));
    const int64_t room = std::max<int64_t>(sizeof head, present);
    const int64_t blockSize = std::max<int64_t>(sizeof(TWAVEIOCB), kFormatOffset + room);
    s.cb.reset(static_cast<TWAVEIOCB*>(GlobalAllocMem(blockSize)));
    char* format = reinterpret_cast<char*>(&s.cb->Format);
    std::memcpy(format, &head, static_cast<size_t>(headBytes));
    const int32_t rest = static_cast<int32_t>(present) - headBytes;
    if (rest > 0 && mmioRead(s.h.get(), format + headBytes, rest) != rest)
        return wioErrFile;
    return 0;
}

// Handles one sub-chunk just entered; `stop` ends the walk.
int32_t readSubChunk(ScanParts& s, const MMCKINFO& ck, int64_t fileSize, ScanFindings& f, bool& stop)
{
    const int64_t body = ck.dwDataOffset;
    switch (ck.ckid) {
    case FOURCC_LIST:
        return ck.fccType == kInfo ? RiffReadINFO(s.h.get(), ck, s.info.get()) : 0;
    case kDisp: {
        TDispList* disp = s.disp.get();
        return RiffReadDISP(s.h.get(), ck, disp);
    }
    case kFmt:
        if (s.cb != nullptr) {
            stop = true;
            return 0;
        }
        return readFormat(s, std::min<int64_t>(ck.cksize, std::max<int64_t>(fileSize - body, 0)));
    case kData:
        if (f.sawNonZeroData) {
            stop = true;
            return 0;
        }
        // A new data chunk: its data ends at the chunk after it or at the end of the
        // file, never at a chunk seen before it.
        f.dataOffset = body;
        f.dataEnd = fileSize;
        f.sawData = true;
        f.sawNonZeroData = ck.cksize != 0;
        return 0;
    case kFact:
        if (f.haveFact) {
            stop = true;
        } else {
            char value[4];
            mmioRead(s.h.get(), value, static_cast<int32_t>(std::min<uint32_t>(ck.cksize, 4))); // never used
            f.haveFact = true;
        }
        return 0;
    default:
        return 0;
    }
}

// A chunk's declared end when its size is neither 0 nor all ones (writers that stream
// leave those) and the end lies inside the file; -1 otherwise.
int64_t believableEnd(int64_t body, uint32_t declared, int64_t fileSize)
{
    if (declared == 0 || declared == 0xFFFFFFFF || body + declared > fileSize)
        return -1;
    return body + declared;
}

int32_t walkChunks(ScanParts& s, const MMCKINFO& riff, int64_t fileSize, ScanFindings& f)
{
    const int64_t riffEnd = static_cast<int64_t>(riff.dwDataOffset) + riff.cksize;
    bool previousWasData = false;
    f.dataEnd = fileSize;
    for (;;) {
        MMCKINFO ck{};
        if (mmioDescend(s.h.get(), &ck, &riff, 0) != 0)
            return 0;
        const int64_t body = ck.dwDataOffset;
        const uint32_t declared = ck.cksize;
        if (body + ck.cksize > riffEnd) {
            if (s.cb != nullptr && f.sawData)
                return 0;
            if (body + ck.cksize > fileSize)
                ck.cksize = static_cast<uint32_t>(std::max<int64_t>(fileSize - body, 0));
        }
        if (previousWasData)
            f.dataEnd = body - 8;
        previousWasData = ck.ckid == kData;
        bool stop = false;
        if (int32_t rc = readSubChunk(s, ck, fileSize, f, stop); rc != 0)
            return rc;
        if (stop)
            return 0;
        if (ck.ckid == kData)
            f.declaredDataEnd = believableEnd(body, declared, fileSize);
        if (mmioAscend(s.h.get(), &ck, 0) != 0)
            return f.sawNonZeroData ? 0 : wioErrFile;
    }
}

// A format the conversions can work with. Zero rates, a zero block align or no channels
// would divide by zero; a PCM frame must hold at least one byte, and the corrected
// block align and byte rate must fit their fields.
bool usableFormat(const TWaveFormatEx& f)
{
    if (f.nChannels == 0 || f.nSamplesPerSec == 0 || f.nAvgBytesPerSec == 0 || f.nBlockAlign == 0)
        return false;
    if (f.wFormatTag != WAVE_FORMAT_PCM)
        return true;
    uint64_t align = static_cast<uint64_t>(f.wBitsPerSample) * f.nChannels / 8;
    return align != 0 && align <= 0xFFFF && align * f.nSamplesPerSec <= 0xFFFFFFFFu;
}

void correctPcmFormat(TWaveFormatEx& f)
{
    if (f.wFormatTag != WAVE_FORMAT_PCM)
        return;
    f.nBlockAlign = static_cast<uint16_t>(static_cast<uint32_t>(f.wBitsPerSample) * f.nChannels / 8);
    f.nAvgBytesPerSec = static_cast<uint32_t>(f.nBlockAlign) * f.nSamplesPerSec;
}

void* copySource(const char* name, uint32_t flags)
{
    if ((flags & wioSrcMemory) != 0 && (flags & wioSrcResource) == 0) {
        void* copy = GlobalAllocMem(sizeof(MMIOINFO));
        std::memcpy(copy, name, sizeof(MMIOINFO));
        return copy;
    }
    return RiffNewText(name);
}

// Describes an opened source: measures it, walks its chunks and fills in the control block.
int32_t describe(ScanParts& s, MMCKINFO& riff, uint32_t flags, TWAVEIOCB*& cb)
{
    const int64_t fileSize = mmioSeek(s.h.get(), 0, 2);
    const int64_t first = static_cast<int64_t>(riff.dwDataOffset) + 4;
    if (fileSize < 0 || first > kInt32Max || mmioSeek(s.h.get(), static_cast<int32_t>(first), 0) != first)
        return wioErrFile;
    if (static_cast<int64_t>(riff.dwDataOffset) + riff.cksize > fileSize)
        riff.cksize = static_cast<uint32_t>(std::max<int64_t>(fileSize - riff.dwDataOffset, 0));

    TInfoChunk* info = nullptr;
    const int32_t infoRc = RiffInitINFO(info);
    s.info.reset(info);
    if (infoRc != 0)
        return infoRc;
    TDispList* disp = nullptr;
    const int32_t dispRc = RiffInitDISP(disp);
    s.disp.reset(disp);
    if (dispRc != 0)
        return dispRc;
    ScanFindings f;
    if (int32_t rc = walkChunks(s, riff, fileSize, f); rc != 0)
        return rc;

    if ((flags & wioSrcInfoOnly) != 0) {
        s.cb.reset(static_cast<TWAVEIOCB*>(GlobalAllocMem(sizeof(TWAVEIOCB))));
    } else {
        if (s.cb == nullptr)
            return wioErrGeneral;
        // A format that would make the conversions divide by zero is not a usable wave file.
        if (!usableFormat(s.cb->Format))
            return wioErrFile;
        // Bytes after the declared data (a pad byte, a tag appended to the file) are not samples.
        const int64_t dataEnd = f.declaredDataEnd >= 0 ? std::min(f.dataEnd, f.declaredDataEnd) : f.dataEnd;
        int64_t bytes = std::max<int64_t>(dataEnd - f.dataOffset, 0);
        bytes -= bytes % s.cb->Format.nBlockAlign; // whole frames by the stored block align
        if (bytes > kInt32Max || f.dataOffset > kInt32Max)
            return wioErrFile;
        correctPcmFormat(s.cb->Format);
        s.cb->DataSize = static_cast<int32_t>(bytes);
        s.cb->DataOffset = static_cast<int32_t>(f.dataOffset);
        s.cb->FileSize = static_cast<int32_t>(fileSize);
        s.cb->SampleCount = wioBytesToSamplesEx(s.cb.get(), s.cb->DataSize);
        s.cb->LastSample = s.cb->SampleCount;
        s.cb->RiffChunk = riff;
    }
    s.h.reset();
    cb = s.cb.release();
    cb->Flags = flags;
    cb->Source = s.source.release();
    cb->InfoList = s.info.release();
    cb->DispList = s.disp.release();
    return 0;
}

struct FormatName {
    uint16_t tag;
    const char* name;
};

// Looked up in this order: the first row with a matching tag wins.
constexpr FormatName kFormatNames[] = {
    {0x0000, "Unknown"},
    {0x0001, "PCM"},
    {0x020C, "PCM 32"},
    {0x0002, "Microsoft ADPCM"},
    {0x0003, "Mediavision's ADPCM"},
    {0x0005, "IBM CVSD"},
    {0x0006, "CCITT A-Law"},
    {0x0007, "CCITT mu-Law"},
    {0x0010, "OKI ADPCM"},
    {0x0011, "IMA ADPCM"},
    {0x0011, "DVI ADPCM"},
    {0x0012, "Mediaspace's ADPCM"},
    {0x0013, "Sierra's ADPCM"},
    {0x0014, "CCITT G.723 ADPCM"},
    {0x0015, "Digisound DIGISTD"},
    {0x0016, "Digisound DIGIFIX"},
    {0x0017, "Dialogic OKI ADPCM"},
    {0x0020, "Yamaha ADPCM"},
    {0x0021, "Sonarc"},
    {0x0022, "DSP Group's Truespeech"},
    {0x0023, "Echo SC1"},
    {0x0024, "Audiofile AF36"},
    {0x0025, "Audio Processing Technology"},
    {0x0026, "Audiofile AF10"},
    {0x0030, "Dolby AC2"},
    {0x0209, "Dolby AC2"},
    {0x0031, "GSM 6.10"},
    {0x0033, "Antex ADPCME"},
    {0x0039, "CS IMA ADPCM"},
    {0x0040, "CCITT G.721 ADPCM"},
    {0x0050, "MPEG 1"},
    {0x0055, "MPEG Layer-3"},
    {0x0200, "Creative's ADPCM"},
    {0x1001, "Olivetti's ADPCM"},
    {0x0204, "CDI-C"},
    {0x0205, "CDI-B"},
    {0x0206, "Antex-DVI-OKI ADPCME"},
    {0xFFFF, "*DEVELOPMENT ONLY TAG*"},
};
static_assert(std::size(kFormatNames) == 38);

// A name through the service, which wants a writable buffer of MMIO_MAXPATH bytes.
bool askService(const char* name, uint32_t flags)
{
    if (name == nullptr || name[0] == 0)
        return false;
    size_t n = std::strlen(name) + 1;
    std::vector<char> buffer(std::max(n, MMIO_MAXPATH), 0);
    std::memcpy(buffer.data(), name, n);
    return mmioOpenA(buffer.data(), nullptr, flags) != nullptr;
}

} // namespace

int32_t wioFormatRoom(const TWAVEIOCB* cb)
{
    if (cb == nullptr)
        return 0;
    return saturateToInt32(GlobalMemSize(cb) - kFormatOffset);
}

namespace {

// A disk file through the service: for reading and writing when `writable`, falling back
// to reading only when writing is refused; otherwise for reading only.
HMMIO openDiskFile(const char* name, bool writable)
{
    std::string path(name); // the service takes a writable name
    HMMIO h = nullptr;
    if (writable)
        h = mmioOpenA(path.data(), nullptr, MMIO_ALLOCBUF | MMIO_READWRITE);
    if (h == nullptr)
        h = mmioOpenA(path.data(), nullptr, MMIO_ALLOCBUF | MMIO_READ);
    return h;
}

int32_t openSource(
    HMMIO& handle, MMCKINFO& ck, uintptr_t& resHandle, const char* name, FOURCC fccType, uint32_t flags, bool writable)
{
    resHandle = 0;
    handle = nullptr;
    if (name == nullptr)
        return wioErrFile;
    if ((flags & wioSrcResource) != 0) {
        ResourceBlock block = FindResource(name);
        if (openMemoryFile(handle, reinterpret_cast<const char*>(block.data),
                static_cast<int64_t>(std::min<size_t>(block.size, kInt32Max + 1))) != 0)
            return wioErrFile;
        // Compiled-in blocks need no loading; the handle only tells that one is in use.
        resHandle = reinterpret_cast<uintptr_t>(block.data);
    } else if ((flags & wioSrcMemory) != 0) {
        const auto* desc = reinterpret_cast<const MMIOINFO*>(name);
        if (openMemoryFile(handle, desc->pchBuffer, desc->cchBuffer) != 0)
            return wioErrFile;
    } else {
        handle = openDiskFile(name, writable);
        if (handle == nullptr)
            return wioErrFile;
    }
    if (mmioDescend(handle, &ck, nullptr, 0) != 0 || ck.ckid != FOURCC_RIFF || ck.fccType != fccType) {
        wioFileClose(handle, resHandle);
        return wioErrFile;
    }
    return 0;
}

} // namespace

// A disk file is opened for reading and writing, so that it can be written in place; one
// that may only be read is opened for reading and can still be described and read.
int32_t wioFileOpen(HMMIO& handle, MMCKINFO& ck, uintptr_t& resHandle, const char* name, FOURCC fccType, uint32_t flags)
{
    return openSource(handle, ck, resHandle, name, fccType, flags, true);
}

void wioFileClose(HMMIO& handle, uintptr_t& resHandle)
{
    resHandle = 0; // compiled-in blocks need no unlocking or freeing
    if (handle != nullptr)
        mmioClose(handle, 0);
    handle = nullptr;
}

int32_t wioReadFileInfo(TWAVEIOCB*& cb, const char* name, FOURCC fccType, uint32_t flags)
{
    cb = nullptr;
    if (name == nullptr)
        return wioErrBadParam;
    ScanParts s;
    MMCKINFO riff{};
    HMMIO h = nullptr;
    uintptr_t res = 0; // compiled-in resources need no release
    // A scan only reads.
    if (int32_t rc = openSource(h, riff, res, name, fccType, flags, false); rc != 0)
        return rc;
    s.h.reset(h);
    try {
        s.source.reset(copySource(name, flags));
        return describe(s, riff, flags, cb);
    } catch (const std::bad_alloc&) {
        return wioErrNoMem; // what was made so far is released with `s`
    }
}

void wioCloseFile(TWAVEIOCB* cb)
{
    if (cb == nullptr || cb->Handle == nullptr)
        return;
    if (isRaw(cb)) {
        SysFileOps().close(rawFd(cb));
    } else {
        HMMIO h = serviceHandle(cb);
        wioFileClose(h, cb->ResHandle);
    }
    cb->Handle = nullptr;
}

int32_t wioFreeFileInfo(TWAVEIOCB*& cb)
{
    if (cb == nullptr)
        return wioErrBadParam;
    wioCloseFile(cb);
    GlobalFreeMem(cb->Source);
    if (cb->InfoList != nullptr)
        RiffFreeINFO(cb->InfoList);
    if (cb->DispList != nullptr)
        RiffFreeDISP(cb->DispList, true);
    GlobalFreeMem(cb);
    return 0;
}

int32_t wioWaveOpen(TWAVEIOCB* cb)
{
    if (cb == nullptr)
        return wioErrBadParam;
    bool openedHere = false;
    if (cb->Handle == nullptr) {
        if (isRaw(cb)) {
            int fd = cb->Source != nullptr ? SysFileOps().open(static_cast<const char*>(cb->Source), O_RDONLY, 0) : -1;
            if (fd >= 0)
                cb->Handle = rawHandle(fd);
        } else {
            HMMIO h = nullptr;
            wioFileOpen(h, cb->RiffChunk, cb->ResHandle, static_cast<const char*>(cb->Source), FOURCC_WAVE, cb->Flags);
            cb->Handle = h;
        }
        if (cb->Handle == nullptr)
            return wioErrFile;
        openedHere = true;
    }
    if (wioWaveSetPosition(cb, cb->SamplePos) != 0) {
        // A file that cannot be positioned is of no use: do not leave it open.
        if (openedHere)
            wioCloseFile(cb);
        return wioErrFile;
    }
    return 0;
}

int32_t wioSetIOBufferSize(TWAVEIOCB* cb, int32_t size)
{
    if (cb == nullptr)
        return wioErrBadParam;
    if ((cb->Flags & (wioSrcResource | wioSrcMemory | wioSrcRaw)) != 0)
        return 0;
    if (cb->Handle == nullptr || size < 0)
        return wioErrGeneral;
    return static_cast<int32_t>(mmioSetBuffer(serviceHandle(cb), nullptr, size, 0));
}

int32_t wioWaveSetFirstSample(TWAVEIOCB* cb, int32_t n)
{
    if (cb == nullptr || n < 0 || n >= cb->LastSample)
        return wioErrBadParam;
    cb->FirstSample = n;
    cb->BytesLeft = wioSamplesToBytesEx(cb, cb->LastSample - n);
    return 0;
}

int32_t wioWaveSetLastSample(TWAVEIOCB* cb, int32_t n)
{
    if (cb == nullptr || n <= cb->FirstSample || n > cb->SampleCount)
        return wioErrBadParam;
    cb->LastSample = n;
    cb->BytesLeft = wioSamplesToBytesEx(cb, n - cb->FirstSample);
    return 0;
}

namespace {

// Moves the open file to byte `b` of the data; false on failure.
bool seekData(TWAVEIOCB* cb, int32_t b)
{
    if (isRaw(cb)) {
        off_t to = static_cast<off_t>(cb->DataOffset) + b;
        return SysFileOps().lseek(rawFd(cb), to, SEEK_SET) == to;
    }
    HMMIO h = serviceHandle(cb);
    const int64_t header = static_cast<int64_t>(cb->DataOffset) - 8;
    if (header < 0 || mmioSeek(h, static_cast<int32_t>(header), 0) != header)
        return false;
    const bool marked = (cb->DataChunk.dwFlags & MMIO_DIRTY) != 0;
    MMCKINFO ck{};
    if (mmioDescend(h, &ck, nullptr, 0) != 0)
        return false;
    ck.dwFlags = marked ? (ck.dwFlags | MMIO_DIRTY) : (ck.dwFlags & ~MMIO_DIRTY);
    cb->DataChunk = ck;
    return mmioSeek(h, b, 1) >= 0;
}

} // namespace

int32_t wioWaveSetPosition(TWAVEIOCB* cb, int32_t n)
{
    if (cb == nullptr || n < 0)
        return wioErrFile;
    const int64_t window = static_cast<int64_t>(cb->LastSample) - cb->FirstSample;
    n = window <= 0 ? 0 : static_cast<int32_t>(std::min<int64_t>(n, window - 1));
    const int32_t first = saturateToInt32(static_cast<int64_t>(cb->FirstSample) + n);
    if (cb->Handle == nullptr) {
        int32_t b = wioSamplesToBytesEx(cb, first);
        cb->SamplePos = wioBytesToSamplesEx(cb, b) - cb->FirstSample;
        return 0;
    }
    int32_t b = Min(wioSamplesToBytesEx(cb, first), cb->DataSize);
    if (cb->Format.nBlockAlign != 0)
        b -= b % cb->Format.nBlockAlign;
    if (!seekData(cb, b))
        return wioErrFile;
    // The window's end in bytes, never past the data: for a format whose byte rate does not
    // match its frames, the frames converted back may claim bytes of the chunk after it.
    const int32_t end = Min(wioSamplesToBytesEx(cb, cb->LastSample), cb->DataSize);
    cb->BytesLeft = Max(end - b, 0);
    cb->SamplePos = wioBytesToSamplesEx(cb, b) - cb->FirstSample;
    return 0;
}

namespace {

// Reads up to `count` bytes of the raw kind's plain file; -1 when the first read fails.
int32_t readPlain(int fd, char* buffer, int32_t count)
{
    int32_t got = 0;
    while (got < count) {
        ssize_t r = SysFileOps().read(fd, buffer + got, static_cast<size_t>(count - got));
        if (r < 0)
            return got > 0 ? got : -1;
        if (r == 0)
            break;
        got += static_cast<int32_t>(r);
    }
    return got;
}

} // namespace

int32_t wioWaveReadData(TWAVEIOCB* cb, char* buffer, int32_t count)
{
    if (cb == nullptr || cb->Handle == nullptr || count < 0)
        return -1;
    if (cb->BytesLeft <= 0)
        return -1; // the end of the window is -1, not 0
    int32_t m = Min(count, cb->BytesLeft);
    // Straight through the service into the caller's buffer: no copy of our own.
    int32_t r = isRaw(cb) ? readPlain(rawFd(cb), buffer, m) : mmioRead(serviceHandle(cb), buffer, m);
    if (r < count)
        cb->BytesLeft = 0; // a short read ends the window
    if (r <= 0)
        return r;
    cb->BytesLeft = Max(cb->BytesLeft - r, 0);
    cb->SamplePos = saturateToInt32(
        static_cast<int64_t>(cb->LastSample) - cb->FirstSample - wioBytesToSamplesEx(cb, cb->BytesLeft));
    return r;
}

int32_t wioWaveReadDataDirect(TWAVEIOCB* cb, char* buffer, int32_t count)
{
    if (cb == nullptr || cb->Handle == nullptr || isRaw(cb) || count < 0)
        return -1;
    HMMIO h = serviceHandle(cb);
    MMIOINFO info{};
    if (mmioGetInfo(h, &info, 0) != 0)
        return -1;
    const int32_t m = Max(Min(cb->BytesLeft, count), 0);
    int32_t copied = 0;
    while (copied < m) {
        if (info.pchNext == info.pchEndRead &&
            (mmioAdvance(h, &info, MMIO_ADVANCE_READ) != 0 || info.pchNext == info.pchEndRead)) {
            mmioSetInfo(h, &info, 0); // hand the state back even so
            return -1;
        }
        int32_t n = static_cast<int32_t>(std::min<int64_t>(info.pchEndRead - info.pchNext, m - copied));
        std::memcpy(buffer + copied, info.pchNext, static_cast<size_t>(n));
        info.pchNext += n;
        copied += n;
    }
    if (mmioSetInfo(h, &info, 0) != 0)
        return -1;
    cb->BytesLeft -= m;
    cb->SamplePos = saturateToInt32(static_cast<int64_t>(cb->SamplePos) + wioBytesToSamplesEx(cb, m));
    return m;
}

int32_t wioWaveReadSamples(TWAVEIOCB* cb, char* buffer, int32_t frames)
{
    if (cb == nullptr || frames <= 0)
        return -1;
    int32_t r = wioWaveReadData(cb, buffer, wioSamplesToBytesEx(cb, frames));
    return r > 0 ? wioBytesToSamplesEx(cb, r) : -1;
}

int32_t wioBytesToSamples(const TWaveFormatEx* format, int32_t bytes)
{
    return format == nullptr ? 0 : mulDivRoundSaturated(bytes, format->nSamplesPerSec, format->nAvgBytesPerSec);
}

int32_t wioSamplesToBytes(const TWaveFormatEx* format, int32_t frames)
{
    if (format == nullptr || format->nSamplesPerSec == 0)
        return 0;
    return raiseToAlign(
        mulDivRoundSaturated(frames, format->nAvgBytesPerSec, format->nSamplesPerSec), format->nBlockAlign);
}

int32_t wioBytesPerSample(const TWaveFormatEx* format) { return wioSamplesToBytes(format, 1); }

int32_t wioBytesToTime(const TWaveFormatEx* format, int32_t bytes)
{
    return format == nullptr ? 0 : mulDivRoundSaturated(bytes, 1000, format->nAvgBytesPerSec);
}

int32_t wioSamplesToTime(const TWaveFormatEx* format, int32_t frames)
{
    return format == nullptr ? 0 : mulDivRoundSaturated(frames, 1000, format->nSamplesPerSec);
}

int32_t wioTimeToSamples(const TWaveFormatEx* format, int32_t ms)
{
    return format == nullptr ? 0 : mulDivRoundSaturated(ms, format->nSamplesPerSec, 1000);
}

int32_t wioTimeToBytes(const TWaveFormatEx* format, int32_t ms)
{
    if (format == nullptr)
        return 0;
    return raiseToAlign(mulDivRoundSaturated(ms, format->nAvgBytesPerSec, 1000), format->nBlockAlign);
}

int32_t wioBytesToSamplesEx(const TWAVEIOCB* cb, int32_t bytes)
{
    return cb == nullptr ? 0 : wioBytesToSamples(&cb->Format, bytes);
}

int32_t wioSamplesToBytesEx(const TWAVEIOCB* cb, int32_t frames)
{
    return cb == nullptr ? 0 : wioSamplesToBytes(&cb->Format, frames);
}

int32_t wioSizeOfWaveFormat(const TWaveFormatEx* format)
{
    if (format == nullptr)
        return 0;
    if (format->wFormatTag == WAVE_FORMAT_PCM)
        return static_cast<int32_t>(sizeof(TWaveFormatEx));
    return static_cast<int32_t>(sizeof(TWaveFormatEx)) + format->cbSize;
}

TWaveFormatEx* wioCopyWaveFormatN(const TWaveFormatEx* format, int32_t available)
{
    if (format == nullptr)
        return nullptr;
    const size_t have = static_cast<size_t>(Max(available, 0));
    TWaveFormatEx head{};
    std::memcpy(&head, format, std::min(have, sizeof head));
    const int32_t size = wioSizeOfWaveFormat(&head);
    TWaveFormatEx* copy = nullptr;
    try {
        copy = static_cast<TWaveFormatEx*>(GlobalAllocMem(size));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    std::memcpy(copy, format, std::min(have, static_cast<size_t>(size)));
    if (copy->wFormatTag == WAVE_FORMAT_PCM)
        copy->cbSize = 0;
    return copy;
}

TWaveFormatEx* wioCopyWaveFormat(const TWaveFormatEx* format)
{
    // The caller vouches for 18 + cbSize bytes.
    return wioCopyWaveFormatN(format, wioSizeOfWaveFormat(format));
}

namespace {

// An extensible format is named by its sub-format: "EXTENSIBLE (PCM)", "EXTENSIBLE
// (IEEE float)", "EXTENSIBLE (0xNNNN)" for another known tag.
std::string extensibleName(const TWaveFormatEx* format)
{
    ExtensibleInfo info;
    if (!readExtensible(format, wioSizeOfWaveFormat(format), info))
        return "EXTENSIBLE";
    if (!info.knownSubFormat)
        return "EXTENSIBLE (unknown sub-format)";
    if (info.subFormatTag == WAVE_FORMAT_PCM)
        return "EXTENSIBLE (PCM)";
    if (info.subFormatTag == WAVE_FORMAT_IEEE_FLOAT)
        return "EXTENSIBLE (IEEE float)";
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%04X", info.subFormatTag);
    return std::string("EXTENSIBLE (") + hex + ")";
}

} // namespace

void wioGetFormatName(const TWaveFormatEx* format, std::string& text)
{
    text = "Unknown";
    if (format == nullptr)
        return;
    if (format->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        // The record holds 18 + cbSize bytes, as for wioCopyWaveFormat.
        text = extensibleName(format);
        return;
    }
    for (const FormatName& row : kFormatNames) {
        if (row.tag == format->wFormatTag) {
            text = row.name;
            return;
        }
    }
}

bool wioIsWaveFile(const char* name, uint32_t flags)
{
    if (name == nullptr)
        return false;
    const bool named = (flags & wioSrcResource) != 0 || (flags & wioSrcMemory) == 0;
    if (named && name[0] == 0)
        return false;
    TWAVEIOCB* cb = nullptr;
    const bool ok = wioReadFileInfo(cb, name, FOURCC_WAVE, flags) == 0;
    if (cb != nullptr)
        wioFreeFileInfo(cb);
    return ok;
}

bool wioGetFullPathName(char* name) { return name != nullptr && mmioOpenA(name, nullptr, MMIO_PARSE) != nullptr; }

bool wioFileExists(const char* name) { return askService(name, MMIO_EXIST); }

bool wioFileDelete(const char* name) { return askService(name, MMIO_DELETE); }

} // namespace orvelle
