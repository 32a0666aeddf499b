#pragma once
// Small helpers shared by the test binaries.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "util/LittleEndian.h"

namespace orvelle::test {

using Bytes = std::vector<uint8_t>;

inline Bytes ReadFileBytes(const std::filesystem::path& p)
{
    // In one read: tests compare files of many MiB.
    std::ifstream in(p, std::ios::binary | std::ios::ate);
    if (!in)
        return {};
    Bytes b(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
    b.resize(static_cast<size_t>(in.gcount()));
    return b;
}

inline void WriteFileBytes(const std::filesystem::path& p, const Bytes& b)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Folder of wave files written by other programs; empty when it is not there.
inline std::filesystem::path SamplesDir()
{
    std::filesystem::path p = ORVELLE_SAMPLES_DIR;
    return std::filesystem::is_directory(p) ? p : std::filesystem::path();
}

#define ORVELLE_REQUIRE_SAMPLES()                                                                                      \
    do {                                                                                                               \
        if (::orvelle::test::SamplesDir().empty())                                                                     \
            GTEST_SKIP() << "sample folder " ORVELLE_SAMPLES_DIR " is absent";                                         \
    } while (0)

// A fresh folder for one test, removed afterwards.
class TempDir {
public:
    TempDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "orvelle-test-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// The names of the entries of `dir`.
inline std::set<std::string> FileNamesIn(const std::filesystem::path& dir)
{
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

// Little-endian builders for hand-made RIFF images.
inline void PutLE16(Bytes& b, uint32_t v) { appendLe16(b, static_cast<uint16_t>(v)); }
inline void PutLE32(Bytes& b, uint32_t v) { appendLe32(b, v); }
inline void PutId(Bytes& b, const char* id)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(id[i]));
}
// Reads outside the image throw std::out_of_range, so that a test reading a short image
// fails loudly instead of seeing zeros.
inline const uint8_t* bytesAt(const Bytes& b, size_t at, size_t n)
{
    if (at > b.size() || b.size() - at < n)
        throw std::out_of_range("read past the end of a test image");
    return b.data() + at;
}
inline uint32_t GetLE32(const Bytes& b, size_t at) { return loadLe32(bytesAt(b, at, 4)); }
inline uint16_t GetLE16(const Bytes& b, size_t at) { return loadLe16(bytesAt(b, at, 2)); }

// A chunk: id, size, body, pad byte for an odd body.
// Appends `more` to `b`. Written with resize and memcpy: g++ 12 at -O2 gives a false
// -Wstringop-overflow for vector::insert after small push_backs.
inline void Append(Bytes& b, const Bytes& more)
{
    if (more.empty())
        return;
    size_t at = b.size();
    b.resize(at + more.size());
    std::memcpy(b.data() + at, more.data(), more.size());
}

inline void PutChunk(Bytes& b, const char* id, const Bytes& body)
{
    PutId(b, id);
    PutLE32(b, static_cast<uint32_t>(body.size()));
    Append(b, body);
    if (body.size() % 2)
        b.push_back(0);
}

// The 16-byte PCM "fmt " body.
inline Bytes PcmFmtBody(uint16_t channels, uint32_t rate, uint16_t bits)
{
    Bytes f;
    uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    PutLE16(f, 1);
    PutLE16(f, channels);
    PutLE32(f, rate);
    PutLE32(f, rate * align);
    PutLE16(f, align);
    PutLE16(f, bits);
    return f;
}

// "RIFF" size "WAVE" followed by the given chunks; the size is fixed to the image.
inline Bytes RiffWave(const Bytes& chunks)
{
    Bytes b;
    PutId(b, "RIFF");
    PutLE32(b, static_cast<uint32_t>(chunks.size() + 4));
    PutId(b, "WAVE");
    Append(b, chunks);
    return b;
}

// A top-level chunk of a clean RIFF image: id, body offset, size.
struct Chunk {
    std::string id;
    size_t at;
    uint32_t size;
};

inline std::vector<Chunk> TopLevelChunks(const Bytes& f)
{
    std::vector<Chunk> out;
    for (size_t p = 12; p + 8 <= f.size();) {
        const uint32_t size = GetLE32(f, p + 4);
        out.push_back({std::string(f.begin() + p, f.begin() + p + 4), p + 8, size});
        p += 8 + size + (size & 1);
    }
    return out;
}

// The body of the first top-level chunk `id`, or nothing when there is none or its size
// runs past the image.
inline std::optional<Bytes> ChunkBody(const Bytes& f, const std::string& id)
{
    for (const Chunk& c : TopLevelChunks(f))
        if (c.id == id)
            return c.size <= f.size() - c.at ? std::optional<Bytes>(Bytes(f.begin() + c.at, f.begin() + c.at + c.size))
                                             : std::nullopt;
    return std::nullopt;
}

// The texts of every "LIST" "INFO" chunk of a clean image, by id.
inline std::map<std::string, std::string> InfoTexts(const Bytes& f)
{
    std::map<std::string, std::string> info;
    for (const Chunk& c : TopLevelChunks(f)) {
        if (c.id != "LIST" || std::string(f.begin() + c.at, f.begin() + c.at + 4) != "INFO")
            continue;
        for (size_t p = c.at + 4; p + 8 <= c.at + c.size;) {
            const uint32_t n = GetLE32(f, p + 4);
            info[std::string(f.begin() + p, f.begin() + p + 4)] = reinterpret_cast<const char*>(f.data() + p + 8);
            p += 8 + n + (n & 1);
        }
    }
    return info;
}

// The INFO ids of the metadata table, in its order, which is the order the engine writes them.
inline constexpr const char* kInfoIds[] = {"IARL", "IART", "ICMS", "ICMT", "ICOP", "ICRD", "ICRP", "IDIM", "IDPI",
    "IENG", "IGNR", "IKEY", "ILGT", "IMED", "INAM", "IPLT", "IPRD", "ISBJ", "ISFT", "ISHP", "ISRC", "ISRF", "ITCH"};

// Appends the "LIST" "INFO" chunk the engine writes for `info`: the ids that have a text,
// in table order, each text ending in a NUL; nothing when no id has one.
inline void PutInfoList(Bytes& chunks, const std::map<std::string, std::string>& info)
{
    Bytes list{'I', 'N', 'F', 'O'};
    for (const char* id : kInfoIds)
        if (auto it = info.find(id); it != info.end() && !it->second.empty()) {
            Bytes text(it->second.begin(), it->second.end());
            text.push_back(0);
            PutChunk(list, id, text);
        }
    if (list.size() > 4)
        PutChunk(chunks, "LIST", list);
}

} // namespace orvelle::test
