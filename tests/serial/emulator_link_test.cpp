// The serial link end to end against the emulated adapter: found by the search, probed,
// reopened and asked for its firmware version.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "emulator/emulated_adapter.h"
#include "firmware/firmware_update.h"
#include "support/recording_window.h"

namespace tornelvox {
namespace {

namespace fs = std::filesystem;

TEST(EmulatorLink, SearchFindsTheAdapterAndTheVersionQueryReadsIt) {
    testing::ResetSerialLink();
    char pattern[] = "/tmp/tornelvox-devXXXXXX";
    const std::string folder = mkdtemp(pattern);
    DeviceDirectory = folder;

    emulator::EmulatedAdapter adapter({.version = 0x2A5});
    ASSERT_TRUE(adapter.Start());
    const std::string link = folder + "/cu.usbserial-1410";
    ASSERT_TRUE(adapter.LinkAt(link));
    testing::RecordingWindow window;

    ASSERT_TRUE(SearchCOMM());
    EXPECT_STREQ(ComPortName, link.c_str());
    EXPECT_EQ(hComm, 0);
    ASSERT_TRUE(InitPort());
    CurVerNum = 0;
    EXPECT_EQ(CheckFMVersion(), 1);
    EXPECT_EQ(CurVerNum, 0x2A5);
    EXPECT_EQ(window.Log(),
              "\n Search Device ...\n\t Check port : " + link + "\n Found device on " + link +
                  "\n Device Firmware Version = 2A5\n" + " Available Firmware for update = 603\n");
    // The probe, the reboot that follows every probe, then the version query.
    const std::vector<int> expected = {1, 9, 10, 9, 10, 22};
    EXPECT_EQ(adapter.ReceivedCodes(), expected) << adapter.Transcript();
    EXPECT_TRUE(adapter.UnexpectedBytes().empty()) << adapter.Transcript();

    testing::ResetSerialLink();
    adapter.Stop();
    fs::remove_all(folder);
}

}  // namespace
}  // namespace tornelvox
