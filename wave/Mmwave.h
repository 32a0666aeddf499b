#pragma once
// The wave object: binds to one wave file by name, describes its format, reads its
// sample data block by block through a list of play regions, and creates and writes
// new wave files. All file work goes through the wave file engine; failures are
// raised as EMMWaveError with the texts of the string table.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "lists/Mmcutlst.h"
#include "lists/Mmobject.h"
#include "util/Mmtypes.h"
#include "waveio/Mmwaveio.h"

namespace orvelle {

enum TMMTimeFormats { tfMillisecond = 0, tfByte = 1, tfSample = 2 };
enum TMMMode { mMono = 0, mStereo = 1 };

class EMMWaveError : public std::runtime_error {
    using runtime_error::runtime_error;
};

// Text of string-table entry 28000 + ident; empty for an entry the table does not hold.
std::string LoadResStr(uint16_t ident);

// String-table idents of the wave object's texts.
inline constexpr uint16_t SUnknownFormat = 6;
inline constexpr uint16_t SNotAMemoryWave = 63;
inline constexpr uint16_t SErrorReadingWave = 130;
inline constexpr uint16_t SCantWriteMemWave = 131;
inline constexpr uint16_t SInfoChunkNotFound = 132;
inline constexpr uint16_t SInvalidWaveFile = 133;
inline constexpr uint16_t SInvalidParam = 134;
inline constexpr uint16_t SUnableToImport = 135;
inline constexpr uint16_t SImportAborted = 136;
inline constexpr uint16_t SUnableToSetupIOBuffer = 137;
inline constexpr uint16_t SUnableToOpenWave = 138;
inline constexpr uint16_t SUnableToCreateWave = 139;
inline constexpr uint16_t SUnableToSaveWave = 140;
inline constexpr uint16_t SSavingAborted = 141;
inline constexpr uint16_t SUnableToConvert = 142;
inline constexpr uint16_t SConversionAborted = 143;
inline constexpr uint16_t SNotValidForConversion = 144;
inline constexpr uint16_t SErrorSeeking = 147;

// `name` in double quotes, for messages.
std::string quotedFileName(const std::string& name);
// Raises std::bad_alloc for the engine's out-of-memory code.
void raiseIfOutOfMemory(int32_t code);

class TMMWave;
using TMMWaveProgress = std::function<void(TMMWave* sender, int32_t curByte, int32_t numBytes, bool& cancel)>;

class TMMWave : public TMMObject {
public:
    TMMWave();
    ~TMMWave() override;
    TMMWave(const TMMWave&) = delete;
    TMMWave& operator=(const TMMWave&) = delete;

    std::string ClassName() const override { return "TMMWave"; }

    // Binding. An empty name frees the wave; the same full name with an unchanged file
    // size is not read again.
    std::string FileName() const { return fileName_; }
    virtual void SetFileName(const std::string& name);
    void LoadFromFile(const std::string& name) { SetFileName(name); }
    // Takes ownership of `block` (null empties the wave).
    void SetPWaveIOCB(TWAVEIOCB* block);
    TWAVEIOCB* GetPWaveIOCB() const { return cb_.get(); }
    // Binds to a new control block for `format` (18 + cbSize bytes are copied), with no
    // file. GetPWaveFormat of any wave may be passed: its block holds all of those bytes.
    void SetPWaveFormat(const TWaveFormatEx* format);
    // Closes and releases the binding without notification.
    void ClearWave();
    // Like ClearWave, with a notification, when anything was bound.
    void FreeWave();

    bool FileMustExist() const { return fileMustExist_; }
    void SetFileMustExist(bool v);
    void SetIOBufferSize(int32_t size);
    int32_t IOBufferSize() const { return ioBufferSize_; }
    void SetTimeFormat(TMMTimeFormats f);
    TMMTimeFormats TimeFormat() const { return timeFormat_; }

    // Description; a wave without control block has no format.
    virtual TWaveFormatEx* GetPWaveFormat() const;
    // Bytes readable at GetPWaveFormat (at least 18 + cbSize); 0 without format.
    int32_t formatRecordSize() const;
    uint16_t FormatTag() const;
    int32_t BitLength() const;
    TMMMode Mode() const;
    int32_t SampleRate() const;
    std::string FormatString() const;
    int32_t FileSize() const;
    // The whole data length in the TimeFormat unit.
    int32_t DataSize() const;
    int32_t GetDataOffset() const;
    bool GetEmpty() const { return DataSize() == 0; }
    // Memory waves come with their stream; until then every wave is a file wave.
    bool IsMemWave() const { return false; }
    int32_t GetBytesLeft() const { return bytesLeft_; }

    // Unit conversions; 0 without format.
    virtual int32_t SamplesToBytes(int32_t n) const;
    virtual int32_t BytesToSamples(int32_t n) const;
    virtual int32_t RealSamplesToSamples(int32_t n) const { return n; }
    virtual int32_t SamplesToRealSamples(int32_t n) const { return n; }
    virtual int32_t SamplesToTimeFormat(int32_t n) const;
    virtual int32_t TimeFormatToSamples(int32_t v) const;

    // Opening, positioning, reading and writing.
    virtual void OpenFile();
    // Best effort: a failure to finish a written file is not reported (destruction and
    // ClearWave close this way).
    virtual void CloseFile();
    // CloseFile that reports a failure to finish a written file: raises EMMWaveError
    // naming the file, after the wave is closed all the same.
    void closeChecked();
    // True when the last read stopped because the file delivered fewer bytes than the
    // playing range holds (a file cut short or failing), as opposed to the data's end.
    // Cleared whenever a reading is positioned anew.
    bool readEndedEarly() const { return endedEarly_; }
    virtual void ResetFile() { }
    int32_t GetPosition() const;
    virtual void SetPosition(int32_t value);
    // Never 0: -1 when nothing is left, or once 4 zero bytes when the data ends early.
    // `buffer` must hold at least 4 bytes.
    int32_t ReadDataBytes(char* buffer, int32_t count);
    int32_t ReadDataSamples(char* buffer, int32_t count);
    int32_t WriteDataBytes(const char* buffer, int32_t count);
    int32_t WriteDataSamples(const char* buffer, int32_t count);
    // Makes a new, empty wave file (replacing one of that name) and binds to it with
    // the file open for writing; CloseFile finishes it. `format` as for SetPWaveFormat.
    void CreateFile(const std::string& name, const TWaveFormatEx* format);
    void CreateFileC(const std::string& name, const TWaveFormatEx* format) { CreateFile(name, format); }
    // Takes over the INFO texts and DISP items of `source`; they are written when this
    // wave's file is finished. Raises "Invalid param passed!" when either wave has no
    // control block, std::bad_alloc when memory runs out.
    void copyMetadataFrom(const TMMWave& source);

    void Changed() override;
    virtual void Progress(int32_t curByte, int32_t numBytes, bool& cancel);

    TMMWaveProgress OnProgress;

protected:
    // Up to `count` data bytes from the engine at its current position.
    virtual int32_t ReadInternal(char* buffer, int32_t count);
    // Hook for fades applied while reading; the plain wave has none.
    virtual void InitPlayFadeList(bool /*restart*/) { }
    // The play regions for the current binding: one over the playing range.
    void initRegionList();
    // Sum of the play regions' lengths, in samples, and in bytes.
    int32_t playLength() const;
    int32_t playLengthBytes() const;
    [[noreturn]] static void raiseError(uint16_t ident);

private:
    void takeControlBlock(ControlBlockHandle block);
    // Clears the binding, takes `block` and tells of the change.
    void bindControlBlock(ControlBlockHandle block);
    void seekToPlayPosition(int32_t p);
    // Sets the engine's I/O buffer to IOBufferSize; raises when it cannot.
    void applyIOBufferSize();
    // The open flag, position and bytes left of a closed wave.
    void resetReading();
    // Bytes of the data from sample `start` on, as the file holds them.
    int32_t dataBytesFrom(int32_t start) const;

    // Memory waves (their stream) and the cut list, play fade list and observers are
    // added with their own features.
    ControlBlockHandle cb_;
    std::string fileName_;
    bool fileMustExist_ = true;
    int32_t ioBufferSize_ = 32768;
    TMMTimeFormats timeFormat_ = tfSample;
    int32_t startPos_ = 0; // samples
    int32_t endPos_ = 0; // samples, exclusive
    int32_t position_ = 0; // samples from the start of the playing range
    int32_t bytesLeft_ = 0;
    int32_t lengthBytes_ = 0;
    TMMCutList regions_;
    int32_t regionIndex_ = 0;
    int32_t regionBytesLeft_ = 0;
    bool open_ = false;
    bool endedEarly_ = false;
    bool assigning_ = false; // while set, Changed is deferred
    bool changePending_ = false;
};

// The wave file component: the owner of one wave object. Its place in a processing
// chain (playing the wave, recording into it) comes with the sound layers; until then it
// is the holder the core form needs.
class TMMWaveFile {
public:
    TMMWaveFile() : wave_(std::make_unique<TMMWave>()) { }
    TMMWaveFile(const TMMWaveFile&) = delete;
    TMMWaveFile& operator=(const TMMWaveFile&) = delete;

    TMMWave& Wave() { return *wave_; }
    const TMMWave& Wave() const { return *wave_; }

private:
    std::unique_ptr<TMMWave> wave_;
};

} // namespace orvelle
