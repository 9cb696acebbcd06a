// Every catalogue frame, sent with its exact bytes, is identified by its code and gets a reply
// of exactly the length the utility waits for.
#include <gtest/gtest.h>

#include "serial/command_codes.h"
#include "tests/emulator/emulator_fixture.h"

namespace tornelvox::emulator::testing {
namespace {

struct CatalogueCase {
    int code;          // as the utility numbers it
    int recorded_as;   // as the emulator records it
    bool boot_loader;  // sent while the adapter is in its boot loader
    Bytes frame;
    std::size_t reply;  // reply length; 0 for none
};

Bytes Page(std::uint32_t address) {
    return PageWriteFrame(address, Bytes(4096, 0x5A));
}

std::vector<CatalogueCase> Catalogue() {
    return {
        {kCmdProbe, kCodeProbe, false, kProbe, 8},
        {kCmdProbe, kCodeProbe, true, kProbe, 8},
        {kCmdHandshake, kCodeHandshake, false, kHandshake, 8},
        {kCmdWakeUp, kCodeWakeUp, false, kWakeUp, 0},
        {kCmdEnterBootLoaderFast,
         kCodeEnterBootLoaderFast,
         true,
         {0x01, 0xE0, 0xFC, 0x06, 0x0F, 0x40, 0x42, 0x0F, 0x00, 0x0F},
         12},
        {kCmdReadFlashId,
         kCodeFlashId,
         true,
         {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x00, 0x0E, 0x9F, 0x00, 0x00, 0x00, 0x00},
         15},
        {kCmdResetFirst, kCodeResetFirst, false, kResetFirst, 15},
        {kCmdResetSecond, kCodeResetSecond, false, kResetSecond, 5},
        {kCmdWriteEnableFirst, kCodeWriteEnable1, true, kWriteEnable1, 13},
        {kCmdWriteEnableSecond, kCodeWriteEnable2, true, kWriteEnable2, 13},
        {kCmdEraseStep, kCodeErase, true, EraseFrame(15), 16},
        {kCmdEraseStep, kCodeErase, true, EraseFrame(29), 16},
        {kCmdWriteImagePage, kCodeWriteImagePage, true, Page(252 * 4096), 15},
        {kCmdWriteNamePage, kCodeWriteNamePage, true, Page(0xFD000), 15},
        {kCmdWriteParameterPage, kCodeWriteParameterPage, true, Page(0x7E000), 15},
        {kCmdReadCheckValue, kCodeVerify, true, kVerify, 11},
        {kCmdReadPage, kCodeReadPage, true, PageReadFrame(0xFD000), 4110},
        {kCmdReadParameterPage, kCodeReadPage, true, PageReadFrame(0x7E000), 4110},
        {kCmdQuit, kCodeQuit, false, {0x2F, 0x71}, 0},
        {kCmdQueryVersion, kCodeVersion, false, kVersionQuery, 33},
        {kCmdReadSetting, kCodeReadSetting, false, SettingsRead(0x00, 1), 10},
        {kCmdWriteSetting, kCodeWriteSetting, false, SettingsWrite(0xFF, 2, 1), 10},
    };
}

class CatalogueTest : public EmulatorTest, public ::testing::WithParamInterface<CatalogueCase> {};

TEST_P(CatalogueTest, IdentifiesFrameAndRepliesWithExpectedLength) {
    const CatalogueCase &c = GetParam();
    Begin();
    if (c.boot_loader) EnterBootLoader();
    adapter->ClearRecords();

    const Bytes reply = port->Exchange(c.frame, c.reply + 1, std::chrono::milliseconds(150));
    ASSERT_TRUE(adapter->WaitForFrames(c.recorded_as, 1, kHandled));

    EXPECT_EQ(adapter->ReceivedCodes(), std::vector<int>{c.recorded_as}) << adapter->Transcript();
    EXPECT_EQ(reply.size(), c.reply) << adapter->Transcript();
    EXPECT_TRUE(adapter->UnexpectedBytes().empty()) << adapter->Transcript();
    if (c.reply >= 7 && c.code <= kCmdReadParameterPage) {
        const Bytes head = {0x04, 0x0E};
        EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 2), head);
        EXPECT_EQ(reply[3], 0x01);
        EXPECT_EQ(reply[4], 0xE0);
        EXPECT_EQ(reply[5], 0xFC);
        EXPECT_EQ(reply[6], 0x00) << "status";
    }
}

INSTANTIATE_TEST_SUITE_P(AllCodes, CatalogueTest, ::testing::ValuesIn(Catalogue()),
                         [](const auto &info) {
                             return "Code" + std::to_string(info.param.code) + "_" +
                                    std::to_string(info.index);
                         });

// Flash commands outside the boot loader are not the line-side firmware's business.
TEST_F(EmulatorTest, FlashCommandsOutsideBootLoaderGetNoReply) {
    Begin();
    for (const Bytes &frame :
         {kWriteEnable1, kWriteEnable2, EraseFrame(0), Page(0), kVerify, PageReadFrame(0xFD000)}) {
        EXPECT_TRUE(port->Exchange(frame, 1, std::chrono::milliseconds(60)).empty());
    }
    EXPECT_EQ(adapter->ReceivedCodes(),
              (std::vector<int>{kCodeWriteEnable1, kCodeWriteEnable2, kCodeErase,
                                kCodeWriteImagePage, kCodeVerify, kCodeReadPage}));
    EXPECT_NE(adapter->ReadFlash(0, 4096), Bytes(4096, 0xFF)) << "erase was ignored";
}

TEST_F(EmulatorTest, BytesThatFitNoFrameAreRecordedAndSkipped) {
    Begin();
    Bytes stream = {0x00, 0x42};
    stream.insert(stream.end(), kProbe.begin(), kProbe.end());
    stream.insert(stream.end(), {0x58, 0x53, 0x09});  // settings marker with a bad length
    const Bytes read = SettingsRead(1, 3);
    stream.insert(stream.end(), read.begin(), read.end());
    ASSERT_TRUE(port->Write(stream));
    EXPECT_EQ(port->Read(18).size(), 18u);
    ASSERT_TRUE(adapter->WaitForFrames(kCodeReadSetting, 1, kHandled));

    EXPECT_EQ(adapter->ReceivedCodes(), (std::vector<int>{kCodeProbe, kCodeReadSetting}));
    EXPECT_EQ(adapter->UnexpectedBytes(), (Bytes{0x00, 0x42, 0x58, 0x53, 0x09}));
}

TEST_F(EmulatorTest, PartialFrameWaitsForTheRestOfItsBytes) {
    Begin();
    const Bytes frame = SettingsRead(9, 1);
    ASSERT_TRUE(port->Write(Bytes(frame.begin(), frame.begin() + 3)));
    EXPECT_TRUE(port->Read(1, std::chrono::milliseconds(80)).empty());
    ASSERT_TRUE(port->Write(Bytes(frame.begin() + 3, frame.end())));
    EXPECT_EQ(port->Read(10).size(), 10u);
    EXPECT_EQ(adapter->ReceivedCodes(), std::vector<int>{kCodeReadSetting});
    EXPECT_TRUE(adapter->UnexpectedBytes().empty());
}

TEST_F(EmulatorTest, PartialFrameLeftSilentIsDroppedAsUnexpected) {
    Begin({.partial_frame_timeout_ms = 50});
    ASSERT_TRUE(port->Write({0x58, 0x53, 0x03}));
    EXPECT_TRUE(port->Read(1, std::chrono::milliseconds(150)).empty());
    EXPECT_EQ(port->Exchange(kProbe, 8).size(), 8u);
    EXPECT_EQ(adapter->UnexpectedBytes(), (Bytes{0x58, 0x53, 0x03}));
    EXPECT_EQ(adapter->ReceivedCodes(), std::vector<int>{kCodeProbe});
}

}  // namespace
}  // namespace tornelvox::emulator::testing
