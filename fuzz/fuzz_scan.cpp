// Arbitrary bytes as a wave image in memory: scan, open, read all data both ways, move
// about the window, walk, copy, write and parse again both metadata lists, and read the
// extensible fields. Nothing may crash, hang or allocate from an unchecked size.
#include "waveio/Mmwaveio.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace orvelle;

namespace {

void walkMetadata(const TWAVEIOCB* cb)
{
    size_t sink = 0;
    if (cb->InfoList != nullptr)
        for (const TInfoData* item = cb->InfoList->Items; item; item = item->Next)
            if (const char* text = RiffInfoText(cb->InfoList, item))
                sink += std::strlen(text);
    if (cb->DispList != nullptr)
        for (const TDisp* item = cb->DispList->Items; item; item = item->Next)
            if (const uint8_t* data = RiffDispData(item))
                sink += data[0];
    (void)sink;
}

void readAll(TWAVEIOCB* cb)
{
    static char buffer[4096];
    // Each successful read moves forward, so the data is used up in a bounded number of
    // steps; the cap only guards against a read that never advances.
    for (int i = 0; i < (1 << 20) && wioWaveReadData(cb, buffer, sizeof buffer) > 0; ++i) { }
    wioWaveSetPosition(cb, 0);
    for (int i = 0; i < (1 << 20) && wioWaveReadDataDirect(cb, buffer, 1000) > 0; ++i) { }
    wioWaveSetPosition(cb, cb->SampleCount / 2);
    // As many whole frames as the buffer holds (a frame may be larger than the buffer).
    int32_t frames = 64;
    while (frames > 0 &&
        (wioSamplesToBytesEx(cb, frames) > static_cast<int32_t>(sizeof buffer) || wioSamplesToBytesEx(cb, frames) < 0))
        frames /= 2;
    if (frames > 0)
        wioWaveReadSamples(cb, buffer, frames);
    wioWaveSetPosition(cb, INT32_MAX);
    wioWaveReadData(cb, buffer, sizeof buffer);
}

// Copies both lists as a writer would, writes them into a memory file, and parses the
// INFO body again; reads the extensible fields of the format.
void exerciseMetadata(TWAVEIOCB* cb, size_t size)
{
    ExtensibleInfo ext;
    readExtensible(&cb->Format, wioFormatRoom(cb), ext);
    TInfoChunk* info = nullptr;
    TDispList* disp = nullptr;
    if (RiffInitINFO(info) == 0 && RiffInitDISP(disp) == 0 && RiffCopyInfo(info, cb->InfoList) == 0 &&
        RiffCopyDISP(disp, cb->DispList) == 0) {
        std::vector<char> out(2 * size + 4096);
        MMIOINFO memory{};
        memory.fccIOProc = FOURCC_MEM;
        memory.pchBuffer = out.data();
        memory.cchBuffer = static_cast<int32_t>(out.size());
        if (HMMIO h = mmioOpenA(nullptr, &memory, MMIO_ALLOCBUF | MMIO_READWRITE)) {
            RiffWriteDISP(h, disp);
            RiffWriteINFO(h, info);
            mmioClose(h, 0);
        }
    }
    if (info != nullptr)
        RiffFreeINFO(info);
    if (disp != nullptr)
        RiffFreeDISP(disp, true);
    RiffParseINFO(cb->InfoList);
    walkMetadata(cb);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > INT32_MAX)
        return 0;
    std::vector<char> image(data, data + size);
    MMIOINFO memory{};
    memory.fccIOProc = FOURCC_MEM;
    memory.pchBuffer = image.empty() ? nullptr : image.data();
    memory.cchBuffer = static_cast<int32_t>(size);

    TWAVEIOCB* cb = nullptr;
    if (wioReadFileInfo(cb, reinterpret_cast<const char*>(&memory), FOURCC_WAVE, wioSrcMemory) != 0)
        return 0;
    walkMetadata(cb);
    exerciseMetadata(cb, size);
    std::string name;
    wioGetFormatName(&cb->Format, name);
    TWaveFormatEx* copy = wioCopyWaveFormat(&cb->Format);
    GlobalFreeMem(copy);
    if (wioWaveOpen(cb) == 0) {
        readAll(cb);
        wioWaveClose(cb);
    }
    wioFreeFileInfo(cb);
    return 0;
}
