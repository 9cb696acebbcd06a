// The serial link end to end against the emulated adapter: found by the search, probed,
// reopened and asked for its firmware version.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "emulator/emulated_adapter.h"
#include "firmware/firmware_update.h"
#include "tests/support/recording_window.h"

namespace tornelvox {
namespace {

namespace fs = std::filesystem;

TEST(EmulatorLink, SearchFindsTheAdapterAndTheVersionQueryReadsIt) {
    FirmwareSession session;
    char pattern[] = "/tmp/tornelvox-devXXXXXX";
    const std::string folder = mkdtemp(pattern);
    session.DeviceDirectory = folder;

    emulator::EmulatedAdapter adapter({.version = 0x2A5});
    ASSERT_TRUE(adapter.Start());
    const std::string link = folder + "/cu.usbserial-1410";
    ASSERT_TRUE(adapter.LinkAt(link));
    testing::RecordingWindow window(session);

    ASSERT_TRUE(SearchCOMM(session));
    EXPECT_STREQ(session.ComPortName, link.c_str());
    EXPECT_EQ(session.hComm, 0);
    ASSERT_TRUE(InitPort(session));
    session.CurVerNum = 0;
    EXPECT_EQ(CheckFMVersion(session), 1);
    EXPECT_EQ(session.CurVerNum, 0x2A5);
    EXPECT_EQ(window.Log(),
              "\n Search Device ...\n\t Check port : " + link + "\n Found device on " + link +
                  "\n Device Firmware Version = 2A5\n" + " Available Firmware for update = 603\n");
    // The probe, the reboot that follows every probe, then the version query.
    const std::vector<int> expected = {1, 9, 10, 9, 10, 22};
    EXPECT_EQ(adapter.ReceivedCodes(), expected) << adapter.Transcript();
    EXPECT_TRUE(adapter.UnexpectedBytes().empty()) << adapter.Transcript();

    ClosePort(session);
    adapter.Stop();
    fs::remove_all(folder);
}

// An adapter that takes no input: once the line's buffers are full, a frame cannot be written
// whole. The write must give up with FailCode kFailFrameNotWritten instead of holding the thread,
// for page frames and for the handshake bursts alike.
TEST(EmulatorLink, FramesToAnAdapterThatTakesNoInputFailInsteadOfBlocking) {
    LinkSession session;
    session.WriteDeadlineMs = 500;
    session.ReadCallTimeoutMs = 1;
    emulator::EmulatedAdapter adapter({.never_reads = true});
    ASSERT_TRUE(adapter.Start());
    std::snprintf(session.ComPortName, sizeof session.ComPortName, "%s",
                  adapter.DevicePath().c_str());
    ASSERT_TRUE(InitPort(session));

    struct Outcome {
        int frames_written = 0;
        int page_fail_code = 0;
        bool page_exchange = true;
        int page_exchange_fail_code = 0;
        bool burst = true;
        int burst_fail_code = 0;
    };
    std::promise<Outcome> done;
    std::future<Outcome> outcome = done.get_future();
    std::thread writer([&done, &session] {
        Outcome result;
        // 64 page frames are far more than the line's buffers hold.
        for (session.fw_write_cnt = 0; session.fw_write_cnt < 64; ++session.fw_write_cnt) {
            // The page's bytes, as flash programming gives them.
            session.page = {rawData + static_cast<std::size_t>(session.fw_write_cnt) * kPageSize,
                            kPageSize};
            session.FailCode = kFailNone;
            if (WriteComm(session, kCmdWriteImagePage) == kWriteFailed) break;
            ++result.frames_written;
        }
        result.page_fail_code = session.FailCode;
        session.FailCode = kFailNone;
        result.page_exchange = SendCOMM(session, kCmdWriteImagePage).usable;
        result.page_exchange_fail_code = session.FailCode;
        session.FailCode = kFailNone;
        result.burst = SendCOMM(session, kCmdHandshakeBurstBeforeWake).usable;
        result.burst_fail_code = session.FailCode;
        done.set_value(result);
    });
    // A generous outer limit: the writes take about a second in all; a write that blocks never
    // returns, and hanging the line up is what brings the thread back then.
    const bool returned = outcome.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    if (!returned) adapter.Stop();
    writer.join();
    ASSERT_TRUE(returned) << "a write blocked while the adapter took no input";

    const Outcome result = outcome.get();
    EXPECT_GT(result.frames_written, 0) << "the line's buffers take some frames first";
    EXPECT_LT(result.frames_written, 64);
    EXPECT_EQ(result.page_fail_code, kFailFrameNotWritten);
    EXPECT_FALSE(result.page_exchange);
    EXPECT_EQ(result.page_exchange_fail_code, kFailFrameNotWritten);
    EXPECT_FALSE(result.burst);
    EXPECT_EQ(result.burst_fail_code, kFailFrameNotWritten);
    // Reads still block as before: the write loop put the descriptor back.
    EXPECT_EQ(fcntl(session.hComm, F_GETFL) & O_NONBLOCK, 0);

    ClosePort(session);
}

}  // namespace
}  // namespace tornelvox
