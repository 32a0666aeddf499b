#include "Describe.h"

#include "util/Mmmuldiv.h"
#include "wave/Mmwave.h"
#include "waveio/Mmwaveio.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvelle {

namespace {

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
    const int32_t code = wioReadFileInfo(made, path.c_str(), FOURCC_WAVE, wioSrcFile);
    ControlBlockHandle cb(made);
    if (code != 0 || !cb)
        return refusalReason(path, code);
    fill(*cb, out);
    return "";
}

} // namespace orvelle
