#include "Describe.h"

#include "util/Mmmuldiv.h"
#include "wave/Mmwave.h"
#include "waveio/Mmwaveio.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvelle {

namespace {

// A file mapped read-only, so that files we may not write can still be described
// (the engine opens disk files for reading and writing).
class MappedFile {
public:
    explicit MappedFile(const std::string& path)
    {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        struct stat st { };
        if (::fstat(fd, &st) == 0 && st.st_size > 0 && st.st_size <= INT32_MAX) {
            void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (p != MAP_FAILED) {
                data_ = p;
                size_ = static_cast<size_t>(st.st_size);
            }
        }
        ::close(fd);
    }
    ~MappedFile()
    {
        if (data_ != nullptr)
            ::munmap(data_, size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool ok() const { return data_ != nullptr; }
    MMIOINFO memoryFile() const
    {
        MMIOINFO info{};
        info.fccIOProc = FOURCC_MEM;
        info.pchBuffer = static_cast<char*>(data_);
        info.cchBuffer = static_cast<int32_t>(size_);
        return info;
    }

private:
    void* data_ = nullptr;
    size_t size_ = 0;
};

// Reads the first bytes of the file to tell why the engine refused it.
std::string refusalReason(const std::string& path, int32_t code)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::string("cannot be opened: ") + std::strerror(errno);
    struct stat st { };
    unsigned char head[12] = {};
    ssize_t got = ::fstat(fd, &st) == 0 ? ::read(fd, head, sizeof head) : -1;
    ::close(fd);
    if (got < 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
        return "not a RIFF/WAVE file";
    if (st.st_size > INT32_MAX)
        return "file too large (over 2 GiB)";
    if (code == wioErrGeneral)
        return "no \"fmt \" chunk";
    return "unusable format or unreadable chunks (code " + std::to_string(code) + ")";
}

void fill(const TWAVEIOCB& cb, WaveDescription& out)
{
    const TWaveFormatEx& f = cb.Format;
    out.formatTag = f.wFormatTag;
    wioGetFormatName(&f, out.formatName);
    out.channels = f.nChannels;
    out.sampleRate = f.nSamplesPerSec;
    out.avgBytesPerSec = f.nAvgBytesPerSec;
    out.blockAlign = f.nBlockAlign;
    out.bitsPerSample = f.wBitsPerSample;
    if (ExtensibleInfo e; readExtensible(&f, wioFormatRoom(&cb), e))
        out.extensible = e;
    out.dataOffset = cb.DataOffset;
    out.dataBytes = cb.DataSize;
    out.samples = cb.SampleCount;
    out.durationMs = mulDivRound64(cb.SampleCount, 1000, f.nSamplesPerSec); // 0 for a rate of 0
    out.fileSize = cb.FileSize;
    out.info.clear();
    for (TInfoData* item = cb.InfoList ? cb.InfoList->Items : nullptr; item; item = item->Next) {
        const char* text = RiffInfoText(cb.InfoList, item);
        if (text != nullptr && text[0] != '\0')
            out.info.emplace_back(aINFO[item->Index].id, text);
    }
}

// Scans a file we may not write through a read-only mapping. The control block keeps
// copies of all it describes, so it outlives the mapping.
int32_t scanReadOnly(const std::string& path, TWAVEIOCB*& cb)
{
    MappedFile mapped(path);
    if (!mapped.ok())
        return wioErrFile;
    MMIOINFO memory = mapped.memoryFile();
    return wioReadFileInfo(cb, reinterpret_cast<const char*>(&memory), FOURCC_WAVE, wioSrcMemory);
}

} // namespace

std::string nonRegularFileReason(const std::string& path)
{
    struct stat st { };
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode))
        return "";
    return S_ISDIR(st.st_mode) ? "is a folder, not a file" : "not a regular file (a FIFO, device or socket)";
}

std::string describeWaveFile(const std::string& path, WaveDescription& out)
{
    out = WaveDescription{};
    out.file = path;
    if (std::string reason = nonRegularFileReason(path); !reason.empty())
        return reason;
    TWAVEIOCB* made = nullptr;
    int32_t code = wioReadFileInfo(made, path.c_str(), FOURCC_WAVE, wioSrcFile);
    ControlBlockHandle cb(made);
    if (code != 0 && ::access(path.c_str(), R_OK) == 0 && ::access(path.c_str(), W_OK) != 0) {
        made = nullptr;
        code = scanReadOnly(path, made);
        cb.reset(made);
    }
    if (code != 0 || !cb)
        return refusalReason(path, code);
    fill(*cb, out);
    return "";
}

} // namespace orvelle
