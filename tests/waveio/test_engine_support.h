#pragma once
// Helpers shared by the engine tests.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "MemoryFile.h"
#include "TestSupport.h"
#include "platform/Sysfile.h"
#include "util/LittleEndian.h"
#include "waveio/Mmwaveio.h"

namespace orvelle::test {

// Releases a control block at the end of a test, whatever happens.
struct CbHolder {
    TWAVEIOCB* cb = nullptr;
    CbHolder() = default;
    CbHolder(const CbHolder&) = delete;
    CbHolder& operator=(const CbHolder&) = delete;
    ~CbHolder()
    {
        if (cb != nullptr)
            wioFreeFileInfo(cb);
    }
    TWAVEIOCB* operator->() const { return cb; }
};

// Restores the real file operations when a test that injected failures ends.
struct FileOpsRestorer {
    ~FileOpsRestorer() { resetFileOps(); }
};

// Describes an image held in memory (the memory kind).
inline int32_t scanImage(CbHolder& h, const Bytes& image)
{
    const MMIOINFO info = memoryFileInfo(image.data(), image.size());
    return wioReadFileInfo(h.cb, reinterpret_cast<const char*>(&info), FOURCC_WAVE, wioSrcMemory);
}

inline int32_t scanFile(CbHolder& h, const std::string& name)
{
    return wioReadFileInfo(h.cb, name.c_str(), FOURCC_WAVE, wioSrcFile);
}

// The wave files of the sample folder, in name order; none when the folder is absent.
inline std::vector<std::filesystem::path> sampleWaveFiles()
{
    std::vector<std::filesystem::path> files;
    if (SamplesDir().empty())
        return files;
    for (const auto& entry : std::filesystem::directory_iterator(SamplesDir()))
        if (entry.path().extension() == ".wav")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// `n` bytes of a recognisable pattern.
inline Bytes pattern(size_t n, uint8_t seed = 1)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

// The first `n` bytes of `b`.
inline Bytes headOf(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)); }

inline Bytes chunk(const char* id, const Bytes& body)
{
    Bytes b;
    PutChunk(b, id, body);
    return b;
}

// A chunk header claiming `size` bytes, followed by `body` (which may be shorter).
inline Bytes rawChunk(const char* id, uint32_t size, const Bytes& body)
{
    Bytes b;
    PutId(b, id);
    appendLe32(b, size);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// "LIST" "INFO" holding one entry.
inline Bytes infoList(const char* id, const std::string& text)
{
    Bytes body;
    PutId(body, "INFO");
    Bytes entry(text.begin(), text.end());
    entry.push_back(0);
    PutChunk(body, id, entry);
    return chunk("LIST", body);
}

inline TWaveFormatEx pcmFormat(uint16_t channels, uint32_t rate, uint16_t bits)
{
    TWaveFormatEx f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    f.wBitsPerSample = bits;
    return f;
}

} // namespace orvelle::test
