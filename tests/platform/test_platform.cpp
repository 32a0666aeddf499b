#include "platform/Exceptions.h"
#include "platform/Persistent.h"
#include "platform/Sysfile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>

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
