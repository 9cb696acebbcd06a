// The update worker against every fault kind the adapter can show, at every stage of an update
// where that kind can happen. Each row names its expected end; every row also has to keep the
// invariants that hold whatever goes wrong:
//
//  - success is reported only when the flash holds the image (pages 0 to 252 equal rawData)
//    and the adapter's check value equals FW_CRC;
//  - once an attempt has read the adapter's Bluetooth address, every name page written carries
//    that address;
//  - the buttons come back, and their restore is the last thing the worker posts;
//  - the run ends within kRowBound;
//  - no descriptor is left open once the worker has ended, beyond the port it may keep.
//
// Stages and the frame the fault hits:
//   probe              the first kCmdProbe, at the start of the boot loader entry
//   handshake          the first kCmdHandshake of the boot loader entry
//   boot loader entry  the first kCmdEnterBootLoader
//   name page read     the first kCmdReadPage
//   write enable       the first kCmdWriteEnableSecond
//   erase              the last erase step (30th kCmdEraseStep, the sector holding the name page)
//   image pages        the first write of image page 200, beyond the range the check value
//                      covers, so only the flash itself shows whether it was written
//   name page          the first kCmdWriteNamePage
//   page 0             the first write of page 0
//   verify             the first kCmdReadCheckValue
//   reboot             the first kCmdResetSecond of the reset request at the success end
//
// Left out, because the fault cannot happen there:
//   - a wrong check value (once or twice) anywhere but verify: only kCmdReadCheckValue reports
//     one;
//   - a failed page write anywhere but the image pages, the name page and page 0: no other
//     command programs a page.
// Every other kind runs at every stage.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <semaphore>
#include <string>
#include <vector>

#include "tests/firmware/adapter_fixture.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {
namespace {

using emu::FaultKind;
using emu::FaultRule;

// Short read calls keep the matrix fast; the unpaced emulator answers far within one call, and
// the 20 ms it waits before it answers a handshake stays well inside ten of them.
constexpr int kReadCallMs = 10;
// Longest run of one row. The slowest rows wait out two silent verify exchanges (2 x 100 read
// calls, 2 s); the rest is room for sanitizer builds.
constexpr auto kRowBound = std::chrono::seconds(8);

enum class Stage {
    kProbe,
    kHandshake,
    kBootLoaderEntry,
    kNamePageRead,
    kWriteEnable,
    kErase,
    kImagePages,
    kNamePage,
    kPageZero,
    kVerify,
    kReboot,
};

enum class Kind {
    kSilence,          // no reply to the frame and to its second attempt
    kShort,            // the first 4 bytes of the reply
    kOneByte,          // the first byte of the reply
    kGarbled,          // a reply of the right length whose bytes mean nothing
    kSlow,             // the reply after 3 read calls of silence, within the exchange's wait
    kLate,             // the reply after the exchange's first attempt has given up waiting
    kWrongCheckOnce,   // a corrupted check value, then the right one
    kWrongCheckTwice,  // a corrupted check value twice
    kPageWriteFails,   // the page is not programmed and no reply comes, twice
    kUnplug,           // the adapter is unplugged when the frame arrives
};

enum class End { kSuccess, kFailure, kCancel };

struct Row {
    Stage stage;
    Kind kind;
    End end;
    int failed_attempts;  // attempts that failed before the end (pauses asked for)
    // The user clicks Cancel during the pause after the first failed attempt.
    bool cancel = false;
    // Further failed attempts that are as good an end. A late reply races the reply to the
    // frame's second attempt: when that one is still on its way as the next request goes out,
    // it cannot be told from that request's reply, and the next attempt has to make up for it.
    int may_need_more = 0;
};

const char *StageName(Stage stage) {
    switch (stage) {
        case Stage::kProbe:
            return "Probe";
        case Stage::kHandshake:
            return "Handshake";
        case Stage::kBootLoaderEntry:
            return "BootLoaderEntry";
        case Stage::kNamePageRead:
            return "NamePageRead";
        case Stage::kWriteEnable:
            return "WriteEnable";
        case Stage::kErase:
            return "Erase";
        case Stage::kImagePages:
            return "ImagePages";
        case Stage::kNamePage:
            return "NamePage";
        case Stage::kPageZero:
            return "PageZero";
        case Stage::kVerify:
            return "Verify";
        case Stage::kReboot:
            return "Reboot";
    }
    return "Stage";
}

const char *KindName(Kind kind) {
    switch (kind) {
        case Kind::kSilence:
            return "Silence";
        case Kind::kShort:
            return "Short";
        case Kind::kOneByte:
            return "OneByte";
        case Kind::kGarbled:
            return "Garbled";
        case Kind::kSlow:
            return "Slow";
        case Kind::kLate:
            return "Late";
        case Kind::kWrongCheckOnce:
            return "WrongCheckOnce";
        case Kind::kWrongCheckTwice:
            return "WrongCheckTwice";
        case Kind::kPageWriteFails:
            return "PageWriteFails";
        case Kind::kUnplug:
            return "Unplug";
    }
    return "Kind";
}

std::string RowName(const Row &row) {
    return std::string(StageName(row.stage)) + "_" + KindName(row.kind) +
           (row.cancel ? "_Cancelled" : "");
}

void PrintTo(const Row &row, std::ostream *os) {
    *os << RowName(row);
}

// The frame a stage's fault hits.
FaultRule Target(Stage stage) {
    switch (stage) {
        case Stage::kProbe:
            return {.code = kCmdProbe};
        case Stage::kHandshake:
            return {.code = kCmdHandshake};
        case Stage::kBootLoaderEntry:
            return {.code = kCmdEnterBootLoader};
        case Stage::kNamePageRead:
            return {.code = kCmdReadPage};
        case Stage::kWriteEnable:
            return {.code = kCmdWriteEnableSecond};
        case Stage::kErase:
            return {.code = kCmdEraseStep, .skip = 29};
        case Stage::kImagePages:
            return {.code = kCmdWriteImagePage, .page = 200};
        case Stage::kNamePage:
            return {.code = kCmdWriteNamePage};
        case Stage::kPageZero:
            return {.code = kCmdWriteImagePage, .page = 0};
        case Stage::kVerify:
            return {.code = kCmdReadCheckValue};
        case Stage::kReboot:
            return {.code = kCmdResetSecond};
    }
    return {};
}

// How long one exchange attempt waits through silence for the first chunk of its reply.
int ExchangeWaitMs(int code) {
    const int calls = code == kCmdReadCheckValue ? 100 : code == kCmdEraseStep ? 30 : 10;
    return calls * kReadCallMs;
}

FaultRule RuleFor(const Row &row) {
    FaultRule rule = Target(row.stage);
    switch (row.kind) {
        case Kind::kSilence:
            rule.kind = FaultKind::kSilence;
            rule.times = 2;
            break;
        case Kind::kShort:
            rule.kind = FaultKind::kShortReply;
            rule.bytes = 4;
            break;
        case Kind::kOneByte:
            rule.kind = FaultKind::kOneByteReply;
            break;
        case Kind::kGarbled:
            rule.kind = FaultKind::kGarbage;
            break;
        case Kind::kSlow:
            rule.kind = FaultKind::kLateReply;
            rule.delay_ms = 3 * kReadCallMs;
            break;
        case Kind::kLate:
            rule.kind = FaultKind::kLateReply;
            rule.delay_ms = ExchangeWaitMs(rule.code) + 5 * kReadCallMs;
            break;
        case Kind::kWrongCheckOnce:
            rule.kind = FaultKind::kWrongCheckValue;
            break;
        case Kind::kWrongCheckTwice:
            rule.kind = FaultKind::kWrongCheckValue;
            rule.times = 2;
            break;
        case Kind::kPageWriteFails:
            rule.kind = FaultKind::kPageWriteFails;
            rule.times = 2;
            break;
        case Kind::kUnplug:
            rule.kind = FaultKind::kUnplug;
            break;
    }
    return rule;
}

// Expected ends. Shorthand for the paths that recur:
//  - the probe and the handshake recover inside the boot loader entry (a reboot and a second
//    probe; the recovery bursts and a second handshake);
//  - a reply that arrives whole but short (2 bytes or more) or garbled counts for every command
//    whose reply the update does not read; the name page read and the verify read theirs;
//  - a failure once the erase has reached the name page sector leaves the adapter without a
//    stored address: attempts 2 to 5 fail in the name page read, and attempt 6, which skips
//    it, writes the address attempt 1 read (5 failed attempts);
//  - a failure after the name page was written lets attempt 2 read the address back (1);
//  - an unplugged adapter never comes back: ten attempts, then the failure end (9), except at
//    the reboot, which comes after the verified image;
//  - a late reply is taken for the reply to the frame's second attempt; the second attempt's
//    own reply, still queued when the next request goes out, is discarded before it, so every
//    later request reads its own reply and the update ends as if nothing had happened.
//    (Without that discard every later reply was read one exchange late: from the name page
//    read on, a page could pass as written on the reply meant for the page before it, and the
//    verify read an old reply and failed the update although the image was in place.)
std::vector<Row> Rows() {
    using enum Stage;
    using enum Kind;
    const End ok = End::kSuccess;
    const End failed = End::kFailure;
    const End cancelled = End::kCancel;
    return {
        {kProbe, kSilence, ok, 0},
        {kProbe, kShort, ok, 0},
        {kProbe, kOneByte, ok, 0},
        {kProbe, kGarbled, ok, 0},
        {kProbe, kSlow, ok, 0},
        {kProbe, kLate, ok, 0, false, 1},
        {kProbe, kUnplug, failed, 9},

        {kHandshake, kSilence, ok, 0},
        {kHandshake, kShort, ok, 0},
        {kHandshake, kOneByte, ok, 0},
        {kHandshake, kGarbled, ok, 0},
        {kHandshake, kSlow, ok, 0},
        {kHandshake, kLate, ok, 0, false, 1},
        {kHandshake, kUnplug, failed, 9},

        {kBootLoaderEntry, kSilence, ok, 1},
        {kBootLoaderEntry, kShort, ok, 0},
        {kBootLoaderEntry, kOneByte, ok, 1},
        {kBootLoaderEntry, kGarbled, ok, 0},
        {kBootLoaderEntry, kSlow, ok, 0},
        {kBootLoaderEntry, kLate, ok, 0, false, 1},
        {kBootLoaderEntry, kUnplug, failed, 9},

        {kNamePageRead, kSilence, ok, 1},
        {kNamePageRead, kShort, ok, 1},
        {kNamePageRead, kOneByte, ok, 1},
        {kNamePageRead, kGarbled, ok, 1},
        {kNamePageRead, kSlow, ok, 0},
        {kNamePageRead, kLate, ok, 0, false, 1},
        {kNamePageRead, kUnplug, failed, 9},

        {kWriteEnable, kSilence, ok, 1},
        {kWriteEnable, kShort, ok, 0},
        {kWriteEnable, kOneByte, ok, 1},
        {kWriteEnable, kGarbled, ok, 0},
        {kWriteEnable, kSlow, ok, 0},
        {kWriteEnable, kLate, ok, 0, false, 1},
        {kWriteEnable, kUnplug, failed, 9},

        {kErase, kSilence, ok, 5},
        {kErase, kShort, ok, 0},
        {kErase, kOneByte, ok, 5},
        {kErase, kGarbled, ok, 0},
        {kErase, kSlow, ok, 0},
        {kErase, kLate, ok, 0, false, 1},
        {kErase, kUnplug, failed, 9},

        {kImagePages, kSilence, ok, 5},
        {kImagePages, kShort, ok, 0},
        {kImagePages, kOneByte, ok, 5},
        {kImagePages, kGarbled, ok, 0},
        {kImagePages, kSlow, ok, 0},
        {kImagePages, kLate, ok, 0, false, 1},
        {kImagePages, kPageWriteFails, ok, 5},
        {kImagePages, kUnplug, failed, 9},

        {kNamePage, kSilence, ok, 1},
        {kNamePage, kShort, ok, 0},
        {kNamePage, kOneByte, ok, 1},
        {kNamePage, kGarbled, ok, 0},
        {kNamePage, kSlow, ok, 0},
        {kNamePage, kLate, ok, 0, false, 1},
        {kNamePage, kPageWriteFails, ok, 5},
        {kNamePage, kUnplug, failed, 9},

        {kPageZero, kSilence, ok, 1},
        {kPageZero, kShort, ok, 0},
        {kPageZero, kOneByte, ok, 1},
        {kPageZero, kGarbled, ok, 0},
        {kPageZero, kSlow, ok, 0},
        {kPageZero, kLate, ok, 0, false, 1},
        {kPageZero, kPageWriteFails, ok, 1},
        {kPageZero, kUnplug, failed, 9},

        {kVerify, kSilence, ok, 1},
        {kVerify, kShort, ok, 0},
        {kVerify, kOneByte, ok, 1},
        {kVerify, kGarbled, ok, 0},
        {kVerify, kSlow, ok, 0},
        {kVerify, kLate, ok, 0, false, 1},
        {kVerify, kWrongCheckOnce, ok, 0},
        {kVerify, kWrongCheckTwice, failed, 0},
        {kVerify, kUnplug, failed, 9},

        {kReboot, kSilence, ok, 0},
        {kReboot, kShort, ok, 0},
        {kReboot, kOneByte, ok, 0},
        {kReboot, kGarbled, ok, 0},
        {kReboot, kSlow, ok, 0},
        {kReboot, kLate, ok, 0, false, 1},
        {kReboot, kUnplug, ok, 0},

        // A Cancel click in the pause after the first failed attempt.
        {kWriteEnable, kOneByte, cancelled, 1, true},
        {kImagePages, kPageWriteFails, cancelled, 1, true},
        {kProbe, kUnplug, cancelled, 1, true},
    };
}

const std::string kSuccessLines = "\n            Success                           \n\n";
const std::string kFailureLines =
    "\n          WARMING !!! FAILED !!!                      \n"
    "  Please remove the device then plug-in and try again.  \n\n";

// Open descriptors of this process.
std::vector<std::string> OpenDescriptors() {
    std::vector<std::string> targets;
    DIR *listing = opendir("/proc/self/fd");
    if (listing == nullptr) return targets;
    const int own = dirfd(listing);
    while (const dirent *entry = readdir(listing)) {
        if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == own) continue;
        char target[256] = {};
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        targets.push_back(length > 0 ? std::string(target, static_cast<std::size_t>(length))
                                     : std::string());
    }
    closedir(listing);
    return targets;
}

class FaultMatrix : public AdapterTest, public ::testing::WithParamInterface<Row> {
  protected:
    void SetUp() override {
        AdapterTest::SetUp();
        session.ReadCallTimeoutMs.store(kReadCallMs);
        const bool cancel = GetParam().cancel;
        session.RetryPause = [this, cancel](unsigned seconds) {
            pauses_.push_back(seconds);
            if (cancel && pauses_.size() == 1) {
                // The Cancel click lands in this pause: its first step clears the run flag.
                session.ThreadRunning.store(false);
                in_pause_.release();
            }
        };
    }

    void TearDown() override {
        if (guard_ >= 0) close(guard_);
        AdapterTest::TearDown();
    }

    // Starts the adapter and points the port at it. A descriptor of the test's own holds the
    // pseudo-terminal's number while the utility may still retry it after an unplug, so that no
    // other process's new terminal can take that number meanwhile.
    emu::EmulatedAdapter &StartGuardedAdapter() {
        emu::EmulatedAdapter &adapter = StartAdapter();
        ClosePort(session);
        guard_ = open(adapter.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(guard_, 0);
        EXPECT_TRUE(InitPort(session));
        return adapter;
    }

    int guard_ = -1;
    std::binary_semaphore in_pause_{0};
};

TEST_P(FaultMatrix, EndsAsExpectedAndKeepsTheInvariants) {
    const Row &row = GetParam();
    const std::size_t descriptors_before = OpenDescriptors().size();
    emu::EmulatedAdapter &adapter = StartGuardedAdapter();
    const std::string device = adapter.DevicePath();
    adapter.AddFault(RuleFor(row));
    const emu::AdapterConfig config;

    const unsigned ended = UpdateWorkersEnded(session);
    const auto started = std::chrono::steady_clock::now();
    StartUpdateWorker(session_, window_);
    if (row.cancel) {
        ASSERT_TRUE(in_pause_.try_acquire_for(kRowBound)) << "no pause came\n"
                                                          << Log() << adapter.Transcript();
        CancelUpdate(session);
        EXPECT_FALSE(session.UpdateFirmwareRunning.load());
    }
    ASSERT_TRUE(WaitForUpdateWorkersEnded(session, ended + 1, kRowBound))
        << "the worker hangs\n"
        << Log() << adapter.Transcript();
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, kRowBound);

    // The end the row expects.
    const std::string log = Log();
    const bool reported_success = log.find(kSuccessLines) != std::string::npos;
    const bool reported_failure = log.find(kFailureLines) != std::string::npos;
    EXPECT_EQ(reported_success, row.end == End::kSuccess);
    EXPECT_EQ(reported_failure, row.end == End::kFailure);
    EXPECT_EQ(session.CurVerNum, row.end == End::kSuccess ? VerNum : 0);
    EXPECT_GE(pauses_.size(), static_cast<std::size_t>(row.failed_attempts));
    EXPECT_LE(pauses_.size(), static_cast<std::size_t>(row.failed_attempts + row.may_need_more));
    EXPECT_FALSE(session.ThreadRunning.load());
    EXPECT_FALSE(session.UpdateFirmwareRunning.load());

    // Success only with the image and its check value in the flash.
    if (reported_success) {
        const std::vector<std::uint8_t> image = adapter.ReadFlash(0, kImageSize);
        for (int page = 0; page < kImagePages; ++page) {
            const std::size_t at = static_cast<std::size_t>(page) * kPageSize;
            EXPECT_TRUE(std::equal(image.begin() + static_cast<std::ptrdiff_t>(at),
                                   image.begin() + static_cast<std::ptrdiff_t>(at + kPageSize),
                                   rawData + at))
                << "image page " << page << " differs";
        }
        const std::uint32_t check = FW_CRC[0] | FW_CRC[1] << 8 | FW_CRC[2] << 16 | FW_CRC[3] << 24;
        EXPECT_EQ(adapter.CheckValue(), check);
    }

    // Every name page written after the address was read carries it. Until an attempt reads
    // it the utility holds its default address, and it writes no name page before that.
    const bool address_read = log.find("\t Device BT address : ") != std::string::npos;
    int name_pages = 0;
    for (const emu::FrameRecord &record : adapter.Frames()) {
        if (record.kind != emu::RecordKind::kFrame || record.code != kCmdWriteNamePage) continue;
        ++name_pages;
        EXPECT_TRUE(address_read) << "a name page written before the address was read";
        ASSERT_GE(record.bytes.size(), 18u);
        EXPECT_TRUE(std::equal(config.bt_address.begin(), config.bt_address.end(),
                               record.bytes.begin() + 12))
            << "name page " << name_pages << " carries another address";
    }
    if (reported_success) {
        std::array<unsigned char, 6> address;
        std::copy(config.bt_address.begin(), config.bt_address.end(), address.begin());
        EXPECT_EQ(adapter.ReadFlash(0xFD000, kPageSize), ExpectedNamePage(address));
    }

    // The buttons were locked first and came back last.
    const auto events = window_->Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(window_->ButtonStates(),
              (std::vector<ButtonState>{ButtonState::LockedForUpdate, ButtonState::Restored}));
    EXPECT_TRUE(events.back().is_buttons);

    // No descriptor left behind: on the adapter's line only the port itself may stay open (the
    // failure and cancel ends reopen it), beside the test's guard and, while it is plugged, the
    // adapter's own end; and nothing at all once the port and the adapter are gone.
    const std::vector<std::string> open_now = OpenDescriptors();
    const auto on_line = std::count_if(open_now.begin(), open_now.end(), [&](const auto &target) {
        return target.rfind(device, 0) == 0;
    });
    EXPECT_EQ(on_line, (session.hComm > 0 ? 1 : 0) + 1 + (adapter.Plugged() ? 1 : 0))
        << "descriptors on " << device;
    ClosePort(session);
    close(guard_);
    guard_ = -1;
    adapter.Stop();
    EXPECT_EQ(OpenDescriptors().size(), descriptors_before);

    if (HasFailure()) {
        std::printf("---- log ----\n%s\n---- transcript ----\n%s\n", log.c_str(),
                    adapter.Transcript().c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Update, FaultMatrix, ::testing::ValuesIn(Rows()),
                         [](const auto &info) { return RowName(info.param); });

}  // namespace
}  // namespace tornelvox::testing
