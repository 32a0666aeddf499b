#pragma once
// The file system as the library sees it. Every call of the project that opens, reads,
// writes, examines, syncs, locks, links, renames or deletes a file goes through the table
// returned by SysFileOps(), so that a test can make any single step fail (or end the
// process there).
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace orvelle {

struct FileOps {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buf, size_t count);
    ssize_t (*write)(int fd, const void* buf, size_t count);
    off_t (*lseek)(int fd, off_t offset, int whence);
    int (*close)(int fd);
    int (*fsync)(int fd);
    // Renames `from` to `to`; fails with EEXIST, changing nothing, when `to` exists.
    int (*rename_noreplace)(const char* from, const char* to);
    int (*unlink)(const char* path);
    // Renames `from` to `to`, replacing what `to` names in one step.
    int (*rename_replace)(const char* from, const char* to);
    // A second name for the file `from`; fails with EEXIST when `to` exists.
    int (*link)(const char* from, const char* to);
    int (*fstat)(int fd, struct stat* st);
    int (*lstat)(const char* path, struct stat* st);
    int (*stat)(const char* path, struct stat* st);
    int (*fchown)(int fd, uid_t owner, gid_t group);
    int (*fchmod)(int fd, mode_t mode);
    int (*flock)(int fd, int operation);
    int (*sync_file_range)(int fd, off_t offset, off_t bytes, unsigned flags);
};

// The table in force; tests may replace entries and must call resetFileOps() afterwards.
FileOps& SysFileOps();
void resetFileOps();

// The absolute, lexically normalised form of `name` ("" stays "").
std::string fullPathName(const std::string& name);
// Size in bytes of the file `name`, or -1 when there is no such file.
int64_t fileSizeByName(const std::string& name);
bool fileExists(const std::string& name);
bool deleteFileName(const std::string& name);
// Fails, changing nothing, when `to` exists.
bool renameFileNoReplace(const std::string& from, const std::string& to);
// Flushes the file's data to the disk.
bool syncFileByName(const std::string& name);
// Flushes the folder holding `name`, so that renames in it survive a power cut.
bool syncFolderOf(const std::string& name);
// Permission bits of the file, or -1 when it cannot be examined.
int fileModeByName(const std::string& name);
bool setFileModeByName(const std::string& name, int mode);

} // namespace orvelle
