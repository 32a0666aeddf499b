#pragma once
// The RIFF file service: buffered I/O on disk files and memory blocks, and stepping
// into and out of RIFF chunks. A chunk is a four-character id, a 32-bit little-endian
// body size and the body, padded to even length; "RIFF" and "LIST" bodies begin with
// a four-character type.
//
// Offsets are signed 32-bit, as the engine counts them: a position that does not fit
// is an error (-1), never wrapped.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "util/Mmtypes.h"

namespace orvelle {

struct MMIOHandle;
using HMMIO = MMIOHandle*;

// Room for a file name that mmioOpenA(..., MMIO_PARSE) writes back (with its zero).
inline constexpr size_t MMIO_MAXPATH = 4096;

// mmioOpenA flags.
inline constexpr uint32_t MMIO_READ = 0x0000;
inline constexpr uint32_t MMIO_WRITE = 0x0001;
inline constexpr uint32_t MMIO_READWRITE = 0x0002;
inline constexpr uint32_t MMIO_CREATE = 0x1000; // create a new file; fails when the name is taken
inline constexpr uint32_t MMIO_PARSE = 0x0100; // only qualify the name in place
inline constexpr uint32_t MMIO_EXIST = 0x4000; // only tell whether the file exists
inline constexpr uint32_t MMIO_DELETE = 0x0200; // only delete the file
inline constexpr uint32_t MMIO_ALLOCBUF = 0x10000; // buffered I/O

// mmioCreateChunk / mmioDescend flags.
inline constexpr uint32_t MMIO_CREATERIFF = 0x0020;
inline constexpr uint32_t MMIO_CREATELIST = 0x0040;

// mmioAdvance flags.
inline constexpr uint32_t MMIO_ADVANCE_READ = 0;
inline constexpr uint32_t MMIO_ADVANCE_WRITE = 1;

// MMCKINFO.dwFlags: the chunk's size is still to be fixed when it is left.
// MMIOINFO.dwFlags: the I/O buffer holds bytes not yet written out.
inline constexpr uint32_t MMIO_DIRTY = 0x10000000;

// Result codes of the service (0 is success).
enum : uint32_t {
    MMIOERR_CANNOTOPEN = 1,
    MMIOERR_CANNOTREAD = 2,
    MMIOERR_CANNOTWRITE = 3,
    MMIOERR_CANNOTSEEK = 4,
    MMIOERR_CANNOTEXPAND = 5, // a memory file cannot grow
    MMIOERR_CHUNKNOTFOUND = 6, // no further chunk inside the parent, or no header
    MMIOERR_OUTOFMEMORY = 7,
    MMIOERR_INVALIDPARAM = 8,
    MMIOERR_CANNOTFLUSH = 9,
};

inline constexpr FOURCC FOURCC_RIFF = mmioFourCC('R', 'I', 'F', 'F');
inline constexpr FOURCC FOURCC_LIST = mmioFourCC('L', 'I', 'S', 'T');
inline constexpr FOURCC FOURCC_MEM = mmioFourCC('M', 'E', 'M', ' ');

struct MMCKINFO {
    FOURCC ckid;
    uint32_t cksize; // body size as stored (for RIFF and LIST it includes the type)
    FOURCC fccType; // form or list type of a "RIFF" or "LIST" chunk
    uint32_t dwDataOffset; // file offset of the body
    uint32_t dwFlags; // MMIO_DIRTY: fix the size on ascend
};

// I/O state of an open handle, for direct access to its buffer.
struct MMIOINFO {
    uint32_t dwFlags; // MMIO_CREATE when opened with create; MMIO_DIRTY set by writers
    FOURCC fccIOProc; // FOURCC_MEM for a memory file, 0 for a disk file
    int32_t cchBuffer; // size of the I/O buffer (of the whole block for a memory file)
    char* pchBuffer; // start of the I/O buffer
    char* pchNext; // next byte to read or write
    char* pchEndRead; // end of the bytes that can be read from the buffer
    char* pchEndWrite; // end of the room that can be written in the buffer
    int32_t lBufOffset; // file offset of pchBuffer
    uint32_t adwInfo[3]; // memory file: adwInfo[0] is the growth step (0: cannot grow)
};

// Disk file: mmioOpenA(name, nullptr, MMIO_ALLOCBUF | MMIO_READWRITE [| MMIO_CREATE]).
// Memory file: mmioOpenA(nullptr, &info, MMIO_ALLOCBUF) with fccIOProc = FOURCC_MEM,
//   pchBuffer and cchBuffer naming the block (not copied, not owned) and adwInfo[0] = 0.
// MMIO_PARSE writes the full path into `name` (a buffer of MMIO_MAXPATH bytes) and
// returns a non-null token; MMIO_EXIST and MMIO_DELETE return a non-null token when the
// file exists / was deleted. Such tokens are not handles and must not be closed.
// Otherwise: a handle, or null.
HMMIO mmioOpenA(char* name, MMIOINFO* info, uint32_t flags);
// Writes out the buffer and closes; 0 or an error code. A null handle gives an error.
uint32_t mmioClose(HMMIO h, uint32_t flags);

// The owning handle of an open service handle: closed (without a result) when dropped.
struct MmioCloser {
    void operator()(HMMIO h) const { mmioClose(h, 0); }
};
using MmioHandle = std::unique_ptr<MMIOHandle, MmioCloser>;

// Bytes moved (0 at the end of the file), or -1 on error.
int32_t mmioRead(HMMIO h, char* buffer, int32_t count);
int32_t mmioWrite(HMMIO h, const char* buffer, int32_t count);
// origin: 0 start, 1 current, 2 end. The new offset, or -1.
int32_t mmioSeek(HMMIO h, int32_t offset, int origin);

// Reads the chunk header at the current position into `ck`. With a parent, the chunk
// must begin inside the parent's body. The position is left at the body (after the type
// for "RIFF" and "LIST"). MMIOERR_CHUNKNOTFOUND when no further header can be had.
uint32_t mmioDescend(HMMIO h, MMCKINFO* ck, const MMCKINFO* parent, uint32_t flags);
// Leaves the chunk: when it is dirty, the current position ends its body, the stored
// size is corrected and an odd body gets its pad byte. Then the position is after the
// chunk (body offset + size + pad).
uint32_t mmioAscend(HMMIO h, MMCKINFO* ck, uint32_t flags);
// Writes a header at the current position: flags MMIO_CREATERIFF, MMIO_CREATELIST (with
// ck->fccType) or 0. Sets ck->dwDataOffset, marks `ck` dirty, leaves the position at the body.
uint32_t mmioCreateChunk(HMMIO h, MMCKINFO* ck, uint32_t flags);

// Direct buffer access. mmioGetInfo copies the state; the caller moves pchNext; mmioAdvance
// refills the buffer for reading or writes it out and readies it for writing (set
// MMIO_DIRTY in info->dwFlags first when bytes were stored); mmioSetInfo hands it back.
uint32_t mmioGetInfo(HMMIO h, MMIOINFO* info, uint32_t flags);
uint32_t mmioSetInfo(HMMIO h, const MMIOINFO* info, uint32_t flags);
uint32_t mmioAdvance(HMMIO h, MMIOINFO* info, uint32_t flags);

// Writes the buffer out; 0 or an error code.
uint32_t mmioFlush(HMMIO h, uint32_t flags);
// Gives the handle a new I/O buffer of `size` bytes (0: unbuffered). `buffer` must be
// null: the service owns its buffers. No effect on a memory file.
uint32_t mmioSetBuffer(HMMIO h, char* buffer, int32_t size, uint32_t flags);

// The code of a four-character text; shorter texts are padded with spaces.
FOURCC mmioStringToFOURCCA(const char* text, uint32_t flags);
// Renames a file; fails, changing nothing, when `newName` exists. 0 on success.
uint32_t mmioRenameA(const char* oldName, const char* newName, const MMIOINFO* info, uint32_t flags);

} // namespace orvelle
