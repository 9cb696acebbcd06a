// Updates that never finished: one process is ended in the middle of an update (killed, closed
// as the window's Close does, or killed with the adapter's power lost), then a fresh process
// updates the same adapter, with the address backup present, absent or unwritable, and with
// each answer to the address question.
//
// On every row the adapter ends with its own address; with another only when the user chose
// the built-in one and the log said so; or, when no address was chosen, with nothing more
// erased.
//
// And adapters unplugged in the middle of one update: the same one plugged back in, another
// one at the same node, the same one at another node. No adapter ever gets another's address
// unasked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "emulator/emulated_adapter.h"
#include "firmware/firmware_update.h"
#include "tests/firmware/adapter_fixture.h"
#include "workflow/workflow.h"

extern char **environ;

namespace tornelvox::testing {
namespace {

namespace emu = tornelvox::emulator;
using std::chrono::seconds;

enum class Stage { kFirstErase, kLastErase, kImagePages, kNamePage, kVerify };
enum class End { kKill, kClose, kPowerLost };
enum class Backup { kPresent, kAbsent, kUnwritable };

struct InterruptCase {
    const char *name;
    Stage stage;
    End end;
    Backup backup;
    const char *answer;  // refuse, builtin or backup
    enum class Outcome { kOwnAddress, kBuiltInAddress, kNothingErased } outcome;
};

using Outcome = InterruptCase::Outcome;

void PrintTo(const InterruptCase &c, std::ostream *os) {
    *os << c.name;
}

class Process {
  public:
    Process(const std::string &device_dir, const std::string &answer, const std::string &output) {
        const std::string program = UPDATE_PROCESS_PATH;
        std::vector<std::string> words = {program, "--device-dir", device_dir, "--answer", answer};
        std::vector<char *> args;
        for (std::string &word : words) args.push_back(word.data());
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        started_ =
            posix_spawn(&pid_, program.c_str(), &actions, nullptr, args.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Process() {
        if (started_ && !reaped_) {
            kill(pid_, SIGKILL);
            Wait();
        }
    }
    bool Started() const { return started_; }
    void Signal(int signal) { kill(pid_, signal); }
    // Waits for the end (bounded by the test's own limits on the adapter); the exit status, or
    // -1 when the process ended by a signal.
    int Wait() {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
    bool started_ = false;
    bool reaped_ = false;
};

std::string ReadFile(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class InterruptedUpdate : public ::testing::TestWithParam<InterruptCase> {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("tornelvox-interrupted-" + std::to_string(getpid()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_ / "dev");
        std::filesystem::create_directories(folder_ / "state");
        setenv("XDG_STATE_HOME", (folder_ / "state").c_str(), 1);
    }
    void TearDown() override {
        if (adapter_) adapter_->Stop();
        std::filesystem::remove_all(folder_);
    }

    std::filesystem::path folder_;
    std::unique_ptr<emu::EmulatedAdapter> adapter_;
};

// Waits until the first process has reached the stage.
bool Reached(const emu::EmulatedAdapter &adapter, Stage stage) {
    switch (stage) {
        case Stage::kFirstErase:
            return adapter.WaitForFrames(kCmdEraseStep, 1, seconds(20));
        case Stage::kLastErase:
            return adapter.WaitForFrames(kCmdEraseStep, 30, seconds(20));
        case Stage::kImagePages:
            return adapter.WaitForFrames(kCmdWriteImagePage, 60, seconds(20));
        case Stage::kNamePage:
            return adapter.WaitForFrames(kCmdWriteNamePage, 1, seconds(20));
        case Stage::kVerify:
            return adapter.WaitForFrames(kCmdReadCheckValue, 1, seconds(20));
    }
    return false;
}

TEST_P(InterruptedUpdate, AdapterKeepsItsAddressOrTheOneTheUserChose) {
    const InterruptCase &c = GetParam();
    // Slow erasing, so that the process is ended where the row says. A frame cut off by the
    // process's end is dropped after a short silence, before the next process probes.
    adapter_ = std::make_unique<emu::EmulatedAdapter>(
        emu::AdapterConfig{.erase_delay_ms = 5, .partial_frame_timeout_ms = 50});
    ASSERT_TRUE(adapter_->Start());
    ASSERT_TRUE(adapter_->LinkAt((folder_ / "dev" / "cu.usbserial-1").string()));
    const auto own = emu::AdapterConfig{}.bt_address;
    if (c.backup == Backup::kUnwritable) {
        std::ofstream(folder_ / "blocked") << "a file where the state folder should be";
        setenv("XDG_STATE_HOME", (folder_ / "blocked").c_str(), 1);
    }

    {
        Process first((folder_ / "dev").string(), "refuse", (folder_ / "first.log").string());
        ASSERT_TRUE(first.Started());
        ASSERT_TRUE(Reached(*adapter_, c.stage)) << ReadFile(folder_ / "first.log");
        first.Signal(c.end == End::kClose ? SIGUSR1 : SIGKILL);
        const int status = first.Wait();
        EXPECT_EQ(status, c.end == End::kClose ? 0 : -1) << ReadFile(folder_ / "first.log");
    }
    if (c.end == End::kPowerLost) adapter_->PowerCycle();
    if (c.backup == Backup::kAbsent) std::filesystem::remove_all(folder_ / "state");
    const int erases_before = adapter_->CountOf(kCmdEraseStep);

    Process second((folder_ / "dev").string(), c.answer, (folder_ / "second.log").string());
    ASSERT_TRUE(second.Started());
    const int status = second.Wait();
    const std::string log = ReadFile(folder_ / "second.log");

    const auto name_page = adapter_->ReadFlash(kNamePageAddress, 6);
    const std::vector<std::uint8_t> own_bytes(own.begin(), own.end());
    const std::vector<std::uint8_t> built_in(kBuiltInBtAddress.begin(), kBuiltInBtAddress.end());
    switch (c.outcome) {
        case Outcome::kOwnAddress:
            EXPECT_EQ(status, 0) << log;
            EXPECT_EQ(name_page, own_bytes) << log;
            break;
        case Outcome::kBuiltInAddress:
            EXPECT_EQ(status, 0) << log;
            EXPECT_EQ(name_page, built_in) << log;
            EXPECT_NE(log.find("the adapter gets a new address, and phones paired with it must "
                               "pair again"),
                      std::string::npos)
                << log;
            break;
        case Outcome::kNothingErased:
            EXPECT_EQ(status, 3) << log;
            EXPECT_EQ(adapter_->CountOf(kCmdEraseStep), erases_before) << log;
            EXPECT_NE(name_page, built_in) << log;
            EXPECT_NE(log.find(" No BT address was chosen: nothing was erased.\n"),
                      std::string::npos)
                << log;
            break;
    }
    if (c.backup == Backup::kUnwritable) {
        const std::string first_log = ReadFile(folder_ / "first.log");
        EXPECT_NE(first_log.find(" Could not save the BT address backup ("), std::string::npos)
            << first_log;
    }
    if (c.outcome == Outcome::kNothingErased) {
        EXPECT_EQ(log.find("Success"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Update, InterruptedUpdate,
    ::testing::Values(
        // Killed before the name page was erased: it is read as ever.
        InterruptCase{"FirstErase_Kill", Stage::kFirstErase, End::kKill, Backup::kAbsent, "refuse",
                      Outcome::kOwnAddress},
        // Erased: only the backup knows the address.
        InterruptCase{"LastErase_Kill_Backup", Stage::kLastErase, End::kKill, Backup::kPresent,
                      "backup", Outcome::kOwnAddress},
        InterruptCase{"LastErase_Close_Backup", Stage::kLastErase, End::kClose, Backup::kPresent,
                      "backup", Outcome::kOwnAddress},
        InterruptCase{"LastErase_PowerLost_Backup", Stage::kLastErase, End::kPowerLost,
                      Backup::kPresent, "backup", Outcome::kOwnAddress},
        InterruptCase{"ImagePages_Kill_Backup", Stage::kImagePages, End::kKill, Backup::kPresent,
                      "backup", Outcome::kOwnAddress},
        InterruptCase{"ImagePages_Kill_BuiltIn", Stage::kImagePages, End::kKill, Backup::kPresent,
                      "builtin", Outcome::kBuiltInAddress},
        InterruptCase{"ImagePages_Kill_Refuse", Stage::kImagePages, End::kKill, Backup::kPresent,
                      "refuse", Outcome::kNothingErased},
        InterruptCase{"ImagePages_Close_NoBackup", Stage::kImagePages, End::kClose, Backup::kAbsent,
                      "backup", Outcome::kNothingErased},
        InterruptCase{"ImagePages_PowerLost_NoBackup_BuiltIn", Stage::kImagePages, End::kPowerLost,
                      Backup::kAbsent, "builtin", Outcome::kBuiltInAddress},
        InterruptCase{"ImagePages_Kill_Unwritable", Stage::kImagePages, End::kKill,
                      Backup::kUnwritable, "backup", Outcome::kNothingErased},
        InterruptCase{"ImagePages_Close_Unwritable_BuiltIn", Stage::kImagePages, End::kClose,
                      Backup::kUnwritable, "builtin", Outcome::kBuiltInAddress},
        // The name page was written before the end: it is read again.
        InterruptCase{"NamePage_Kill", Stage::kNamePage, End::kKill, Backup::kAbsent, "refuse",
                      Outcome::kOwnAddress},
        InterruptCase{"Verify_Close", Stage::kVerify, End::kClose, Backup::kPresent, "refuse",
                      Outcome::kOwnAddress}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- Unplugged in the middle of an update ----------------------------------------------------

using Address = std::array<std::uint8_t, 6>;
const Address kFirstAddress = emu::AdapterConfig{}.bt_address;            // 40:9E:21:5C:03:A7
constexpr Address kSecondAddress = {0x21, 0x43, 0x65, 0x87, 0xA9, 0xCB};  // CB:A9:87:65:43:21

enum class Unplugged { kAtFirstErase, kAtLastErase };  // its name page still there, or erased
enum class Next {
    kAnotherAdapter,  // a second adapter is plugged in and gets the same node
    kSameAdapter,     // the first one is plugged back in at the same node
    kSameElsewhere,   // the first one is plugged back in and gets another node
};
enum class Reply { kNone, kFirstCandidate };
enum class Ends {
    kNothingErased,  // the adapter now at the port got no erase; the update ends refused
    kOwnAddress,     // the adapter now at the port keeps its own address, the update succeeds
    kNotFollowed,    // the adapter at its new node got no frame; the update does not succeed
};

struct ReplugCase {
    const char *name;
    Unplugged when;
    Next next;
    const char *first_serial;   // the USB serial numbers; "" for a bridge without one
    const char *second_serial;  // of the second adapter
    bool second_has_page;
    Reply reply;
    std::optional<AddressQuestion::Kind> asked;  // the one question asked, if any
    Ends ends;
    int early_failures = 0;  // attempts that fail at their first erase before the unplug's
};

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

void PrintTo(const ReplugCase &c, std::ostream *os) {
    *os << c.name;
}

class ReplugDuringUpdate : public AdapterTest, public ::testing::WithParamInterface<ReplugCase> {
  protected:
    void SetUp() override {
        AdapterTest::SetUp();
        char folder[] = "/tmp/tvx-XXXXXX";  // short: the link's path must fit the port name
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        session.SysfsRoot = (folder_ / "sys").string();
    }
    void TearDown() override {
        if (second_) second_->Stop();
        if (first_) first_->Stop();
        AdapterTest::TearDown();
        std::filesystem::remove_all(folder_);
    }

    std::filesystem::path folder_;
    std::unique_ptr<emu::EmulatedAdapter> first_;
    std::unique_ptr<emu::EmulatedAdapter> second_;
};

TEST_P(ReplugDuringUpdate, NoAdapterGetsAnotherAdaptersAddressUnasked) {
    const ReplugCase &c = GetParam();
    const std::string link = (folder_ / "cu.usbserial-1").string();
    first_ =
        std::make_unique<emu::EmulatedAdapter>(emu::AdapterConfig{.usb_serial = c.first_serial});
    second_ = std::make_unique<emu::EmulatedAdapter>(
        emu::AdapterConfig{.bt_address = kSecondAddress,
                           .name_page_stored = c.second_has_page,
                           .usb_serial = c.second_serial});
    ASSERT_TRUE(first_->Start());
    ASSERT_TRUE(first_->ListInDeviceTree(session.SysfsRoot));
    ASSERT_TRUE(first_->LinkAt(link));
    std::snprintf(session.ComPortName, sizeof session.ComPortName, "%s", link.c_str());
    ASSERT_TRUE(InitPort(session));
    ASSERT_EQ(CheckFMVersion(session), 1);
    window_->Clear();
    if (c.early_failures > 0) {
        first_->AddFault({.code = kCmdEraseStep,
                          .kind = emu::FaultKind::kOneByteReply,
                          .times = c.early_failures});
    }
    first_->AddFault({.code = kCmdEraseStep,
                      .kind = emu::FaultKind::kUnplug,
                      .skip = c.early_failures + (c.when == Unplugged::kAtFirstErase ? 0 : 29)});
    if (c.next == Next::kAnotherAdapter) {
        ASSERT_TRUE(second_->Start());
        ASSERT_TRUE(second_->ListInDeviceTree(session.SysfsRoot));
        first_->PlugInAfterUnplug(*second_);
    }
    // The first adapter comes back during the pause after the attempt it was unplugged in. A
    // device back at the node is said at once, while the pause still runs, and sends nothing.
    const std::string back =
        " A device is back at " + link + "; the next attempt checks that it is the same adapter.\n";
    bool replugged = false;
    bool said_in_pause = false;
    session.RetryPause = [&](unsigned) {
        if (c.next == Next::kAnotherAdapter || replugged) return;
        replugged = true;
        first_->ClearRecords();
        EXPECT_TRUE(first_->Replug(
            c.next == Next::kSameElsewhere ? (folder_ / "cu.usbserial-2").string() : ""));
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!said_in_pause && std::chrono::steady_clock::now() < limit) {
            said_in_pause = Contains(Log(), back);
            if (!said_in_pause) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_TRUE(first_->ReceivedCodes().empty()) << first_->Transcript();
    };
    window_->AnswerAddressQuestions([&c](const AddressQuestion &) {
        return c.reply == Reply::kNone ? AddressAnswer{}
                                       : AddressAnswer{AddressAnswer::Kind::kCandidate, 0};
    });

    ASSERT_TRUE(RunUpdate());

    const std::string log = Log();
    // Only a node that was gone and came back is said to be back: not one another adapter took
    // over at once, nor one that stayed gone.
    const bool back_at_node = c.next == Next::kSameAdapter;
    EXPECT_EQ(said_in_pause, back_at_node) << log;
    std::size_t back_said = 0;
    for (std::size_t at = log.find(back); at != std::string::npos; at = log.find(back, at + 1)) {
        ++back_said;
    }
    EXPECT_EQ(back_said, back_at_node ? 1u : 0u) << log;
    const auto questions = window_->Questions();
    EXPECT_EQ(questions.size(), c.asked ? 1u : 0u) << log;
    if (c.asked && questions.size() == 1) {
        EXPECT_EQ(questions[0].kind, *c.asked) << log;
        ASSERT_FALSE(questions[0].candidates.empty());
        const bool own_first = c.next == Next::kAnotherAdapter && c.second_has_page;
        EXPECT_EQ(questions[0].candidates[0].address, own_first ? kSecondAddress : kFirstAddress);
        for (const AddressCandidate &candidate : questions[0].candidates) {
            EXPECT_FALSE(candidate.same_usb_device) << "nothing is chosen in advance";
        }
    }
    emu::EmulatedAdapter &now = c.next == Next::kAnotherAdapter ? *second_ : *first_;
    const Address own = c.next == Next::kAnotherAdapter ? kSecondAddress : kFirstAddress;
    const auto page = now.ReadFlash(kNamePageAddress, 6);
    switch (c.ends) {
        case Ends::kNothingErased:
            EXPECT_EQ(session.LastUpdateEnd.load(), UpdateEnd::kRefused) << log;
            EXPECT_EQ(now.CountOf(kCmdEraseStep), 0) << log;
            EXPECT_TRUE(Contains(log, " No BT address was chosen: nothing was erased.\n")) << log;
            if (c.second_has_page) {
                EXPECT_EQ(page, std::vector<std::uint8_t>(own.begin(), own.end())) << log;
            }
            break;
        case Ends::kOwnAddress:
            EXPECT_EQ(session.LastUpdateEnd.load(), UpdateEnd::kSuccess) << log;
            EXPECT_EQ(page, std::vector<std::uint8_t>(own.begin(), own.end())) << log;
            break;
        case Ends::kNotFollowed:
            EXPECT_NE(session.LastUpdateEnd.load(), UpdateEnd::kSuccess) << log;
            EXPECT_TRUE(first_->ReceivedCodes().empty()) << first_->Transcript();
            break;
    }
    if (c.asked == AddressQuestion::Kind::kAnotherAdapter) {
        EXPECT_TRUE(Contains(log, " Another adapter is at " + link + " now: ")) << log;
        if (c.second_has_page) {
            EXPECT_TRUE(Contains(log,
                                 "now: its BT address is CB:A9:87:65:43:21; the adapter this "
                                 "update began with has 40:9E:21:5C:03:A7."))
                << log;
        }
    }
    // Every address read went to the backup as it was read.
    std::vector<BtAddress> saved;
    for (const AddressRecord &record : Backup()) saved.push_back(record.address);
    EXPECT_NE(std::find(saved.begin(), saved.end(), kFirstAddress), saved.end());
    if (c.next == Next::kAnotherAdapter && c.second_has_page) {
        EXPECT_NE(std::find(saved.begin(), saved.end(), kSecondAddress), saved.end()) << log;
    }
}

using Kind = AddressQuestion::Kind;

INSTANTIATE_TEST_SUITE_P(
    Update, ReplugDuringUpdate,
    ::testing::Values(
        // Another adapter at the same node, with its own name page: found by its page, or by its
        // serial number; asked with its own address first; nothing erased without an answer.
        ReplugCase{"AnotherAdapter_NoSerial", Unplugged::kAtFirstErase, Next::kAnotherAdapter, "",
                   "", true, Reply::kNone, Kind::kAnotherAdapter, Ends::kNothingErased},
        ReplugCase{"AnotherAdapter_Serial", Unplugged::kAtLastErase, Next::kAnotherAdapter, "FT1A",
                   "FT2B", true, Reply::kNone, Kind::kAnotherAdapter, Ends::kNothingErased},
        ReplugCase{"AnotherAdapter_Serial_KeepsItsOwn", Unplugged::kAtFirstErase,
                   Next::kAnotherAdapter, "FT1A", "FT2B", true, Reply::kFirstCandidate,
                   Kind::kAnotherAdapter, Ends::kOwnAddress},
        // Another adapter without a name page: its serial number tells; without one nothing
        // does, and the update asks.
        ReplugCase{"AnotherAdapter_Serial_NoPage", Unplugged::kAtLastErase, Next::kAnotherAdapter,
                   "FT1A", "FT2B", false, Reply::kNone, Kind::kAnotherAdapter,
                   Ends::kNothingErased},
        ReplugCase{"AnotherAdapter_NoSerial_NoPage", Unplugged::kAtLastErase, Next::kAnotherAdapter,
                   "", "", false, Reply::kNone, Kind::kAdapterMayDiffer, Ends::kNothingErased},
        // The same adapter plugged back in: its serial number or its name page says so; with
        // neither the update asks, offering its address from before the unplug.
        ReplugCase{"SameAdapter_Serial", Unplugged::kAtLastErase, Next::kSameAdapter, "FT1A", "",
                   true, Reply::kNone, std::nullopt, Ends::kOwnAddress},
        ReplugCase{"SameAdapter_NoSerial_PageKept", Unplugged::kAtFirstErase, Next::kSameAdapter,
                   "", "", true, Reply::kNone, std::nullopt, Ends::kOwnAddress},
        ReplugCase{"SameAdapter_NoSerial_PageErased", Unplugged::kAtLastErase, Next::kSameAdapter,
                   "", "", true, Reply::kFirstCandidate, Kind::kAdapterMayDiffer,
                   Ends::kOwnAddress},
        // Unplugged in the sixth attempt, after which attempts write the address held without
        // reading the name page: the seventh reads it again, and finds another adapter.
        ReplugCase{"AnotherAdapter_InTheSixthAttempt", Unplugged::kAtFirstErase,
                   Next::kAnotherAdapter, "", "", true, Reply::kNone, Kind::kAnotherAdapter,
                   Ends::kNothingErased, 5},
        // Plugged back in at another node: never followed there.
        ReplugCase{"Renumbered_Serial", Unplugged::kAtLastErase, Next::kSameElsewhere, "FT1A", "",
                   true, Reply::kNone, std::nullopt, Ends::kNotFollowed}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tornelvox::testing
