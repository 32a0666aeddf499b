#pragma once
// The hidden core form: owns the two wave file components and converts one file in place.
#include <cstdint>
#include <string>

#include "wave/Mmwave.h"

namespace orvelle {

class TCoreForm {
public:
    TCoreForm();
    TCoreForm(const TCoreForm&) = delete;
    TCoreForm& operator=(const TCoreForm&) = delete;

    // Rewrites the PCM wave file `fileName` so that each sample of a pair loses `percent`
    // percent of the other; the original stays beside it under the extension ".org".
    // Returns false, touching nothing, when the file is not PCM. Raises EMMWaveError.
    bool ConvertFile(const std::string& fileName, int32_t percent);

    // What the last ConvertFile that returned true could not make sure of, though the
    // file was converted (the folder not flushed to disk); "" when nothing. Converting
    // again would cancel the channels a second time, so this is no failure.
    const std::string& lastWarning() const { return lastWarning_; }

    // The source and the destination of a conversion; both waves count in bytes.
    TMMWaveFile SrcFile;
    TMMWaveFile DstFile;

private:
    std::string lastWarning_;
};

} // namespace orvelle
