#pragma once
// Replacing a file by a converted copy written beside it under a temporary name, keeping
// the first backup. At every moment the name holds a complete file (the original or the
// converted one) and the original stays recoverable, at the name or as the backup; a
// second conversion of the same file fails while one runs.
#include <cstdint>
#include <string>
#include <sys/stat.h>

namespace orvelle {

class ReplaceInPlace {
public:
    // Locks the file `name` (a full name) for the whole conversion; `tmpName` and
    // `orgName` are its temporary and backup names. Raises when another conversion holds
    // the lock. A file that cannot be opened is not locked: reading it then says why.
    ReplaceInPlace(const std::string& name, const std::string& tmpName, const std::string& orgName);
    ~ReplaceInPlace();
    ReplaceInPlace(const ReplaceInPlace&) = delete;
    ReplaceInPlace& operator=(const ReplaceInPlace&) = delete;

    // Raises unless the file is locked (it was read without being opened here).
    void requireLocked() const;
    // Before the temporary file is made: the backup name holds nothing or a regular file,
    // the temporary name nothing or a regular file of ours. Raises otherwise, changing nothing.
    void checkCompanions() const;
    // The temporary file was created: keeps a descriptor of it for write-back, owner,
    // mode and the flush to disk.
    void attachTemporary();
    // `bytes` more were written to the temporary file; every few MiB their write-back to
    // the disk is started, so that the disk works while the conversion goes on.
    void wrote(int64_t bytes);
    // The temporary file is complete: gives it the source's owner and mode, flushes it,
    // keeps the original as the backup when there is none, and puts it at the name in one
    // step. Raises, with the name unchanged and the temporary file deleted, when any step
    // before that fails. Returns false when only the final flush of the folder failed: the
    // name holds the converted file then, but it may not survive a power cut.
    bool commit();
    // A failed conversion: deletes the temporary file (if it is still the one made).
    void discard();

private:
    bool backupExists() const;
    void keepOwnerAndMode();
    bool sameTemporaryAtItsName() const;
    void keepOriginal(bool& linked, bool& moved);
    void undoBackup(bool linked, bool moved);
    void closeTemporary();

    std::string name_, tmpName_, orgName_;
    int srcFd_ = -1; // the source, locked
    int tmpFd_ = -1;
    int64_t written_ = 0;
    int64_t started_ = 0; // the count at the last start of write-back
    bool finished_ = false; // committed or discarded
};

} // namespace orvelle
