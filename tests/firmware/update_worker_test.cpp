// The update worker end to end against the emulated adapter: a clean update, retried attempts,
// the failure end and an adapter unplugged while it is being written.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/firmware/adapter_fixture.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {
namespace {

using emu::FaultKind;
using std::chrono::seconds;

const std::string kStart = "\n Start the programming: \n";
const std::string kAddressRead = " Check Device ...\n\t Device BT address : 3A7\n";
const std::string kProgrammed = " Erase flash " + Repeat('.', 30) + " Done\n" +
                                " Start to write to Flash. It may take up to 5 minutes. \n" +
                                " Write flash " + Repeat('.', 63) + " Done\n" +
                                " Verify flash ... Done\n";
const std::string kSuccess = " Reboot MCU \n\n            Success                           \n\n";
const std::string kFailure =
    "\n          WARMING !!! FAILED !!!                      \n"
    "  Please remove the device then plug-in and try again.  \n\n";

// The frames of one clean attempt (the name page read back after the check value) and the
// reboot that follows it.
std::vector<int> CleanUpdateFrames() {
    std::vector<int> codes = {kCmdProbe,           kCmdHandshake,        kCmdEnterBootLoader,
                              kCmdReadPage,        kCmdWriteEnableFirst, kCmdWriteEnableSecond,
                              kCmdWriteEnableFirst};
    codes.insert(codes.end(), 30, kCmdEraseStep);
    codes.insert(codes.end(), 252, kCmdWriteImagePage);
    codes.insert(codes.end(),
                 {kCmdWriteNamePage, kCmdWriteImagePage, kCmdReadCheckValue, kCmdReadPage,
                  kCmdResetFirst, kCmdResetSecond, kCmdResetFirst, kCmdResetSecond});
    return codes;
}

// The codes of the received frames. Image page 126 lies at 0x7E000, where the parameter page
// is written, so its frame is byte for byte a parameter page frame, and the adapter
// records it so; here it counts as the image page it is.
std::vector<int> ReceivedCodes(const emu::EmulatedAdapter &adapter) {
    std::vector<int> codes;
    for (const emu::FrameRecord &record : adapter.Frames()) {
        if (record.kind == emu::RecordKind::kFrame)
            codes.push_back(record.code == kCmdWriteParameterPage ? kCmdWriteImagePage
                                                                  : record.code);
    }
    return codes;
}

// Page numbers carried by the image page frames, in the order they came.
std::vector<int> WrittenPages(const emu::EmulatedAdapter &adapter) {
    std::vector<int> pages;
    for (const emu::FrameRecord &record : adapter.Frames()) {
        if (record.kind != emu::RecordKind::kFrame) continue;
        if ((record.code != kCmdWriteImagePage && record.code != kCmdWriteParameterPage) ||
            record.bytes.size() < 12)
            continue;
        const std::uint32_t address = record.bytes[8] | record.bytes[9] << 8 |
                                      record.bytes[10] << 16 | record.bytes[11] << 24;
        pages.push_back(static_cast<int>(address / kPageSize));
    }
    return pages;
}

class UpdateWorker : public AdapterTest {
  protected:
    // The buttons locked by the Update action and restored at the worker's end, and nothing
    // logged after the restore.
    void ExpectButtonsLockedThenRestored() {
        const auto events = window_->Events();
        ASSERT_FALSE(events.empty());
        EXPECT_TRUE(events.front().is_buttons);
        EXPECT_EQ(events.front().buttons, ButtonState::LockedForUpdate);
        EXPECT_TRUE(events.back().is_buttons);
        EXPECT_EQ(events.back().buttons, ButtonState::Restored);
        EXPECT_EQ(window_->ButtonStates().size(), 2u);
        EXPECT_FALSE(session.ThreadRunning.load());
        EXPECT_FALSE(session.UpdateFirmwareRunning.load());
    }
};

TEST_F(UpdateWorker, CleanUpdateProgramsKeepsTheAddressAndReboots) {
    auto &adapter = StartAdapter();
    const std::uint32_t before = adapter.CheckValue();
    const auto started = std::chrono::steady_clock::now();

    ASSERT_TRUE(RunUpdate());

    EXPECT_LT(std::chrono::steady_clock::now() - started, seconds(5));
    EXPECT_EQ(Log(), kStart + kAddressRead + kProgrammed + kSuccess);
    ExpectButtonsLockedThenRestored();
    EXPECT_EQ(ReceivedCodes(adapter), CleanUpdateFrames());
    std::vector<int> pages;
    for (int page = 1; page <= 252; ++page) pages.push_back(page);
    pages.push_back(0);
    EXPECT_EQ(WrittenPages(adapter), pages);
    EXPECT_TRUE(adapter.UnexpectedBytes().empty()) << adapter.Transcript();

    const auto image = adapter.ReadFlash(0, kImageSize);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), rawData)) << "image pages differ";
    const emu::AdapterConfig defaults;
    std::array<unsigned char, 6> address;
    std::copy(defaults.bt_address.begin(), defaults.bt_address.end(), address.begin());
    EXPECT_EQ(adapter.ReadFlash(0xFD000, kPageSize), ExpectedNamePage(address));
    const std::uint32_t check = FW_CRC[0] | FW_CRC[1] << 8 | FW_CRC[2] << 16 | FW_CRC[3] << 24;
    EXPECT_EQ(adapter.CheckValue(), check);
    EXPECT_NE(before, check);

    EXPECT_EQ(session.hComm, 0);
    EXPECT_EQ(session.CurVerNum, kCurrentVersion);
    EXPECT_EQ(adapter.Version(), 0x603u);
    EXPECT_TRUE(pauses_.empty());
}

// The progress a front end sees: within each attempt the stages come in order, each from 0 up
// to its total one step at a time; a retried attempt starts again from erasing with its number.
TEST_F(UpdateWorker, ProgressRisesThroughTheStagesAndStartsAgainWithARetriedAttempt) {
    auto &adapter = StartAdapter();
    adapter.AddFault({.code = 14, .page = 100, .times = 2});  // both tries of page 100 go silent

    ASSERT_TRUE(RunUpdate());

    const std::vector<UpdateProgress> reports = window_->Progress();
    ASSERT_FALSE(reports.empty());
    struct Expected {
        UpdateStage stage;
        int total;
    };
    const Expected stages[] = {
        {UpdateStage::kErasing, 30}, {UpdateStage::kWriting, 254}, {UpdateStage::kVerifying, 2}};
    // The first attempt: all of erasing, then writing up to the page that failed. Attempts 2 to
    // 5 find the name page erased and end before programming; attempt 6 writes back the address
    // the first one read, and programs the whole way.
    std::size_t at = 0;
    for (int attempt : {1, 6}) {
        for (const Expected &expected : stages) {
            for (int done = 0; done <= expected.total; ++done) {
                if (attempt == 1 && expected.stage == UpdateStage::kWriting && done == 100) break;
                ASSERT_LT(at, reports.size()) << "attempt " << attempt << " done " << done;
                const UpdateProgress &report = reports[at++];
                EXPECT_EQ(report.attempt, attempt);
                EXPECT_EQ(report.stage, expected.stage);
                EXPECT_EQ(report.done, done);
                EXPECT_EQ(report.total, expected.total);
            }
            if (attempt == 1 && expected.stage == UpdateStage::kWriting) break;
        }
    }
    EXPECT_EQ(at, reports.size());
    EXPECT_EQ(reports.back().done, 2);  // verifying finished: the update reached 100 %
}

TEST_F(UpdateWorker, FailedAttemptIsRetriedAfterThePause) {
    auto &adapter = StartAdapter();
    adapter.AddFault({.code = kCmdWriteEnableFirst, .times = 2});

    ASSERT_TRUE(RunUpdate());

    EXPECT_EQ(Log(), kStart + kAddressRead + " Fail on EN_FLASH_WR_1\n" +
                         " Try again. Try count = 1\n" + kAddressRead + kProgrammed + kSuccess);
    EXPECT_EQ(pauses_, std::vector<unsigned>{3});
    EXPECT_EQ(session.CurVerNum, kCurrentVersion);
    ExpectButtonsLockedThenRestored();
}

// The first attempt erases the name page, so attempts 2 to 5 find no address; attempt 6 skips
// the read and writes the address the first attempt took.
TEST_F(UpdateWorker, AddressReadBeforeTheEraseIsWrittenLater) {
    auto &adapter = StartAdapter({.bt_address = {0xAB, 0xCD, 0x11, 0x22, 0x33, 0x44}});
    adapter.AddFault(
        {.code = kCmdWriteImagePage, .kind = FaultKind::kPageWriteFails, .page = 5, .times = 2});

    ASSERT_TRUE(RunUpdate());

    const std::string log = Log();
    EXPECT_NE(log.find("\t Device BT address : DAB\n"), std::string::npos);
    std::string no_address_attempts;
    for (int count = 1; count <= 4; ++count) {
        no_address_attempts += " Try again. Try count = " + std::to_string(count) + "\n" +
                               " Check Device ...\n\t Device has NO stored BT address. \n";
    }
    EXPECT_NE(log.find("\n Fail to write flash add 5\n" + no_address_attempts +
                       " Try again. Try count = 5\n Erase flash "),
              std::string::npos)
        << log;
    EXPECT_EQ(log.substr(log.size() - kProgrammed.size() - kSuccess.size()),
              kProgrammed + kSuccess);
    EXPECT_EQ(pauses_.size(), 5u);
    EXPECT_EQ(adapter.ReadFlash(0xFD000, kPageSize),
              ExpectedNamePage({0xAB, 0xCD, 0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(session.CurVerNum, kCurrentVersion);
}

TEST_F(UpdateWorker, TwoCheckValueMismatchesEndAtOnce) {
    auto &adapter = StartAdapter();
    adapter.AddFault({.code = kCmdReadCheckValue, .kind = FaultKind::kWrongCheckValue, .times = 2});

    ASSERT_TRUE(RunUpdate());

    const std::string log = Log();
    EXPECT_EQ(log.find("Try again"), std::string::npos) << log;
    EXPECT_NE(log.find(" !!!!! CRC second check error !!!!! \n"), std::string::npos);
    EXPECT_EQ(window_->LogSinceLastButtons(), "");
    EXPECT_EQ(log.substr(log.size() - kFailure.size()), kFailure);
    EXPECT_TRUE(pauses_.empty());
    EXPECT_EQ(session.FailCode, kFailCheckValueMismatch);
    EXPECT_EQ(session.CurVerNum, 0);
    EXPECT_EQ(adapter.CountOf(kCmdProbe), 1);
    ExpectButtonsLockedThenRestored();
}

TEST_F(UpdateWorker, OneMismatchThenMatchSucceeds) {
    auto &adapter = StartAdapter();
    adapter.AddFault({.code = kCmdReadCheckValue, .kind = FaultKind::kWrongCheckValue});

    ASSERT_TRUE(RunUpdate());

    const std::string log = Log();
    EXPECT_NE(log.find(" !!!!! CRC error !!!!! \n"), std::string::npos);
    EXPECT_EQ(log.substr(log.size() - kSuccess.size()), kSuccess);
    EXPECT_EQ(session.FailCode, kFailCheckValueMismatch);
    EXPECT_EQ(session.CurVerNum, kCurrentVersion);
    EXPECT_EQ(session.hComm, 0);
    ExpectButtonsLockedThenRestored();
}

TEST_F(UpdateWorker, BootLoaderThatNeverAnswersEndsAfterTenAttempts) {
    auto &adapter = StartAdapter();
    adapter.AddFault(
        {.code = kCmdHandshake, .kind = FaultKind::kOneByteReply, .times = emu::kAlways});
    session.ReadCallTimeoutMs.store(5);  // each silent stretch of the one-byte replies costs less

    ASSERT_TRUE(RunUpdate());

    std::string expected = kStart;
    for (int count = 1; count <= 9; ++count) {
        expected += " Try again. Try count = " + std::to_string(count) + "\n";
    }
    EXPECT_EQ(Log(), expected + kFailure);
    EXPECT_EQ(pauses_, std::vector<unsigned>(9, 3));
    EXPECT_EQ(adapter.CountOf(kCmdEnterBootLoader), 0);
    EXPECT_EQ(session.FailCode, kFailHandshake);
    EXPECT_EQ(session.CurVerNum, 0);
    ExpectButtonsLockedThenRestored();
}

// A check value mismatch left by an earlier update is that update's: a failure of this update
// that records no code of its own is retried as any other.
TEST_F(UpdateWorker, EarlierUpdatesMismatchDoesNotEndTheRetries) {
    auto &adapter = StartAdapter();
    adapter.AddFault({.code = kCmdEnterBootLoader, .kind = FaultKind::kOneByteReply});
    session.FailCode = kFailCheckValueMismatch;

    ASSERT_TRUE(RunUpdate());

    EXPECT_EQ(Log(),
              kStart + " Try again. Try count = 1\n" + kAddressRead + kProgrammed + kSuccess);
    EXPECT_EQ(session.CurVerNum, kCurrentVersion);
}

TEST_F(UpdateWorker, UnplugWhileWritingEndsAtTheFailureEnd) {
    auto &adapter = StartAdapter();
    adapter.AddFault({.code = kCmdWriteImagePage, .kind = FaultKind::kUnplug, .page = 100});

    ASSERT_TRUE(RunUpdate(seconds(30))) << "the worker did not end";

    const std::string log = Log();
    EXPECT_NE(log.find("\n Fail to write flash add 64\n"), std::string::npos) << log;
    // Said once, in the attempt where the line went down.
    const std::string gone = " The adapter was disconnected. Plug it back in at ";
    EXPECT_NE(log.find("\n Fail to write flash add 64\n" + gone), std::string::npos) << log;
    EXPECT_EQ(log.find(gone), log.rfind(gone)) << log;
    // The later attempts find no port to open and fail at once.
    EXPECT_EQ(pauses_.size(), 9u);
    EXPECT_EQ(log.find("Success"), std::string::npos);
    EXPECT_EQ(log.substr(log.size() - kFailure.size()), kFailure);
    EXPECT_EQ(session.CurVerNum, 0);
    ExpectButtonsLockedThenRestored();
}

}  // namespace
}  // namespace tornelvox::testing
