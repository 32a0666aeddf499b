#include "waveio/Mmio.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace orvelle {
namespace {

TEST(MmioSmoke, WritesAndReadsBack)
{
    test::TempDir dir;
    std::string name = dir.file("a.bin");
    HMMIO h = mmioOpenA(name.data(), nullptr, MMIO_ALLOCBUF | MMIO_READWRITE | MMIO_CREATE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioWrite(h, "hello", 5), 5);
    EXPECT_EQ(mmioSeek(h, 0, 0), 0);
    char b[8] = {};
    EXPECT_EQ(mmioRead(h, b, 8), 5);
    EXPECT_EQ(mmioClose(h, 0), 0u);
}

} // namespace
} // namespace orvelle
