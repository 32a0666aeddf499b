// The in-place cross-cancel conversion of one wave file.
#include "app/CoreSouece.h"

#include <array>
#include <numeric>

#include "app/Crosscancel.h"
#include "platform/Sysfile.h"
#include "util/Mmutils.h"
#include "wave/Mmwave.h"
#include "waveio/Mmwaveio.h"

namespace orvelle {

struct TCoreForm::Waves {
    TMMWave SrcWave;
    TMMWave DstWave;
    Waves()
    {
        SrcWave.SetTimeFormat(tfByte);
        DstWave.SetTimeFormat(tfByte);
    }
};

namespace {

constexpr int32_t kBlockSize = 4096;

[[noreturn]] void Fail(const std::string& message) { throw EMMWaveError(message); }

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// Replaces the text after the last "." of the last path component, the dot included;
// a name without such a dot gets the extension appended.
std::string ReplaceExtension(const std::string& name, const char* ext)
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
int32_t BlockBytes(const TWaveFormatEx& format, int32_t bits)
{
    if (bits <= 16)
        return kBlockSize;
    const int32_t pair = 2 * (bits / 8);
    int32_t unit = format.nBlockAlign > 0 ? std::lcm(static_cast<int32_t>(format.nBlockAlign), pair) : pair;
    if (unit > kBlockSize)
        unit = pair;
    return kBlockSize / unit * unit;
}

void CopyConverted(TMMWave& src, TMMWave& dst, const std::string& tmpName, SampleLayout layout, int32_t percent)
{
    alignas(64) std::array<char, kBlockSize> buffer;
    auto* bytes = reinterpret_cast<uint8_t*>(buffer.data());
    const int32_t block = BlockBytes(*src.GetPWaveFormat(), layout.bits);
    int32_t remaining = src.DataSize();
    while (remaining > 0) {
        const int32_t n = Min(remaining, block);
        // A consistent file delivers exactly what is asked for. Anything else (-1, the
        // four zero bytes that end a failed read, a short read) means the data ended early.
        if (src.ReadDataBytes(buffer.data(), n) != n)
            Fail(LoadResStr(SErrorReadingWave));
        CrossCancelBlock(bytes, n, layout, percent);
        if (dst.WriteDataBytes(buffer.data(), n) != n)
            Fail("Unable to write wave file " + Quoted(tmpName));
        remaining -= n;
    }
    // The four zero bytes of a failed read look like data when exactly four were due;
    // the engine's position tells: it reaches the end only when every byte was read.
    const TWAVEIOCB* cb = src.GetPWaveIOCB();
    if (cb->SamplePos != cb->LastSample - cb->FirstSample)
        Fail(LoadResStr(SErrorReadingWave));
}

// Steps 9 to 11: the source becomes the backup (or, when a backup exists already, is
// deleted), then the converted file takes the source's name.
void ReplaceOriginal(const std::string& name, const std::string& tmpName, const std::string& orgName)
{
    const bool backedUp = RenameFileNoReplace(name, orgName);
    if (!backedUp && !FileExists(orgName)) {
        // Not moved aside for another reason than an existing backup: deleting the
        // source now would lose it, so the conversion is undone instead.
        DeleteFileName(tmpName);
        Fail("Unable to rename " + Quoted(name) + " to " + Quoted(orgName) + "; the file is unchanged");
    }
    if (!backedUp)
        DeleteFileName(name);
    if (!RenameFileNoReplace(tmpName, name)) {
        std::string original;
        if (backedUp)
            original = "the original is in " + Quoted(orgName);
        else if (FileExists(name))
            original = "the original is still in " + Quoted(name);
        else
            original = "the first backup is in " + Quoted(orgName);
        Fail("Unable to rename " + Quoted(tmpName) + " to " + Quoted(name) + ": the converted data is in " +
            Quoted(tmpName) + ", " + original);
    }
    if (!SyncFolderOf(name))
        Fail("Unable to flush the folder of " + Quoted(name) +
            " to disk; the converted file may not survive a power cut");
}

} // namespace

TCoreForm::TCoreForm() : waves_(new Waves) { }

TCoreForm::~TCoreForm() { delete waves_; }

bool TCoreForm::ConvertFile(const std::string& fileName, int32_t percent)
{
    TMMWave& src = waves_->SrcWave;
    TMMWave& dst = waves_->DstWave;
    // The file is read as it is now: a binding kept from an earlier call by name and size
    // alone could describe a replaced file (or this call's own result) of the same size.
    src.ClearWave();
    src.SetFileName(fileName);
    const std::optional<SampleLayout> layout =
        crossCancelLayout(src.GetPWaveFormat(), wioFormatRoom(src.GetPWaveIOCB()));
    if (!layout)
        return false;
    if (!crossCancelTakes(*layout))
        Fail(unsupportedLayoutMessage(*layout));

    const std::string name = src.FileName();
    const std::string tmpName = ReplaceExtension(name, ".tmp");
    const std::string orgName = ReplaceExtension(name, ".org");
    // Creating the temporary file would delete such a source, and the backup step would
    // lose it.
    if (tmpName == name || orgName == name)
        Fail("Unable to convert " + Quoted(name) + " in place: its extension is that of the temporary or backup file");
    const int mode = FileModeByName(name);

    bool made = false;
    try {
        src.OpenFile();
        // From here on a failure removes the temporary name; CreateFile replaces a file
        // of that name anyway.
        made = true;
        dst.CreateFile(tmpName, src.GetPWaveFormat());
        // Only the samples change: the metadata goes along and is written when the file is closed.
        if (wioCopyFileInfo(dst.GetPWaveIOCB(), src.GetPWaveIOCB()) != 0)
            Fail(LoadResStr(SUnableToCreateWave));
        CopyConverted(src, dst, tmpName, *layout, percent);
        src.CloseFile();
        // The wave's CloseFile does not report a failure to finish the file; the engine's
        // close does, so the destination is finished through the engine first.
        const int32_t finished = wioWaveClose(dst.GetPWaveIOCB());
        dst.CloseFile();
        if (finished != 0)
            Fail("Unable to write wave file " + Quoted(tmpName));
        if (mode >= 0 && !SetFileModeByName(tmpName, mode))
            Fail("Unable to set the permissions of " + Quoted(tmpName));
        if (!SyncFileByName(tmpName))
            Fail("Unable to flush " + Quoted(tmpName) + " to disk");
    } catch (...) {
        src.CloseFile();
        dst.CloseFile();
        if (made)
            DeleteFileName(tmpName);
        throw;
    }
    ReplaceOriginal(name, tmpName, orgName);
    return true;
}

} // namespace orvelle
