// Arbitrary bytes as a wave image in memory, taken as the conversion takes it: the format
// decision on the scanned record (extensible fields included), the skip reason, and the
// kernel of the layout over the data block by block, at a strength taken from the input.
// Nothing may crash or touch a byte outside the block.
#include "app/Crosscancel.h"
#include "waveio/Mmwaveio.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

using namespace orvelle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4 || size > INT32_MAX)
        return 0;
    int32_t percent;
    std::memcpy(&percent, data, sizeof percent);
    std::vector<char> image(data + 4, data + size);
    MMIOINFO memory{};
    memory.fccIOProc = FOURCC_MEM;
    memory.pchBuffer = image.empty() ? nullptr : image.data();
    memory.cchBuffer = static_cast<int32_t>(image.size());

    TWAVEIOCB* cb = nullptr;
    if (wioReadFileInfo(cb, reinterpret_cast<const char*>(&memory), FOURCC_WAVE, wioSrcMemory) != 0)
        return 0;
    const int32_t formatBytes = wioFormatRoom(cb);
    const std::optional<SampleLayout> layout = crossCancelLayout(&cb->Format, formatBytes);
    if (!layout) {
        ExtensibleInfo e;
        const bool extensible = readExtensible(&cb->Format, formatBytes, e);
        const std::string reason =
            notConvertedReason(cb->Format.wFormatTag, extensible ? std::optional<ExtensibleInfo>(e) : std::nullopt);
        (void)reason;
    } else if (crossCancelTakes(*layout) && wioWaveOpen(cb) == 0) {
        // Odd block lengths on purpose: the kernels must leave a partial pair alone.
        std::vector<uint8_t> block(4093);
        for (int i = 0; i < (1 << 20); ++i) {
            const int32_t n = wioWaveReadData(cb, reinterpret_cast<char*>(block.data()), 4093);
            if (n <= 0)
                break;
            CrossCancelBlock(block.data(), n, *layout, percent);
        }
        wioWaveClose(cb);
    } else {
        (void)unsupportedLayoutMessage(*layout);
    }
    wioFreeFileInfo(cb);
    return 0;
}
