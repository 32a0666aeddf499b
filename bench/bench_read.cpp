// Reading a 100 MiB wave file through the engine in 4096-byte requests with a 32768-byte
// I/O buffer. The file is made once in the temporary folder (ORVELLE_BENCH_FILE names
// another one) and stays in the page cache, so this measures the engine, not the disk.
#include "util/LittleEndian.h"
#include "waveio/Mmwaveio.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace orvelle;

namespace {

constexpr int32_t kDataBytes = 100 * 1024 * 1024;

void put32(std::ofstream& out, uint32_t v)
{
    uint8_t b[4];
    storeLe32(b, v);
    out.write(reinterpret_cast<const char*>(b), 4);
}

std::string benchFile()
{
    const char* named = std::getenv("ORVELLE_BENCH_FILE");
    std::string path = named ? named : (std::filesystem::temp_directory_path() / "orvelle-bench-100mib.wav").string();
    if (std::filesystem::exists(path) && std::filesystem::file_size(path) == kDataBytes + 44u)
        return path;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write("RIFF", 4);
    put32(out, kDataBytes + 36);
    out.write("WAVEfmt ", 8);
    const char fmt[16] = {
        1, 0, 2, 0, 0x44, static_cast<char>(0xAC), 0, 0, 0x10, static_cast<char>(0xB1), 2, 0, 4, 0, 16, 0};
    put32(out, 16);
    out.write(fmt, 16);
    out.write("data", 4);
    put32(out, kDataBytes);
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 7);
    for (int32_t left = kDataBytes; left > 0; left -= static_cast<int32_t>(block.size()))
        out.write(block.data(), std::min<int32_t>(left, static_cast<int32_t>(block.size())));
    return path;
}

template <int32_t (*Read)(TWAVEIOCB*, char*, int32_t)> void BM_ReadWholeFile(benchmark::State& state)
{
    const std::string path = benchFile();
    TWAVEIOCB* cb = nullptr;
    if (wioReadFileInfo(cb, path.c_str(), FOURCC_WAVE, wioSrcFile) != 0) {
        state.SkipWithError("cannot describe the bench file");
        return;
    }
    std::vector<char> buffer(4096);
    int64_t total = 0;
    for (auto _ : state) {
        if (wioWaveOpen(cb) != 0 || wioSetIOBufferSize(cb, 32768) != 0) {
            state.SkipWithError("cannot open the bench file");
            break;
        }
        int32_t n;
        while ((n = Read(cb, buffer.data(), 4096)) > 0)
            total += n;
        benchmark::DoNotOptimize(buffer.data());
        wioWaveClose(cb);
    }
    wioFreeFileInfo(cb);
    state.SetBytesProcessed(total);
}

BENCHMARK_TEMPLATE(BM_ReadWholeFile, wioWaveReadData)->Name("wioWaveReadData/4096")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_ReadWholeFile, wioWaveReadDataDirect)
    ->Name("wioWaveReadDataDirect/4096")
    ->Unit(benchmark::kMillisecond);

// Describing an image of `state.range(0)` tiny "DISP" chunks after a short "data" chunk,
// from memory: the cost of reading the metadata chains, which must grow linearly.
void BM_ScanManyDispChunks(benchmark::State& state)
{
    const auto count = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> chunks;
    const uint8_t fmt[16] = {1, 0, 2, 0, 0x40, 0x1F, 0, 0, 0x00, 0x7D, 0, 0, 4, 0, 16, 0};
    for (const char* id : {"fmt ", "data"}) {
        chunks.insert(chunks.end(), id, id + 4);
        appendLe32(chunks, 16);
        chunks.insert(chunks.end(), fmt, fmt + 16); // the data is 16 bytes of anything
    }
    for (size_t i = 0; i < count; ++i) {
        chunks.insert(chunks.end(), {'D', 'I', 'S', 'P'});
        appendLe32(chunks, 12);
        appendLe32(chunks, 1);
        chunks.insert(chunks.end(), {'a', 'b', 'c', 'd', 'e', 'f', 'g', 0});
    }
    std::vector<uint8_t> image = {'R', 'I', 'F', 'F'};
    appendLe32(image, static_cast<uint32_t>(chunks.size() + 4));
    image.insert(image.end(), {'W', 'A', 'V', 'E'});
    image.insert(image.end(), chunks.begin(), chunks.end());
    MMIOINFO memory{};
    memory.fccIOProc = FOURCC_MEM;
    memory.pchBuffer = reinterpret_cast<char*>(image.data());
    memory.cchBuffer = static_cast<int32_t>(image.size());
    for (auto _ : state) {
        TWAVEIOCB* cb = nullptr;
        if (wioReadFileInfo(cb, reinterpret_cast<const char*>(&memory), FOURCC_WAVE, wioSrcMemory) != 0) {
            state.SkipWithError("cannot describe the image");
            break;
        }
        wioFreeFileInfo(cb);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
}

BENCHMARK(BM_ScanManyDispChunks)->Arg(10000)->Arg(80000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
