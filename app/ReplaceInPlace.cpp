#include "app/ReplaceInPlace.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/Sysfile.h"
#include "wave/Mmwave.h"

namespace orvelle {

namespace {

// Write-back of the temporary file is started every this many bytes.
constexpr int64_t kWriteBehind = 8 << 20;

[[noreturn]] void fail(const std::string& message) { throw EMMWaveError(message); }

std::string reason(int error) { return std::strerror(error); }

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// What stands at a name that should hold a regular file.
std::string kindOf(const struct stat& st)
{
    if (S_ISDIR(st.st_mode))
        return "a folder";
    if (S_ISLNK(st.st_mode))
        return "a symbolic link";
    return "a special file";
}

// Opens and locks `name`; -1 (with `error` set) when it cannot be opened. The lock belongs to the open file,
// so the engine's own opening and closing of the source does not release it.
int openLocked(const std::string& name, int& error)
{
    error = 0;
    FileOps& ops = SysFileOps();
    // A conversion that ends between the open and the lock has put its result at the
    // name: the lock is then on its source, so the name is opened again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ops.open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0);
        if (fd < 0) {
            error = errno;
            if (error == ELOOP)
                fail(quotedFileName(name) + " is a symbolic link; convert the file it points to");
            return -1;
        }
        struct stat held {
        }, now{};
        if (ops.fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
            ops.close(fd);
            return -1; // reading it says what it is
        }
        if (ops.flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int e = errno;
            ops.close(fd);
            if (e == EWOULDBLOCK)
                fail(quotedFileName(name) + " is being converted by another process");
            fail("Unable to lock " + quotedFileName(name) + " (" + reason(e) + ")");
        }
        if (ops.lstat(name.c_str(), &now) == 0 && sameFile(held, now))
            return fd;
        ops.close(fd);
    }
    fail(quotedFileName(name) + " is being converted by another process");
}

} // namespace

ReplaceInPlace::ReplaceInPlace(const std::string& name, const std::string& tmpName, const std::string& orgName)
    : name_(name), tmpName_(tmpName), orgName_(orgName)
{
    int error = 0;
    srcFd_ = openLocked(name_, error);
    struct stat st { };
    // A conversion interrupted where hard links are not possible leaves no file at the
    // name; say where its data is instead of only that the file cannot be read.
    if (srcFd_ < 0 && error == ENOENT && SysFileOps().lstat(tmpName_.c_str(), &st) == 0) {
        std::string original =
            SysFileOps().lstat(orgName_.c_str(), &st) == 0 ? "; the original is in " + quotedFileName(orgName_) : "";
        fail(quotedFileName(name_) + " does not exist; " + quotedFileName(tmpName_) +
            " is left from an interrupted conversion" + original);
    }
}

ReplaceInPlace::~ReplaceInPlace()
{
    closeTemporary();
    if (srcFd_ >= 0)
        SysFileOps().close(srcFd_);
}

void ReplaceInPlace::requireLocked() const
{
    if (srcFd_ < 0)
        fail("Unable to open " + quotedFileName(name_));
}

// A backup is a regular file. A symbolic link (even to the file itself) or anything else
// is not: replacing the name would then lose the only copy of the original.
bool ReplaceInPlace::backupExists() const
{
    struct stat st { };
    if (SysFileOps().lstat(orgName_.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return false;
        fail("Unable to examine " + quotedFileName(orgName_) + " (" + reason(errno) + ")");
    }
    if (!S_ISREG(st.st_mode))
        fail(quotedFileName(orgName_) + " is " + kindOf(st) + ", not a backup; move it away to convert " +
            quotedFileName(name_));
    return true;
}

// The temporary name may hold what a killed conversion left: a regular file of this
// user or of the source's owner (a conversion as root gives it that owner). Anything else
// is someone else's and stays.
void ReplaceInPlace::checkCompanions() const
{
    backupExists();
    struct stat st { };
    if (SysFileOps().lstat(tmpName_.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return;
        fail("Unable to examine " + quotedFileName(tmpName_) + " (" + reason(errno) + ")");
    }
    if (!S_ISREG(st.st_mode))
        fail(quotedFileName(tmpName_) + " is " + kindOf(st) +
            ", not a temporary file of a conversion; move it away to convert " + quotedFileName(name_));
    struct stat src { };
    const bool srcOwner = srcFd_ >= 0 && SysFileOps().fstat(srcFd_, &src) == 0 && src.st_uid == st.st_uid;
    if (st.st_uid != ::geteuid() && !srcOwner)
        fail(quotedFileName(tmpName_) + " belongs to another user; move it away to convert " + quotedFileName(name_));
}

void ReplaceInPlace::attachTemporary()
{
    FileOps& ops = SysFileOps();
    tmpFd_ = ops.open(tmpName_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0);
    if (tmpFd_ < 0)
        fail("Unable to open " + quotedFileName(tmpName_) + " (" + reason(errno) + ")");
    struct stat st { };
    if (ops.fstat(tmpFd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
        closeTemporary();
        fail(quotedFileName(tmpName_) + " was replaced by another program during the conversion");
    }
}

// Starts writing out what is new without waiting for it, so that the disk works while the
// conversion goes on and the final flush finds little left. (Waiting for each window as
// well keeps too few writes in flight and was slower than a plain copy and flush.)
void ReplaceInPlace::wrote(int64_t bytes)
{
    written_ += bytes;
    if (tmpFd_ < 0 || written_ - started_ < kWriteBehind)
        return;
    // The whole file: what the engine still held at the last call is in it by now, and
    // pages already on their way are skipped. Only a help: the final fsync reports errors.
    (void)SysFileOps().sync_file_range(tmpFd_, 0, 0, SYNC_FILE_RANGE_WRITE);
    started_ = written_;
}

// Through the descriptors: a name could meanwhile stand for another file.
void ReplaceInPlace::keepOwnerAndMode()
{
    FileOps& ops = SysFileOps();
    struct stat src {
    }, tmp{};
    if (ops.fstat(srcFd_, &src) != 0 || ops.fstat(tmpFd_, &tmp) != 0)
        fail("Unable to examine " + quotedFileName(name_));
    if ((src.st_uid != tmp.st_uid || src.st_gid != tmp.st_gid) && ops.fchown(tmpFd_, src.st_uid, src.st_gid) != 0) {
        if (errno != EPERM)
            fail("Unable to give " + quotedFileName(tmpName_) + " the owner of " + quotedFileName(name_) + " (" +
                reason(errno) + ")");
        // Not allowed to give the file away: the group at least, where this user is in it.
        (void)ops.fchown(tmpFd_, static_cast<uid_t>(-1), src.st_gid);
    }
    // After the owner: changing it clears the set-user-ID and set-group-ID bits.
    if (ops.fchmod(tmpFd_, src.st_mode & 07777) != 0)
        fail("Unable to set the permissions of " + quotedFileName(tmpName_));
}

bool ReplaceInPlace::sameTemporaryAtItsName() const
{
    struct stat held {
    }, now{};
    return tmpFd_ >= 0 && SysFileOps().fstat(tmpFd_, &held) == 0 && SysFileOps().lstat(tmpName_.c_str(), &now) == 0 &&
        sameFile(held, now);
}

// The original gets the backup name as a second name, so that the name itself never
// stands empty. Where hard links are not possible it is moved there instead (the name
// is then empty until the converted file takes it).
void ReplaceInPlace::keepOriginal(bool& linked, bool& moved)
{
    FileOps& ops = SysFileOps();
    if (ops.link(name_.c_str(), orgName_.c_str()) == 0) {
        linked = true;
        // The backup must be on the disk before the name is replaced.
        if (!syncFolderOf(name_))
            fail("Unable to flush the folder of " + quotedFileName(name_) + " to disk; the file is unchanged");
        return;
    }
    int e = errno;
    if (e == EEXIST && backupExists())
        return;
    if (e == EPERM || e == EOPNOTSUPP || e == ENOSYS || e == EMLINK) {
        if (ops.rename_noreplace(name_.c_str(), orgName_.c_str()) == 0) {
            moved = true;
            return;
        }
        e = errno;
        if (e == EEXIST && backupExists())
            return;
    }
    fail("Unable to keep the original of " + quotedFileName(name_) + " as " + quotedFileName(orgName_) + " (" +
        reason(e) + "); the file is unchanged");
}

void ReplaceInPlace::undoBackup(bool linked, bool moved)
{
    FileOps& ops = SysFileOps();
    struct stat src {
    }, org{};
    // Only the second name made here goes: the source itself is still at the name.
    if (linked && ops.fstat(srcFd_, &src) == 0 && ops.lstat(orgName_.c_str(), &org) == 0 && sameFile(src, org))
        ops.unlink(orgName_.c_str());
    if (moved)
        ops.rename_noreplace(orgName_.c_str(), name_.c_str());
}

bool ReplaceInPlace::commit()
{
    FileOps& ops = SysFileOps();
    bool linked = false, moved = false;
    try {
        keepOwnerAndMode();
        if (ops.fsync(tmpFd_) != 0)
            fail("Unable to flush " + quotedFileName(tmpName_) + " to disk");
        if (!sameTemporaryAtItsName())
            fail(quotedFileName(tmpName_) + " was replaced by another program during the conversion");
        if (!backupExists())
            keepOriginal(linked, moved);
        if (ops.rename_replace(tmpName_.c_str(), name_.c_str()) != 0)
            fail("Unable to rename " + quotedFileName(tmpName_) + " to " + quotedFileName(name_) + " (" +
                reason(errno) + "); the file is unchanged");
    } catch (...) {
        undoBackup(linked, moved);
        discard();
        throw;
    }
    closeTemporary();
    finished_ = true;
    return syncFolderOf(name_);
}

void ReplaceInPlace::discard()
{
    if (finished_)
        return;
    finished_ = true;
    if (tmpFd_ < 0 || sameTemporaryAtItsName())
        deleteFileName(tmpName_);
    closeTemporary();
}

void ReplaceInPlace::closeTemporary()
{
    if (tmpFd_ >= 0)
        SysFileOps().close(tmpFd_);
    tmpFd_ = -1;
}

} // namespace orvelle
