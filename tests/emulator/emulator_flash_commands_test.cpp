// Erasing, programming, reading and checking the flash through the boot loader's commands, and
// the reset that starts the new firmware.
#include <gtest/gtest.h>

#include "firmware/emulator_marker.h"
#include "tests/emulator/emulator_fixture.h"
#include "tools/jamcrc.h"

namespace tornelvox::emulator::testing {
namespace {

Bytes Pattern(std::uint8_t seed) {
    Bytes page(4096);
    for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<std::uint8_t>(i * 3 + seed);
    return page;
}

class FlashCommands : public EmulatorTest {
  protected:
    void SetUp() override {
        EmulatorTest::SetUp();
        Begin();
        EnterBootLoader();
    }
    bool Erase(int step) { return port->Exchange(EraseFrame(step), 16).size() == 16; }
    bool WritePage(std::uint32_t address, const Bytes &page) {
        return port->Exchange(PageWriteFrame(address, page), 15).size() == 15;
    }
};

TEST_F(FlashCommands, EraseStepsClearBlocksAndSectors) {
    ASSERT_TRUE(Erase(2));  // 64 KiB block at 0x20000
    EXPECT_EQ(adapter->ReadFlash(0x20000, 0x10000), Bytes(0x10000, 0xFF));
    EXPECT_NE(adapter->ReadFlash(0x1F000, 4096), Bytes(4096, 0xFF)) << "block before untouched";
    EXPECT_NE(adapter->ReadFlash(0x30000, 4096), Bytes(4096, 0xFF)) << "block after untouched";

    ASSERT_TRUE(adapter->WriteFlash(0xF1000, Bytes(2 * 4096, 0x00)));
    ASSERT_TRUE(Erase(17));  // 4 KiB sector at 0xF1000
    EXPECT_EQ(adapter->ReadFlash(0xF1000, 4096), Bytes(4096, 0xFF));
    EXPECT_EQ(adapter->ReadFlash(0xF2000, 4096), Bytes(4096, 0x00));
}

TEST_F(FlashCommands, PageWrittenWithoutEraseComesOutCorrupted) {
    const Bytes page = Pattern(7);
    const Bytes before = adapter->ReadFlash(0x3000, 4096);
    ASSERT_TRUE(WritePage(0x3000, page));
    Bytes expected(4096);
    for (std::size_t i = 0; i < 4096; ++i) expected[i] = before[i] & page[i];
    EXPECT_EQ(adapter->ReadFlash(0x3000, 4096), expected);
    EXPECT_NE(expected, page);

    ASSERT_TRUE(Erase(0));
    ASSERT_TRUE(WritePage(0x3000, page));
    EXPECT_EQ(adapter->ReadFlash(0x3000, 4096), page);
}

// At every page address: the name pages, the parameter page, and image pages inside and outside
// the check value's range, the last one included.
TEST_F(FlashCommands, PageReadPutsPageByteKAtReplyByte15PlusK) {
    std::uint8_t seed = 1;
    for (const std::uint32_t address :
         {0x7D000u, 0x0u, 0x7C000u, 0x7E000u, 0xC8000u, 0xFC000u, 0xFD000u, 0xFF000u}) {
        const Bytes page = Pattern(seed++);
        ASSERT_TRUE(adapter->WriteFlash(address, page));
        const Bytes reply = port->Exchange(PageReadFrame(address), 4110);
        ASSERT_EQ(reply.size(), 4110u) << std::hex << address << adapter->Transcript();
        EXPECT_EQ(Bytes(reply.begin() + 15, reply.end()), Bytes(page.begin(), page.begin() + 4095))
            << std::hex << address;
    }
}

TEST_F(FlashCommands, CheckValueCoversTheFirst125Pages) {
    Bytes flash = adapter->Flash();
    for (std::size_t i = 0; i < 0x7D000; ++i) flash[i] = static_cast<std::uint8_t>(i >> 4);
    ASSERT_TRUE(adapter->WriteFlash(0, Bytes(flash.begin(), flash.begin() + 0x7D000)));
    const auto expected = tools::JamCrcBytes(tools::JamCrc(flash.data(), 0x7D000));

    Bytes reply = port->Exchange(kVerify, 11);
    ASSERT_EQ(reply.size(), 11u);
    EXPECT_EQ(Bytes(reply.begin() + 7, reply.end()), Bytes(expected.begin(), expected.end()));

    ASSERT_TRUE(adapter->WriteFlash(0x7D000, Bytes(4096, 0x00)));  // outside the range
    EXPECT_EQ(port->Exchange(kVerify, 11), reply);
    ASSERT_TRUE(adapter->WriteFlash(0x7CFFF, Bytes{0x00}));  // last byte inside
    EXPECT_NE(port->Exchange(kVerify, 11), reply);
}

// The reset after an update starts the new firmware only when page 0 has been programmed.
struct ResetCase {
    const char *name;
    bool erase;
    bool program_page_0;
    std::uint32_t version_after;
    bool firmware;
};

class ResetAfterUpdate : public FlashCommands, public ::testing::WithParamInterface<ResetCase> {};

TEST_P(ResetAfterUpdate, StartsWhatTheFlashHolds) {
    const ResetCase &c = GetParam();
    if (c.erase) {
        ASSERT_TRUE(Erase(0));
    }
    if (c.program_page_0) {
        ASSERT_TRUE(WritePage(0, Pattern(9)));
    }
    EXPECT_EQ(port->Exchange(kResetFirst, 15).size(), 15u);
    EXPECT_EQ(port->Exchange(kResetSecond, 5).size(), 5u);
    ASSERT_TRUE(adapter->WaitForFrames(kCodeResetSecond, 1, kHandled));

    EXPECT_FALSE(adapter->InBootLoader());
    EXPECT_EQ(adapter->Version(), c.version_after);
    EXPECT_EQ(adapter->FirmwarePresent(), c.firmware);
    // Without firmware the emulated adapter still names itself, but reports no version.
    const Bytes reply = port->Exchange(kVersionQuery, 33);
    ASSERT_EQ(reply.size(), 33u);
    const std::string text(reply.begin(), reply.end());
    EXPECT_NE(text.find(kEmulatorMarker), std::string::npos) << text;
    const std::size_t p = text.find("KQ Version");
    if (c.firmware) {
        ASSERT_NE(p, std::string::npos);
        char digits[4];
        std::snprintf(digits, sizeof digits, "%03X", c.version_after);
        EXPECT_EQ(text.substr(p + 13, 3), digits);
    } else {
        EXPECT_EQ(p, std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Flash, ResetAfterUpdate,
    ::testing::Values(ResetCase{"NoErase", false, false, 0x302, true},
                      ResetCase{"ErasedAndProgrammed", true, true, 0x603, true},
                      ResetCase{"ErasedPage0Empty", true, false, 0x302, false}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tornelvox::emulator::testing
