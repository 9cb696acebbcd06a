// The port's line settings whatever another program left on the line, and the bytes that such
// settings would alter crossing the line unchanged in both directions.
#include <gtest/gtest.h>
#include <termios.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "emulator/emulated_adapter.h"
#include "firmware/firmware_update.h"
#include "tests/support/recording_window.h"
#include "tests/support/test_constants.h"

namespace tornelvox {
namespace {

// The utility's port opened on an emulated adapter whose line was left in the strange mode.
class StrangeLine : public ::testing::Test {
  protected:
    void SetUp() override {
        session.ReadCallTimeoutMs = testing::kShortReadCallMs;
        ASSERT_TRUE(adapter.Start());
        std::snprintf(session.ComPortName, sizeof session.ComPortName, "%s",
                      adapter.DevicePath().c_str());
    }
    void TearDown() override {
        ClosePort(session);
        adapter.Stop();
    }
    emulator::EmulatedAdapter adapter{{.strange_line_mode = true}};
    FirmwareSession session;
};

struct FlagRule {
    const char *name;
    tcflag_t termios::*field;
    tcflag_t mask;
    tcflag_t wanted;  // the masked bits after SetParameters
};

// clang-format off
const FlagRule kRawMode[] = {
    {"CS8",     &termios::c_cflag, CSIZE,   CS8},
    {"PARENB",  &termios::c_cflag, PARENB,  0},
    {"PARODD",  &termios::c_cflag, PARODD,  0},
    {"CMSPAR",  &termios::c_cflag, CMSPAR,  0},
    {"CSTOPB",  &termios::c_cflag, CSTOPB,  0},
    {"CREAD",   &termios::c_cflag, CREAD,   CREAD},
    {"CLOCAL",  &termios::c_cflag, CLOCAL,  CLOCAL},
    {"CRTSCTS", &termios::c_cflag, CRTSCTS, 0},
    {"IXON",    &termios::c_iflag, IXON,    0},
    {"IXOFF",   &termios::c_iflag, IXOFF,   0},
    {"IXANY",   &termios::c_iflag, IXANY,   0},
    {"IGNBRK",  &termios::c_iflag, IGNBRK,  0},
    {"BRKINT",  &termios::c_iflag, BRKINT,  0},
    {"PARMRK",  &termios::c_iflag, PARMRK,  0},
    {"ISTRIP",  &termios::c_iflag, ISTRIP,  0},
    {"INPCK",   &termios::c_iflag, INPCK,   0},
    {"IGNPAR",  &termios::c_iflag, IGNPAR,  0},
    {"INLCR",   &termios::c_iflag, INLCR,   0},
    {"IGNCR",   &termios::c_iflag, IGNCR,   0},
    {"ICRNL",   &termios::c_iflag, ICRNL,   0},
    {"IUCLC",   &termios::c_iflag, IUCLC,   0},
    {"IMAXBEL", &termios::c_iflag, IMAXBEL, 0},
    {"OPOST",   &termios::c_oflag, OPOST,   0},
    {"OLCUC",   &termios::c_oflag, OLCUC,   0},
    {"ONLCR",   &termios::c_oflag, ONLCR,   0},
    {"OCRNL",   &termios::c_oflag, OCRNL,   0},
    {"ONOCR",   &termios::c_oflag, ONOCR,   0},
    {"ONLRET",  &termios::c_oflag, ONLRET,  0},
    {"OFILL",   &termios::c_oflag, OFILL,   0},
    {"ECHO",    &termios::c_lflag, ECHO,    0},
    {"ECHOE",   &termios::c_lflag, ECHOE,   0},
    {"ECHOK",   &termios::c_lflag, ECHOK,   0},
    {"ECHONL",  &termios::c_lflag, ECHONL,  0},
    {"ICANON",  &termios::c_lflag, ICANON,  0},
    {"ISIG",    &termios::c_lflag, ISIG,    0},
    {"IEXTEN",  &termios::c_lflag, IEXTEN,  0},
    {"XCASE",   &termios::c_lflag, XCASE,   0},
    {"TOSTOP",  &termios::c_lflag, TOSTOP,  0},
};
// clang-format on

TEST_F(StrangeLine, OpeningSetsFullRawMode) {
    ASSERT_TRUE(OpenPort(session, session.ComPortName));
    termios before{};
    ASSERT_EQ(tcgetattr(session.hComm, &before), 0);
    // The line really is strange before the utility configures it.
    ASSERT_EQ(before.c_oflag & (OPOST | OLCUC), OPOST | OLCUC);
    ASSERT_EQ(before.c_iflag & (ISTRIP | IXON | PARMRK), ISTRIP | IXON | PARMRK);
    ASSERT_EQ(before.c_lflag & ICANON, ICANON);
    ASSERT_EQ(before.c_cflag & (CSTOPB | CRTSCTS | CLOCAL), CSTOPB | CRTSCTS);

    ASSERT_TRUE(SetParameters(session, 115200));
    termios after{};
    ASSERT_EQ(tcgetattr(session.hComm, &after), 0);
    for (const FlagRule &rule : kRawMode) {
        EXPECT_EQ(after.*rule.field & rule.mask, rule.wanted) << rule.name;
    }
    EXPECT_EQ(after.c_cc[VMIN], 0);
    EXPECT_EQ(after.c_cc[VTIME], 1);
    EXPECT_EQ(cfgetospeed(&after), B115200);
    EXPECT_EQ(cfgetispeed(&after), B115200);
}

// The first image page that holds every byte a strange line would alter: carriage return, line
// feed, XON, XOFF, 0xFF, bytes with the top bit set and lower-case letters.
int PageWithEveryAlteredByte() {
    const unsigned char wanted[] = {0x0D, 0x0A, 0x11, 0x13, 0xFF, 0x80, 0xA7, 'a', 'z', 'q'};
    for (int page = 1; page < kImagePages; ++page) {
        const unsigned char *bytes = rawData + static_cast<std::size_t>(page) * kPageSize;
        if (std::all_of(std::begin(wanted), std::end(wanted), [&](unsigned char byte) {
                return std::find(bytes, bytes + kPageSize, byte) != bytes + kPageSize;
            })) {
            return page;
        }
    }
    return -1;
}

TEST_F(StrangeLine, EveryByteCrossesUnchangedBothWays) {
    ASSERT_TRUE(InitPort(session));
    ASSERT_EQ(Set2Boot(session), 1) << adapter.Transcript();

    // Adapter to utility: the name page's address has bytes with the top bit set, its name
    // lower-case letters.
    session.dwReadAdd = 0xFD000;
    ASSERT_TRUE(SendCOMM(session, kCmdReadPage)) << adapter.Transcript();
    const unsigned char address[] = {0xA7, 0x03, 0x5C, 0x21, 0x9E, 0x40};
    EXPECT_EQ(std::memcmp(session.ReadData + 15, address, sizeof address), 0);
    EXPECT_EQ(std::memcmp(session.ReadData + 21, "Tornelvox(", 10), 0);

    // Utility to adapter: an image page lands in the flash byte for byte.
    const int page = PageWithEveryAlteredByte();
    ASSERT_GT(page, 0);
    session.flash_cnt = page / 16;  // erase steps 0 to 15 erase the 64 KiB blocks
    ASSERT_TRUE(SendCOMM(session, kCmdEraseStep)) << adapter.Transcript();
    session.fw_write_cnt = page;
    session.page = {rawData + static_cast<std::size_t>(page) * kPageSize, kPageSize};
    ASSERT_TRUE(SendCOMM(session, kCmdWriteImagePage)) << adapter.Transcript();
    const std::uint32_t at = static_cast<std::uint32_t>(page) * kPageSize;
    const unsigned char *image_page = rawData + at;
    EXPECT_EQ(adapter.ReadFlash(at, kPageSize),
              std::vector<std::uint8_t>(image_page, image_page + kPageSize));
    EXPECT_TRUE(adapter.UnexpectedBytes().empty()) << adapter.Transcript();
}

}  // namespace
}  // namespace tornelvox
