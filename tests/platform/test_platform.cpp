#include "platform/Exceptions.h"
#include "platform/Persistent.h"
#include "platform/Sysfile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace orvelle {
namespace {

using test::TempDir;

TEST(fullPathName, IsAbsoluteAndNormalised)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"/dir/a.wav", "/dir/a.wav"}, {"/dir/./x/../a.wav", "/dir/a.wav"}, {"//dir//a.wav", "/dir/a.wav"}, {"", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(fullPathName(c.in), c.out) << c.in;
    std::string rel = fullPathName("a.wav");
    EXPECT_EQ(rel.front(), '/');
    EXPECT_EQ(rel.substr(rel.size() - 6), "/a.wav");
}

TEST(renameFileNoReplace, NeverReplacesAnExistingFile)
{
    TempDir dir;
    test::WriteFileBytes(dir.file("a"), {1, 2, 3});
    test::WriteFileBytes(dir.file("b"), {9});
    EXPECT_FALSE(renameFileNoReplace(dir.file("a"), dir.file("b")));
    EXPECT_EQ(test::ReadFileBytes(dir.file("b")), test::Bytes{9});
    EXPECT_EQ(fileSizeByName(dir.file("a")), 3);
    EXPECT_TRUE(renameFileNoReplace(dir.file("a"), dir.file("c")));
    EXPECT_FALSE(fileExists(dir.file("a")));
    EXPECT_EQ(test::ReadFileBytes(dir.file("c")), (test::Bytes{1, 2, 3}));
    EXPECT_FALSE(renameFileNoReplace(dir.file("missing"), dir.file("d")));
}

TEST(FileQueries, SizeExistsDeleteAndMode)
{
    TempDir dir;
    EXPECT_EQ(fileSizeByName(dir.file("none")), -1);
    EXPECT_FALSE(deleteFileName(dir.file("none")));
    test::WriteFileBytes(dir.file("f"), test::Bytes(10));
    EXPECT_TRUE(fileExists(dir.file("f")));
    EXPECT_FALSE(fileExists(dir.path().string()));
    EXPECT_TRUE(setFileModeByName(dir.file("f"), 0640));
    EXPECT_EQ(fileModeByName(dir.file("f")), 0640);
    EXPECT_TRUE(syncFileByName(dir.file("f")));
    EXPECT_TRUE(syncFolderOf(dir.file("f")));
    EXPECT_TRUE(deleteFileName(dir.file("f")));
    EXPECT_FALSE(fileExists(dir.file("f")));
}

TEST(FileOps, ASeamCanFailOneStep)
{
    TempDir dir;
    test::WriteFileBytes(dir.file("a"), {1});
    SysFileOps().rename_noreplace = [](const char*, const char*) {
        errno = EIO;
        return -1;
    };
    EXPECT_FALSE(renameFileNoReplace(dir.file("a"), dir.file("b")));
    resetFileOps();
    EXPECT_TRUE(renameFileNoReplace(dir.file("a"), dir.file("b")));
}

// The entries the in-place replacement relies on, as the system provides them.
TEST(FileOps, LinkRenameLockAndDescriptorCalls)
{
    TempDir dir;
    const FileOps& ops = SysFileOps();
    test::WriteFileBytes(dir.file("a"), {1, 2, 3});
    test::WriteFileBytes(dir.file("b"), {9});
    EXPECT_EQ(ops.link(dir.file("a").c_str(), dir.file("b").c_str()), -1);
    EXPECT_EQ(errno, EEXIST);
    ASSERT_EQ(ops.link(dir.file("a").c_str(), dir.file("c").c_str()), 0);
    struct stat a {
    }, c{};
    ASSERT_EQ(ops.lstat(dir.file("a").c_str(), &a), 0);
    ASSERT_EQ(ops.stat(dir.file("c").c_str(), &c), 0);
    EXPECT_EQ(a.st_ino, c.st_ino);
    EXPECT_EQ(ops.rename_replace(dir.file("b").c_str(), dir.file("a").c_str()), 0);
    EXPECT_EQ(test::ReadFileBytes(dir.file("a")), test::Bytes{9});
    EXPECT_EQ(test::ReadFileBytes(dir.file("c")), (test::Bytes{1, 2, 3}));

    const int fd = ops.open(dir.file("c").c_str(), O_RDONLY, 0);
    const int other = ops.open(dir.file("c").c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    ASSERT_GE(other, 0);
    EXPECT_EQ(ops.flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(ops.flock(other, LOCK_EX | LOCK_NB), -1); // per open file, also in one process
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_EQ(ops.fchmod(fd, 0600), 0);
    EXPECT_EQ(ops.fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(-1)), 0);
    struct stat st { };
    ASSERT_EQ(ops.fstat(fd, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(ops.sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE), 0);
    ops.close(other);
    ops.close(fd);
}

class Named : public TPersistent {
public:
    std::string ClassName() const override { return "TNamed"; }
};

TEST(Persistent, BaseAssignmentRaises)
{
    Named a, b;
    EXPECT_THROW(a.Assign(&b), EAssignError);
    EXPECT_THROW(a.Assign(nullptr), EAssignError);
    try {
        a.Assign(&b);
    } catch (const EAssignError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TNamed to a TNamed");
    }
}

} // namespace
} // namespace orvelle
