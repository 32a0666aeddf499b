#pragma once
// What `orvelle-cli info` reports of one wave file.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "util/Mmtypes.h"

namespace orvelle {

struct WaveDescription {
    std::string file;
    uint16_t formatTag = 0;
    std::string formatName;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    // The fields of an extensible format (tag 0xFFFE); empty for other tags and for an
    // extensible record too short to hold them.
    std::optional<ExtensibleInfo> extensible;
    int32_t dataOffset = 0;
    int32_t dataBytes = 0;
    int32_t samples = 0;
    int64_t durationMs = 0;
    int32_t fileSize = 0;
    // INFO id and current text, in table order; only ids that have a text.
    std::vector<std::pair<std::string, std::string>> info;
};

// Why `path` cannot be taken as a wave file without opening it: a folder, a FIFO, a
// device or a socket (opening a FIFO would wait for a writer). "" for a regular file
// and for a name that does not exist, which the engine reports itself.
std::string nonRegularFileReason(const std::string& path);

// Describes `path` through the wave engine. Returns "" on success, otherwise a message
// saying what was wrong.
std::string describeWaveFile(const std::string& path, WaveDescription& out);

} // namespace orvelle
