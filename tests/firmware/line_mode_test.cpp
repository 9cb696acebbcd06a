// A whole update over a line that another program left with translation and flow control on:
// the adapter's address and the image's check value both carry bytes with the top bit set.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/firmware/adapter_fixture.h"

namespace tornelvox::testing {
namespace {

TEST_F(AdapterTest, UpdateOverAStrangeLineProgramsTheImageAndKeepsTheAddress) {
    auto &adapter = StartAdapter({.strange_line_mode = true});
    const emu::AdapterConfig defaults;
    // The run shows top-bit bytes crossing the line only if address and check value have them.
    // The placeholder's check value was chosen for it; another image's is what it is, and its
    // pages carry such bytes anyway.
    const auto top_bit = [](unsigned char byte) { return byte >= 0x80; };
    ASSERT_GE(std::count_if(defaults.bt_address.begin(), defaults.bt_address.end(), top_bit), 2);
    if (!kVendorImage) {
        ASSERT_GE(std::count_if(FW_CRC, FW_CRC + 4, top_bit), 2);
    }

    ASSERT_TRUE(RunUpdate());

    EXPECT_NE(Log().find("Success"), std::string::npos) << Log();
    EXPECT_EQ(session.CurVerNum, kCurrentVersion);
    const auto image = adapter.ReadFlash(0, kImageSize);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), rawData)) << "image pages differ";
    std::array<unsigned char, 6> address;
    std::copy(defaults.bt_address.begin(), defaults.bt_address.end(), address.begin());
    EXPECT_EQ(adapter.ReadFlash(0xFD000, kPageSize), ExpectedNamePage(address));
    EXPECT_TRUE(adapter.UnexpectedBytes().empty()) << adapter.Transcript();
}

}  // namespace
}  // namespace tornelvox::testing
