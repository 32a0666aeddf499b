// The wave object's string table: entries 28000 + ident.
#include <cstddef>
#include <iterator>

#include "wave/Mmwave.h"

namespace orvelle {

namespace {

struct StringEntry {
    uint16_t ident;
    const char* text;
};

constexpr StringEntry kStrings[] = {
    {SUnknownFormat, "Unknown"},
    {SNotAMemoryWave, "This is not a MemoryWave"},
    {SErrorReadingWave, "Error reading wave file"},
    {SCantWriteMemWave, "Can't write to MemoryWave"},
    {SInfoChunkNotFound, "InfoChunk %s not found"},
    {SInvalidWaveFile, "Invalid wave file..."},
    {SInvalidParam, "Invalid param passed!"},
    {SUnableToImport, "Unable to import wave file"},
    {SImportAborted, "Import aborted"},
    {SUnableToSetupIOBuffer, "Unable to setup file IO buffer"},
    {SUnableToOpenWave, "Unable to open wave file"},
    {SUnableToCreateWave, "Unable to create wave file"},
    {SUnableToSaveWave, "Unable to save wave file"},
    {SSavingAborted, "Saving was aborted"},
    {SUnableToConvert, "Unable to convert wave file"},
    {SConversionAborted, "Conversion aborted"},
    {SNotValidForConversion, "This wave file is not valid for conversion"},
    {SErrorSeeking, "Error seeking file position"},
};

} // namespace

std::string LoadResStr(uint16_t ident)
{
    for (const StringEntry& e : kStrings)
        if (e.ident == ident)
            return e.text;
    return {};
}

} // namespace orvelle
