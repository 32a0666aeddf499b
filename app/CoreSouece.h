#pragma once
// The hidden core form: owns the two wave objects and converts one file in place.
#include <cstdint>
#include <string>

namespace orvelle {

class TCoreForm {
public:
    TCoreForm();
    ~TCoreForm();
    TCoreForm(const TCoreForm&) = delete;
    TCoreForm& operator=(const TCoreForm&) = delete;

    // Rewrites the PCM wave file `fileName` so that each sample of a pair loses `percent`
    // percent of the other; the original stays beside it under the extension ".org".
    // Returns false, touching nothing, when the file is not PCM. Raises EMMWaveError.
    bool ConvertFile(const std::string& fileName, int32_t percent);

private:
    struct Waves;
    Waves* waves_;
};

} // namespace orvelle
