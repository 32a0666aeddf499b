#include "Sysfile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace orvelle {

namespace {

int sysOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags | O_CLOEXEC, mode); }
ssize_t sysRead(int fd, void* buf, size_t count) { return ::read(fd, buf, count); }
ssize_t sysWrite(int fd, const void* buf, size_t count) { return ::write(fd, buf, count); }
off_t sysLseek(int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); }
int sysClose(int fd) { return ::close(fd); }
int sysFsync(int fd) { return ::fsync(fd); }
int sysUnlink(const char* path) { return ::unlink(path); }
int sysRename(const char* from, const char* to) { return ::rename(from, to); }
int sysLink(const char* from, const char* to) { return ::link(from, to); }
int sysFstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int sysLstat(const char* path, struct stat* st) { return ::lstat(path, st); }
int sysStat(const char* path, struct stat* st) { return ::stat(path, st); }
int sysFchown(int fd, uid_t owner, gid_t group) { return ::fchown(fd, owner, group); }
int sysFchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int sysFlock(int fd, int operation) { return ::flock(fd, operation); }
int sysSyncFileRange(int fd, off_t offset, off_t bytes, unsigned flags)
{
    return ::sync_file_range(fd, offset, bytes, flags);
}

int sysRenameNoReplace(const char* from, const char* to)
{
#ifdef SYS_renameat2
    constexpr unsigned kNoReplace = 1; // RENAME_NOREPLACE
    if (::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, kNoReplace) == 0)
        return 0;
    if (errno != ENOSYS && errno != EINVAL)
        return -1;
#endif
    // File systems without renameat2: a hard link fails when the target exists.
    if (::link(from, to) != 0)
        return -1;
    return ::unlink(from);
}

constexpr FileOps kSystemOps{sysOpen, sysRead, sysWrite, sysLseek, sysClose, sysFsync, sysRenameNoReplace, sysUnlink,
    sysRename, sysLink, sysFstat, sysLstat, sysStat, sysFchown, sysFchmod, sysFlock, sysSyncFileRange};
FileOps gOps = kSystemOps;

} // namespace

FileOps& SysFileOps() { return gOps; }
void resetFileOps() { gOps = kSystemOps; }

std::string fullPathName(const std::string& name)
{
    if (name.empty())
        return name;
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(name, ec);
    if (ec)
        p = name;
    std::string out = p.lexically_normal().string();
    // "dir/" normalises to "dir/"; a file name never ends with a separator.
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

int64_t fileSizeByName(const std::string& name)
{
    struct stat st { };
    if (name.empty() || gOps.stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

bool fileExists(const std::string& name)
{
    struct stat st { };
    return !name.empty() && gOps.stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool deleteFileName(const std::string& name) { return !name.empty() && gOps.unlink(name.c_str()) == 0; }

bool renameFileNoReplace(const std::string& from, const std::string& to)
{
    return !from.empty() && !to.empty() && gOps.rename_noreplace(from.c_str(), to.c_str()) == 0;
}

namespace {
bool syncPath(const std::string& path, int flags)
{
    int fd = gOps.open(path.c_str(), flags, 0);
    if (fd < 0)
        return false;
    bool ok = gOps.fsync(fd) == 0;
    gOps.close(fd);
    return ok;
}
} // namespace

bool syncFileByName(const std::string& name) { return !name.empty() && syncPath(name, O_RDONLY); }

bool syncFolderOf(const std::string& name)
{
    std::filesystem::path dir = std::filesystem::path(fullPathName(name)).parent_path();
    return !dir.empty() && syncPath(dir.string(), O_RDONLY | O_DIRECTORY);
}

int fileModeByName(const std::string& name)
{
    struct stat st { };
    if (name.empty() || gOps.stat(name.c_str(), &st) != 0)
        return -1;
    return static_cast<int>(st.st_mode & 07777);
}

bool setFileModeByName(const std::string& name, int mode)
{
    return !name.empty() && ::chmod(name.c_str(), static_cast<mode_t>(mode)) == 0;
}

} // namespace orvelle
