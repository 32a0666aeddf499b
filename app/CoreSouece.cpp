// The in-place cross-cancel conversion of one wave file.
#include "app/CoreSouece.h"

#include <array>
#include <numeric>

#include "app/Crosscancel.h"
#include "app/ReplaceInPlace.h"
#include "platform/Sysfile.h"
#include "util/Mmutils.h"
#include "wave/Mmwave.h"

namespace orvelle {

namespace {

constexpr int32_t kBlockSize = 4096;
// The engine's buffer for both files: large enough that system calls cost little, small
// enough that memory stays flat.
constexpr int32_t kIOBufferSize = 256 << 10;

[[noreturn]] void fail(const std::string& message) { throw EMMWaveError(message); }

// Replaces the text after the last "." of the last path component, the dot included;
// a name without such a dot gets the extension appended.
std::string replaceExtension(const std::string& name, const char* ext)
{
    const size_t slash = name.rfind('/');
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        return name.substr(0, dot) + ext;
    return name + ext;
}

// 8- and 16-bit data move in blocks of 4096 bytes. Wider samples move in the largest
// block of at most 4096 bytes that holds whole frames and whole sample pairs, so that
// no pair is split between two blocks.
int32_t blockBytes(const TWaveFormatEx& format, int32_t bits)
{
    if (bits <= 16)
        return kBlockSize;
    const int32_t pair = 2 * (bits / 8);
    int32_t unit = format.nBlockAlign > 0 ? std::lcm(static_cast<int32_t>(format.nBlockAlign), pair) : pair;
    if (unit > kBlockSize)
        unit = pair;
    return kBlockSize / unit * unit;
}

// Reads the source's data block by block, cancels the channels and writes the result;
// `replace` hears of every block written.
void copyConverted(TMMWave& src, TMMWave& dst, SampleLayout layout, int32_t percent, ReplaceInPlace& replace)
{
    alignas(64) std::array<char, kBlockSize> buffer;
    auto* bytes = reinterpret_cast<uint8_t*>(buffer.data());
    const int32_t block = blockBytes(*src.GetPWaveFormat(), layout.bits);
    int32_t remaining = src.DataSize();
    while (remaining > 0) {
        const int32_t n = Min(remaining, block);
        const int32_t got = src.ReadDataBytes(buffer.data(), n);
        if (src.readEndedEarly())
            fail(LoadResStr(SErrorReadingWave));
        // The data may end a few bytes before its frames do (a stored block align that
        // disagrees with the sample width): its bytes are all there is to convert, and a
        // part pair at its end is written unchanged.
        if (got <= 0)
            break;
        CrossCancelBlock(bytes, got, layout, percent);
        if (dst.WriteDataBytes(buffer.data(), got) != got)
            fail("Unable to write wave file " + quotedFileName(dst.FileName()));
        replace.wrote(got);
        remaining -= got;
    }
}

} // namespace

TCoreForm::TCoreForm()
{
    SrcFile.Wave().SetTimeFormat(tfByte);
    DstFile.Wave().SetTimeFormat(tfByte);
}

bool TCoreForm::ConvertFile(const std::string& fileName, int32_t percent)
{
    TMMWave& src = SrcFile.Wave();
    TMMWave& dst = DstFile.Wave();
    lastWarning_.clear();
    if (fileName.empty())
        fail(LoadResStr(SErrorReadingWave));
    const std::string name = fullPathName(fileName);
    const std::string tmpName = replaceExtension(name, ".tmp");
    const std::string orgName = replaceExtension(name, ".org");
    // Held until the call returns: a second conversion of the file fails at once.
    ReplaceInPlace replace(name, tmpName, orgName);
    // The file is read as it is now: a binding kept from an earlier call by name and size
    // alone could describe a replaced file (or this call's own result) of the same size.
    src.ClearWave();
    src.SetFileName(fileName);
    if (!src.GetPWaveFormat())
        fail(LoadResStr(SErrorReadingWave));
    replace.requireLocked();
    const std::optional<SampleLayout> layout = crossCancelLayout(src.GetPWaveFormat(), src.formatRecordSize());
    if (!layout)
        return false;
    if (!crossCancelTakes(*layout))
        fail(unsupportedLayoutMessage(*layout));

    // Creating the temporary file would delete such a source, and the backup step would
    // lose it.
    if (tmpName == name || orgName == name)
        fail("Unable to convert " + quotedFileName(name) +
            " in place: its extension is that of the temporary or backup file");
    replace.checkCompanions();

    bool made = false;
    try {
        src.OpenFile();
        src.SetIOBufferSize(kIOBufferSize);
        // From here on a failure removes the temporary name; CreateFile replaces a file
        // of that name anyway.
        made = true;
        dst.CreateFile(tmpName, src.GetPWaveFormat());
        replace.attachTemporary();
        dst.SetIOBufferSize(kIOBufferSize);
        // Only the samples change: the metadata goes along and is written when the file is closed.
        dst.copyMetadataFrom(src);
        copyConverted(src, dst, *layout, percent, replace);
        src.CloseFile();
        dst.closeChecked();
    } catch (...) {
        src.CloseFile();
        dst.CloseFile();
        if (made)
            replace.discard();
        throw;
    }
    if (!replace.commit())
        lastWarning_ = "unable to flush the folder of " + quotedFileName(name) +
            " to disk; the converted file may not survive a power cut";
    return true;
}

} // namespace orvelle
