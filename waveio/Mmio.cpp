#include "waveio/Mmio.h"

#include "util/LittleEndian.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/Sysfile.h"

// Choices of this service:
// - A memory file cannot grow: a write that would pass the end of the block fails
//   with -1 and writes nothing; a handle opened for reading only refuses writes.
// - An unbuffered disk handle (no MMIO_ALLOCBUF, or mmioSetBuffer with size 0) hands
//   out an empty buffer from mmioGetInfo; mmioAdvance then fails, so direct access
//   reports an error instead of moving data.
// - No position passes INT32_MAX: seeks and writes beyond it give -1, and a read
//   stops there (a read starting there gives -1).
// - On a failed read or write the position is where the bytes that did move left it.
namespace orvelle {

// One open file. A disk file keeps a window of the file in `buf`: the bytes
// [0, bufLen) mirror the file from `bufOffset` on (or are newer, when inside the
// dirty range); the position is bufOffset + cur, with cur <= bufLen always.
// A memory file works on the caller's block directly.
struct MMIOHandle {
    bool token = false; // the "done" result of parse / exist / delete, not a file
    bool memory = false;
    bool canRead = false;
    bool canWrite = false;
    uint32_t flags = 0; // open flags, reported in MMIOINFO.dwFlags

    int fd = -1;
    int64_t osPos = -1; // the descriptor's offset when known, -1 otherwise
    std::vector<char> buf;
    int64_t bufOffset = 0;
    int64_t bufLen = 0;
    int64_t cur = 0;
    int64_t dirtyLo = 0;
    int64_t dirtyHi = 0;

    char* block = nullptr;
    int64_t blockSize = 0;
    int64_t memPos = 0; // may lie beyond the block: reads there give 0

    // Direct access: the buffer state last handed out by mmioGetInfo / mmioAdvance.
    bool handedOut = false;
    int64_t handedCur = 0;
    int64_t handedPos = 0;
};

namespace {

constexpr int64_t kMaxOffset = INT32_MAX;
constexpr size_t kDefaultBufferSize = 8192;

MMIOHandle makeDoneToken()
{
    MMIOHandle t;
    t.token = true;
    return t;
}
MMIOHandle gDoneToken = makeDoneToken();

uint32_t okOr(bool ok, uint32_t error) { return ok ? 0 : error; }

// A real handle (not null, not the parse/exist/delete token); other calls
// than the direct-access ones end any handed-out buffer state.
bool usable(HMMIO h)
{
    if (h == nullptr || h->token)
        return false;
    h->handedOut = false;
    return true;
}

int64_t position(const MMIOHandle& h) { return h.memory ? h.memPos : h.bufOffset + h.cur; }
int64_t capacity(const MMIOHandle& h) { return static_cast<int64_t>(h.buf.size()); }
bool isDirty(const MMIOHandle& h) { return h.dirtyHi > h.dirtyLo; }
char* bufferBase(MMIOHandle& h) { return h.memory ? h.block : (h.buf.empty() ? nullptr : h.buf.data()); }

void markDirty(MMIOHandle& h, int64_t lo, int64_t hi)
{
    if (!isDirty(h)) {
        h.dirtyLo = lo;
        h.dirtyHi = hi;
    } else {
        h.dirtyLo = std::min(h.dirtyLo, lo);
        h.dirtyHi = std::max(h.dirtyHi, hi);
    }
}

bool osSeek(MMIOHandle& h, int64_t offset)
{
    if (h.osPos == offset)
        return true;
    off_t r = SysFileOps().lseek(h.fd, static_cast<off_t>(offset), SEEK_SET);
    h.osPos = r == offset ? offset : -1;
    return r == offset;
}

// Reads up to n bytes at `offset`, retrying short reads until n or the end of the
// file. The bytes read, or -1.
int64_t osReadAt(MMIOHandle& h, int64_t offset, char* dst, int64_t n)
{
    if (!osSeek(h, offset))
        return -1;
    int64_t got = 0;
    while (got < n) {
        ssize_t r = SysFileOps().read(h.fd, dst + got, static_cast<size_t>(n - got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || r > n - got) {
            h.osPos = -1;
            return -1;
        }
        if (r == 0)
            break;
        got += r;
    }
    h.osPos = offset + got;
    return got;
}

bool osWriteAt(MMIOHandle& h, int64_t offset, const char* src, int64_t n)
{
    if (!osSeek(h, offset))
        return false;
    int64_t done = 0;
    while (done < n) {
        ssize_t r = SysFileOps().write(h.fd, src + done, static_cast<size_t>(n - done));
        if (r < 0 && errno == EINTR)
            continue;
        // A write that moves nothing would repeat forever: take it as a failure.
        if (r <= 0 || r > n - done) {
            h.osPos = -1;
            return false;
        }
        done += r;
    }
    h.osPos = offset + done;
    return true;
}

// Writes the dirty range of the buffer to the file; the buffer stays valid.
bool writeOut(MMIOHandle& h)
{
    if (h.memory || !isDirty(h))
        return true;
    if (!osWriteAt(h, h.bufOffset + h.dirtyLo, h.buf.data() + h.dirtyLo, h.dirtyHi - h.dirtyLo))
        return false;
    h.dirtyLo = h.dirtyHi = 0;
    return true;
}

// An empty buffer at `offset`; the caller has written out what was dirty.
void emptyAt(MMIOHandle& h, int64_t offset)
{
    h.bufOffset = offset;
    h.bufLen = h.cur = 0;
    h.dirtyLo = h.dirtyHi = 0;
}

// Room for bytes in the buffer such that no position passes kMaxOffset.
int64_t room(const MMIOHandle& h) { return std::min(capacity(h), kMaxOffset - h.bufOffset); }

// Moves a disk file's position; the buffer is kept when the target lies in it.
bool moveTo(MMIOHandle& h, int64_t target)
{
    if (target >= h.bufOffset && target <= h.bufOffset + h.bufLen) {
        h.cur = target - h.bufOffset;
        return true;
    }
    if (!writeOut(h))
        return false;
    emptyAt(h, target);
    return true;
}

// Fills the buffer from the file at the current position.
uint32_t refill(MMIOHandle& h)
{
    if (!writeOut(h))
        return MMIOERR_CANNOTWRITE;
    emptyAt(h, position(h));
    int64_t got = osReadAt(h, h.bufOffset, h.buf.data(), room(h));
    if (got < 0)
        return MMIOERR_CANNOTREAD;
    h.bufLen = got;
    return 0;
}

int32_t memoryRead(MMIOHandle& h, char* dst, int64_t count)
{
    int64_t n = std::clamp<int64_t>(h.blockSize - h.memPos, 0, count);
    if (n > 0)
        std::memcpy(dst, h.block + h.memPos, static_cast<size_t>(n));
    h.memPos += n;
    return static_cast<int32_t>(n);
}

// The block cannot grow: a write that would pass its end is refused as a whole, so
// that nothing is written when -1 is returned.
int32_t memoryWrite(MMIOHandle& h, const char* src, int64_t count)
{
    if (h.memPos + count > h.blockSize)
        return -1;
    if (count > 0)
        std::memcpy(h.block + h.memPos, src, static_cast<size_t>(count));
    h.memPos += count;
    return static_cast<int32_t>(count);
}

int32_t diskRead(MMIOHandle& h, char* dst, int64_t count)
{
    int64_t done = std::min(count, h.bufLen - h.cur);
    if (done > 0)
        std::memcpy(dst, h.buf.data() + h.cur, static_cast<size_t>(done));
    h.cur += done;
    int64_t rest = count - done;
    if (rest == 0)
        return static_cast<int32_t>(done);
    if (rest >= capacity(h)) {
        // The buffer has nothing more to give: read straight into the caller's buffer.
        if (!writeOut(h))
            return -1;
        int64_t from = position(h);
        int64_t got = osReadAt(h, from, dst + done, rest);
        emptyAt(h, got < 0 ? from : from + got);
        return got < 0 ? -1 : static_cast<int32_t>(done + got);
    }
    if (refill(h) != 0)
        return -1;
    int64_t n = std::min(rest, h.bufLen);
    if (n > 0)
        std::memcpy(dst + done, h.buf.data(), static_cast<size_t>(n));
    h.cur = n;
    return static_cast<int32_t>(done + n);
}

int32_t diskWrite(MMIOHandle& h, const char* src, int64_t count)
{
    if (capacity(h) == 0) {
        if (!osWriteAt(h, h.bufOffset, src, count))
            return -1;
        h.bufOffset += count;
        return static_cast<int32_t>(count);
    }
    int64_t done = 0;
    while (done < count) {
        if (h.cur == capacity(h)) {
            if (!writeOut(h))
                return -1;
            emptyAt(h, position(h));
        }
        int64_t n = std::min(capacity(h) - h.cur, count - done);
        std::memcpy(h.buf.data() + h.cur, src + done, static_cast<size_t>(n));
        markDirty(h, h.cur, h.cur + n);
        h.cur += n;
        h.bufLen = std::max(h.bufLen, h.cur);
        done += n;
    }
    return static_cast<int32_t>(count);
}

// The file's end as the OS sees it, after writing out the buffer; -1 on error.
int64_t diskEnd(MMIOHandle& h)
{
    if (!writeOut(h))
        return -1;
    off_t end = SysFileOps().lseek(h.fd, 0, SEEK_END);
    h.osPos = end < 0 ? -1 : static_cast<int64_t>(end);
    return end < 0 ? -1 : static_cast<int64_t>(end);
}

void handOut(MMIOHandle& h, MMIOINFO& info)
{
    char* base = bufferBase(h);
    info = MMIOINFO{};
    info.dwFlags = h.flags | (isDirty(h) ? MMIO_DIRTY : 0);
    info.fccIOProc = h.memory ? FOURCC_MEM : 0;
    info.pchBuffer = base;
    if (h.memory) {
        int64_t at = std::min(h.memPos, h.blockSize);
        info.cchBuffer = static_cast<int32_t>(h.blockSize);
        info.pchNext = base + at;
        info.pchEndRead = base + h.blockSize;
        info.pchEndWrite = base + h.blockSize;
        h.handedCur = at;
    } else {
        info.cchBuffer = static_cast<int32_t>(capacity(h));
        info.pchNext = base + h.cur;
        info.pchEndRead = base + h.bufLen;
        info.pchEndWrite = base + room(h);
        info.lBufOffset = static_cast<int32_t>(h.bufOffset);
        h.handedCur = h.cur;
    }
    // A handle not open for writing offers no room: a direct writer finds the
    // buffer full at once, and mmioAdvance refuses to write.
    if (!h.canWrite)
        info.pchEndWrite = info.pchNext;
    h.handedPos = position(h);
    h.handedOut = true;
}

// Takes back a buffer state handed out before: the position becomes pchNext, and
// with MMIO_DIRTY the bytes from the handed-out position to pchNext count as written.
uint32_t takeBack(MMIOHandle& h, const MMIOINFO& info)
{
    char* base = bufferBase(h);
    int64_t limit = h.memory ? h.blockSize : room(h);
    auto b = reinterpret_cast<uintptr_t>(base);
    auto n = reinterpret_cast<uintptr_t>(info.pchNext);
    if (!h.handedOut || info.pchBuffer != base || n < b || static_cast<int64_t>(n - b) > limit)
        return MMIOERR_INVALIDPARAM;
    h.handedOut = false;
    auto next = static_cast<int64_t>(n - b);
    if (h.memory) {
        h.memPos = h.handedPos + (next - h.handedCur);
        return 0;
    }
    if ((info.dwFlags & MMIO_DIRTY) && h.canWrite && next > h.handedCur) {
        markDirty(h, h.handedCur, next);
        h.bufLen = std::max(h.bufLen, next);
    }
    if (next <= h.bufLen) {
        h.cur = next;
        return 0;
    }
    return okOr(moveTo(h, h.bufOffset + next), MMIOERR_CANNOTWRITE);
}

uint32_t advanceRead(MMIOHandle& h)
{
    if (h.memory)
        return 0; // the block is all there is
    if (!h.canRead || capacity(h) == 0)
        return MMIOERR_CANNOTREAD;
    return refill(h);
}

uint32_t advanceWrite(MMIOHandle& h)
{
    if (!h.canWrite)
        return MMIOERR_CANNOTWRITE;
    if (h.memory)
        return okOr(h.memPos < h.blockSize, MMIOERR_CANNOTEXPAND);
    if (capacity(h) == 0 || !writeOut(h))
        return MMIOERR_CANNOTWRITE;
    emptyAt(h, position(h));
    // No room left below the largest offset: say so rather than hand out a full buffer.
    return okOr(room(h) > 0, MMIOERR_CANNOTEXPAND);
}

bool isListId(FOURCC id) { return id == FOURCC_RIFF || id == FOURCC_LIST; }

// Reads `n` header bytes; 0, or the code for a header that is not all there.
uint32_t readHeaderBytes(HMMIO h, uint8_t* dst, int32_t n)
{
    int32_t got = mmioRead(h, reinterpret_cast<char*>(dst), n);
    if (got == n)
        return 0;
    return got < 0 ? MMIOERR_CANNOTREAD : MMIOERR_CHUNKNOTFOUND;
}

// Reads the chunk header at the current position; on failure the position is kept.
uint32_t readChunkHeader(HMMIO h, MMCKINFO& ck, const MMCKINFO* parent)
{
    int64_t start = position(*h);
    if (parent != nullptr) {
        uint64_t end = uint64_t{parent->dwDataOffset} + parent->cksize;
        if (start < int64_t{parent->dwDataOffset} || static_cast<uint64_t>(start) + 8 > end)
            return MMIOERR_CHUNKNOTFOUND;
    }
    uint8_t hdr[12];
    uint32_t r = readHeaderBytes(h, hdr, 8);
    bool list = r == 0 && isListId(loadLe32(hdr));
    if (list)
        r = readHeaderBytes(h, hdr + 8, 4);
    if (r != 0) {
        mmioSeek(h, static_cast<int32_t>(start), 0);
        return r;
    }
    ck.ckid = loadLe32(hdr);
    ck.cksize = loadLe32(hdr + 4);
    ck.fccType = list ? loadLe32(hdr + 8) : 0;
    ck.dwDataOffset = static_cast<uint32_t>(start + 8);
    ck.dwFlags = 0;
    return 0;
}

bool validChunkFlags(uint32_t flags)
{
    return (flags & ~(MMIO_CREATERIFF | MMIO_CREATELIST)) == 0 && flags != (MMIO_CREATERIFF | MMIO_CREATELIST);
}

HMMIO openMemory(const MMIOINFO& info, uint32_t access, uint32_t flags)
{
    // The block is the caller's and is not copied, so it cannot grow.
    if (info.cchBuffer < 0 || (info.pchBuffer == nullptr && info.cchBuffer > 0) || info.adwInfo[0] != 0)
        return nullptr;
    auto h = std::make_unique<MMIOHandle>();
    h->memory = true;
    h->canRead = access != MMIO_WRITE;
    h->canWrite = access != MMIO_READ;
    h->flags = flags;
    h->block = info.pchBuffer;
    h->blockSize = info.cchBuffer;
    return h.release();
}

HMMIO openDisk(const char* name, uint32_t access, uint32_t flags)
{
    if ((flags & MMIO_CREATE) && access == MMIO_READ)
        return nullptr;
    auto h = std::make_unique<MMIOHandle>();
    h->canRead = access != MMIO_WRITE;
    h->canWrite = access != MMIO_READ;
    h->flags = flags;
    if (flags & MMIO_ALLOCBUF)
        h->buf.resize(kDefaultBufferSize);
    int oflags = access == MMIO_READ ? O_RDONLY : access == MMIO_WRITE ? O_WRONLY : O_RDWR;
    // Create makes a new file only: whatever stands at the name (a file, a link, even a
    // dangling one) makes the open fail and is left as it was, so a write can never
    // reach another file through a link or truncate one.
    if (flags & MMIO_CREATE)
        oflags |= O_CREAT | O_EXCL | O_NOFOLLOW;
    // O_NONBLOCK only matters for what is not a regular file: opening a FIFO must not
    // wait for a writer. Anything but a regular file (FIFO, device, folder) is refused,
    // since reading it could block or never end.
    h->fd = SysFileOps().open(name, oflags | O_NONBLOCK, 0666);
    if (h->fd < 0)
        return nullptr;
    struct stat st { };
    if (SysFileOps().fstat(h->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        SysFileOps().close(h->fd);
        return nullptr;
    }
    h->osPos = 0;
    return h.release();
}

HMMIO parseName(char* name)
{
    std::string full = fullPathName(name);
    if (full.empty() || full.size() >= MMIO_MAXPATH)
        return nullptr;
    std::memcpy(name, full.c_str(), full.size() + 1);
    return &gDoneToken;
}

} // namespace

HMMIO mmioOpenA(char* name, MMIOINFO* info, uint32_t flags)
{
    uint32_t access = flags & (MMIO_WRITE | MMIO_READWRITE);
    if (access == (MMIO_WRITE | MMIO_READWRITE))
        return nullptr;
    uint32_t kept = flags & (MMIO_WRITE | MMIO_READWRITE | MMIO_CREATE | MMIO_ALLOCBUF);
    if (info != nullptr && info->fccIOProc == FOURCC_MEM)
        return openMemory(*info, access, kept);
    if ((info != nullptr && info->fccIOProc != 0) || name == nullptr || *name == '\0')
        return nullptr;
    if (flags & MMIO_PARSE)
        return parseName(name);
    if (flags & MMIO_EXIST)
        return fileExists(name) ? &gDoneToken : nullptr;
    if (flags & MMIO_DELETE)
        return deleteFileName(name) ? &gDoneToken : nullptr;
    return openDisk(name, access, kept);
}

uint32_t mmioClose(HMMIO h, uint32_t /*flags*/)
{
    if (!usable(h))
        return MMIOERR_INVALIDPARAM;
    std::unique_ptr<MMIOHandle> owned(h);
    if (h->memory)
        return 0;
    uint32_t result = okOr(writeOut(*h), MMIOERR_CANNOTWRITE);
    // A failing close may mean the data never reached the file: report it.
    if (SysFileOps().close(h->fd) != 0 && result == 0)
        result = MMIOERR_CANNOTFLUSH;
    return result;
}

int32_t mmioRead(HMMIO h, char* buffer, int32_t count)
{
    if (!usable(h) || count < 0 || (buffer == nullptr && count > 0) || !h->canRead)
        return -1;
    // No byte is read past the largest offset the API can report.
    int64_t n = std::min<int64_t>(count, kMaxOffset - position(*h));
    if (n <= 0)
        return count == 0 ? 0 : -1;
    return h->memory ? memoryRead(*h, buffer, n) : diskRead(*h, buffer, n);
}

int32_t mmioWrite(HMMIO h, const char* buffer, int32_t count)
{
    if (!usable(h) || count < 0 || (buffer == nullptr && count > 0) || !h->canWrite)
        return -1;
    if (position(*h) + count > kMaxOffset)
        return -1;
    if (count == 0)
        return 0;
    return h->memory ? memoryWrite(*h, buffer, count) : diskWrite(*h, buffer, count);
}

int32_t mmioSeek(HMMIO h, int32_t offset, int origin)
{
    if (!usable(h))
        return -1;
    int64_t base = 0;
    if (origin == 1)
        base = position(*h);
    else if (origin == 2)
        base = h->memory ? h->blockSize : diskEnd(*h);
    else if (origin != 0)
        return -1;
    if (base < 0)
        return -1;
    int64_t target = base + offset;
    if (target < 0 || target > kMaxOffset)
        return -1;
    if (h->memory)
        h->memPos = target;
    else if (!moveTo(*h, target))
        return -1;
    return static_cast<int32_t>(target);
}

uint32_t mmioDescend(HMMIO h, MMCKINFO* ck, const MMCKINFO* parent, uint32_t flags)
{
    if (!usable(h) || ck == nullptr || !validChunkFlags(flags))
        return MMIOERR_INVALIDPARAM;
    if (flags == 0)
        return readChunkHeader(h, *ck, parent);
    // MMIO_CREATERIFF / MMIO_CREATELIST: step over chunks until a "RIFF" or "LIST"
    // of type ck->fccType. Each step moves at least one header forward.
    FOURCC wantId = (flags & MMIO_CREATERIFF) ? FOURCC_RIFF : FOURCC_LIST;
    for (;;) {
        MMCKINFO found{};
        if (uint32_t r = readChunkHeader(h, found, parent); r != 0)
            return r;
        if (found.ckid == wantId && found.fccType == ck->fccType) {
            *ck = found;
            return 0;
        }
        if (uint32_t r = mmioAscend(h, &found, 0); r != 0)
            return r;
    }
}

uint32_t mmioAscend(HMMIO h, MMCKINFO* ck, uint32_t /*flags*/)
{
    if (!usable(h) || ck == nullptr)
        return MMIOERR_INVALIDPARAM;
    if (ck->dwFlags & MMIO_DIRTY) {
        int64_t pos = position(*h);
        if (ck->dwDataOffset < 4 || pos < int64_t{ck->dwDataOffset})
            return MMIOERR_INVALIDPARAM;
        auto size = static_cast<uint32_t>(pos - ck->dwDataOffset);
        const char zero = 0;
        if ((size & 1) && mmioWrite(h, &zero, 1) != 1)
            return MMIOERR_CANNOTWRITE;
        if (mmioSeek(h, static_cast<int32_t>(ck->dwDataOffset - 4), 0) < 0)
            return MMIOERR_CANNOTSEEK;
        uint8_t le[4];
        storeLe32(le, size);
        if (mmioWrite(h, reinterpret_cast<const char*>(le), 4) != 4)
            return MMIOERR_CANNOTWRITE;
        ck->cksize = size;
        ck->dwFlags &= ~MMIO_DIRTY;
    }
    uint64_t end = uint64_t{ck->dwDataOffset} + ck->cksize + (ck->cksize & 1);
    if (end > static_cast<uint64_t>(kMaxOffset) || mmioSeek(h, static_cast<int32_t>(end), 0) < 0)
        return MMIOERR_CANNOTSEEK;
    return 0;
}

uint32_t mmioCreateChunk(HMMIO h, MMCKINFO* ck, uint32_t flags)
{
    if (!usable(h) || ck == nullptr || !validChunkFlags(flags))
        return MMIOERR_INVALIDPARAM;
    FOURCC id = (flags & MMIO_CREATERIFF) ? FOURCC_RIFF : (flags & MMIO_CREATELIST) ? FOURCC_LIST : ck->ckid;
    bool list = flags != 0;
    int64_t pos = position(*h);
    uint8_t hdr[12];
    storeLe32(hdr, id);
    storeLe32(hdr + 4, ck->cksize);
    storeLe32(hdr + 8, ck->fccType);
    int32_t len = list ? 12 : 8;
    if (mmioWrite(h, reinterpret_cast<const char*>(hdr), len) != len)
        return h->memory && h->canWrite ? MMIOERR_CANNOTEXPAND : MMIOERR_CANNOTWRITE;
    ck->ckid = id;
    ck->dwDataOffset = static_cast<uint32_t>(pos + 8);
    ck->dwFlags = MMIO_DIRTY;
    return 0;
}

uint32_t mmioGetInfo(HMMIO h, MMIOINFO* info, uint32_t /*flags*/)
{
    if (!usable(h) || info == nullptr)
        return MMIOERR_INVALIDPARAM;
    // An unbuffered disk file hands out an empty buffer (all pointers null); its
    // mmioAdvance fails, so direct access reports an error instead of moving data.
    handOut(*h, *info);
    return 0;
}

uint32_t mmioSetInfo(HMMIO h, const MMIOINFO* info, uint32_t /*flags*/)
{
    if (h == nullptr || h->token || info == nullptr)
        return MMIOERR_INVALIDPARAM;
    return takeBack(*h, *info);
}

uint32_t mmioAdvance(HMMIO h, MMIOINFO* info, uint32_t flags)
{
    if (h == nullptr || h->token || info == nullptr || (flags != MMIO_ADVANCE_READ && flags != MMIO_ADVANCE_WRITE))
        return MMIOERR_INVALIDPARAM;
    if (uint32_t r = takeBack(*h, *info); r != 0)
        return r;
    uint32_t result = flags == MMIO_ADVANCE_READ ? advanceRead(*h) : advanceWrite(*h);
    handOut(*h, *info);
    return result;
}

uint32_t mmioFlush(HMMIO h, uint32_t /*flags*/)
{
    if (!usable(h))
        return MMIOERR_INVALIDPARAM;
    return okOr(writeOut(*h), MMIOERR_CANNOTFLUSH);
}

uint32_t mmioSetBuffer(HMMIO h, char* buffer, int32_t size, uint32_t /*flags*/)
{
    if (!usable(h) || buffer != nullptr || size < 0)
        return MMIOERR_INVALIDPARAM;
    if (h->memory)
        return 0;
    if (!writeOut(*h))
        return MMIOERR_CANNOTWRITE;
    int64_t pos = position(*h);
    try {
        std::vector<char> fresh(static_cast<size_t>(size));
        h->buf.swap(fresh);
    } catch (const std::bad_alloc&) {
        return MMIOERR_OUTOFMEMORY;
    }
    emptyAt(*h, pos);
    return 0;
}

FOURCC mmioStringToFOURCCA(const char* text, uint32_t /*flags*/)
{
    char c[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; text != nullptr && i < 4 && text[i] != '\0'; ++i)
        c[i] = text[i];
    return mmioFourCC(c[0], c[1], c[2], c[3]);
}

uint32_t mmioRenameA(const char* oldName, const char* newName, const MMIOINFO* /*info*/, uint32_t /*flags*/)
{
    if (oldName == nullptr || newName == nullptr)
        return MMIOERR_INVALIDPARAM;
    return okOr(renameFileNoReplace(oldName, newName), MMIOERR_CANNOTOPEN);
}

} // namespace orvelle
