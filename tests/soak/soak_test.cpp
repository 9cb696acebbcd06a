// A hundred rounds of what a user does with the utility, against a freshly plugged emulated
// adapter each round: Check (search, open, version), Update, and Setting with two changed
// settings, under random faults drawn from a fixed seed. Every fault drawn is one the flows
// recover from or end cleanly on. Each round must keep the invariants of the update and the
// settings apply; across rounds, open descriptors must stay exactly where they began, threads
// must not pile up, and the resident set must stop growing after the warm-up rounds.
//
// Not part of the default test run (it takes about half a minute); the test script runs it.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <semaphore>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "emulator/emulated_adapter.h"
#include "emulator/fault_plan.h"
#include "firmware/firmware_update.h"
#include "serial/serial_link.h"
#include "settings/device_settings.h"
#include "tests/support/recording_window.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {
namespace {

namespace emu = tornelvox::emulator;
using emu::FaultKind;
using emu::FaultRule;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int kRounds = 100;
constexpr int kWarmUpRounds = 5;
constexpr std::uint32_t kSeed = 0x7E5A11;
constexpr int kReadCallMs = 5;
constexpr int kMaxUpdateFaults = 3;
// Longest an update may take under the faults drawn: ten attempts, the slowest of which wait
// out silent verify exchanges (2 x 100 read calls).
constexpr auto kUpdateBound = seconds(20);
constexpr auto kSettingsBound = seconds(10);
// Growth of the resident set allowed in the second half of the rounds over the highest it was
// in the first half after the warm-up. A round allocates a few MiB (the adapter's flash, its
// records of some hundred 4 KiB frames) and frees them; the allocator keeps some of that, up
// to what the heaviest round so far needed, so the resident set moves in steps rather than
// staying flat. Anything that stays behind in every round adds up over fifty rounds: 4 MiB
// catches about 80 KiB a round.
constexpr long kRssToleranceKiB = 4096;
// A settings worker posts its last change and lets go of the window just before its thread
// ends, so a round may end with it still on its way out; threads that stay would add up. The
// count is compared with the one after the warm-up, when every helper thread the runtime
// starts on its own is there.
constexpr int kThreadTolerance = 1;

const std::string kSuccessLines = "\n            Success                           \n\n";
const std::string kFailureLines =
    "\n          WARMING !!! FAILED !!!                      \n"
    "  Please remove the device then plug-in and try again.  \n\n";
const std::string kSettingsDone = "\n Set Device parameters done. \n\n";
const std::string kSettingsWarning = "\n WARMING: Set Device error. Please try again\n\n";

// Entries of a /proc/self directory, "." and ".." not counted.
int EntryCount(const char *path) {
    int count = 0;
    DIR *listing = opendir(path);
    if (listing == nullptr) return -1;
    while (const dirent *entry = readdir(listing)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(listing);
    return count;
}

int OpenDescriptorCount() {
    return EntryCount("/proc/self/fd") - 1;  // the listing's own descriptor
}

int ThreadCount() {
    return EntryCount("/proc/self/task");
}

int FailureCount() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A place where faults can strike, and the number of matching frames to pass first.
struct Site {
    int code;
    int max_skip;
};

// Frames of the Check (the search's probe and reset request, the version query), of the update
// (boot loader entry to reboot) and of the settings (reads, writes). Image page writes pick
// their page instead of a skip count.
constexpr Site kCheckSites[] = {
    {kCmdProbe, 3}, {kCmdResetFirst, 3}, {kCmdResetSecond, 3}, {kCmdQueryVersion, 1}};
constexpr Site kUpdateSites[] = {
    {kCmdProbe, 1},          {kCmdHandshake, 1},        {kCmdEnterBootLoader, 1},
    {kCmdReadPage, 1},       {kCmdWriteEnableFirst, 2}, {kCmdWriteEnableSecond, 1},
    {kCmdEraseStep, 29},     {kCmdWriteImagePage, 0},   {kCmdWriteNamePage, 1},
    {kCmdReadCheckValue, 1}, {kCmdResetFirst, 1},       {kCmdResetSecond, 1}};
constexpr Site kSettingsSites[] = {{kCmdReadSetting, 15}, {kCmdWriteSetting, 1}};

int Pick(std::mt19937 &rng, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
}

FaultRule RandomFault(std::mt19937 &rng, std::span<const Site> sites) {
    const Site &site =
        sites[static_cast<std::size_t>(Pick(rng, 0, static_cast<int>(sites.size()) - 1))];
    FaultRule rule{.code = site.code, .skip = Pick(rng, 0, site.max_skip)};
    if (site.code == kCmdWriteImagePage) rule.page = Pick(rng, 0, kImagePages - 1);

    std::vector<FaultKind> kinds = {FaultKind::kSilence,      FaultKind::kShortReply,
                                    FaultKind::kOneByteReply, FaultKind::kGarbage,
                                    FaultKind::kLateReply,    FaultKind::kSplitReply,
                                    FaultKind::kExtraBytes};
    if (site.code == kCmdReadCheckValue) kinds.push_back(FaultKind::kWrongCheckValue);
    if (site.code == kCmdWriteImagePage || site.code == kCmdWriteNamePage)
        kinds.push_back(FaultKind::kPageWriteFails);
    if (site.code == kCmdReadSetting || site.code == kCmdWriteSetting)
        kinds.push_back(FaultKind::kLeadingNoise);
    if (site.code == kCmdReadSetting) kinds.push_back(FaultKind::kOutOfRangeNumber);
    // An unplug ends the round's flows for good: rarely.
    rule.kind = Pick(rng, 0, 49) == 0 ? FaultKind::kUnplug
                                      : kinds[Pick(rng, 0, static_cast<int>(kinds.size()) - 1)];
    switch (rule.kind) {
        case FaultKind::kSilence:
        case FaultKind::kWrongCheckValue:
        case FaultKind::kPageWriteFails:
            rule.times = Pick(rng, 1, 2);
            break;
        case FaultKind::kShortReply:
            rule.bytes = static_cast<std::size_t>(Pick(rng, 2, 6));
            break;
        case FaultKind::kLateReply:
            // Mostly within the exchange's wait of ten read calls, sometimes beyond it.
            rule.delay_ms = Pick(rng, 0, 3) == 0 ? 12 * kReadCallMs : Pick(rng, 1, 6) * kReadCallMs;
            break;
        case FaultKind::kSplitReply:
            rule.bytes = static_cast<std::size_t>(Pick(rng, 1, 8));
            rule.delay_ms = Pick(rng, 0, 2);
            break;
        case FaultKind::kExtraBytes:
        case FaultKind::kLeadingNoise:
            rule.bytes = static_cast<std::size_t>(Pick(rng, 1, 4));
            break;
        case FaultKind::kOutOfRangeNumber:
            rule.value = static_cast<std::uint32_t>(Pick(rng, 11, 300));
            break;
        default:
            break;
    }
    return rule;
}

std::string Describe(const FaultRule &rule) {
    std::string text = std::string(emu::FaultName(rule.kind)) + "@" + std::to_string(rule.code);
    if (rule.page >= 0) text += "p" + std::to_string(rule.page);
    if (rule.skip > 0) text += "+" + std::to_string(rule.skip);
    if (rule.times != 1) text += "x" + std::to_string(rule.times);
    return text;
}

enum class UpdateEnd { kSuccess, kFailure, kCancel };

const char *Name(UpdateEnd end) {
    switch (end) {
        case UpdateEnd::kSuccess:
            return "success";
        case UpdateEnd::kFailure:
            return "failure";
        case UpdateEnd::kCancel:
            return "cancel";
    }
    return "?";
}

class Soak : public ::testing::Test {
  protected:
    // One session for all the rounds, as one run of the program has.
    void SetUp() override {
        session_ = std::make_shared<AdapterSession>();
        session_->ReadCallTimeoutMs.store(kReadCallMs);
        session_->RetryPause = [this](unsigned) {
            ++pauses_;
            // The user clicks Cancel in this pause: its first step clears the run flag.
            if (cancel_in_pause_) session_->ThreadRunning.store(false);
        };
        char pattern[] = "/tmp/tornelvox-soakXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        setenv("XDG_STATE_HOME", (folder_ + "/state").c_str(), 1);  // never the user's backups
        session_->DeviceDirectory = folder_;
    }

    void TearDown() override {
        ClosePort(*session_);
        std::filesystem::remove_all(folder_);
    }

    std::shared_ptr<AdapterSession> session_;
    std::string folder_;
    int pauses_ = 0;
    bool cancel_in_pause_ = false;
};

TEST_F(Soak, RoundsOfCheckUpdateAndSettingKeepDescriptorsAndMemory) {
    AdapterSession &session = *session_;
    std::mt19937 rng(kSeed);
    const auto soak_started = std::chrono::steady_clock::now();
    const int descriptors_before = OpenDescriptorCount();
    const int threads_before = ThreadCount();
    int threads_after_warm_up = 0;
    long rss_first = 0;
    long rss_after_warm_up = 0;
    long rss_first_half_peak = 0;
    long rss_second_half_peak = 0;
    long rss_previous = 0;
    long rss_largest_step = 0;
    std::map<std::string, int> outcomes;

    std::printf(
        "round  faults  check    update   settings  fds  threads  rss_KiB   ms  faults drawn\n");
    for (int round = 1; round <= kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const int failures_before = FailureCount();
        const auto round_started = std::chrono::steady_clock::now();

        // A freshly plugged adapter with an address of its own.
        emu::AdapterConfig config;
        for (auto &byte : config.bt_address) byte = static_cast<std::uint8_t>(Pick(rng, 0, 255));
        auto adapter = std::make_unique<emu::EmulatedAdapter>(config);
        ASSERT_TRUE(adapter->Start());
        ASSERT_TRUE(adapter->LinkAt(folder_ + "/cu.usbserial-soak"));
        // Now and then a fault in the Check and in the settings, up to three in the update.
        std::vector<FaultRule> faults;
        if (Pick(rng, 0, 2) == 0) faults.push_back(RandomFault(rng, kCheckSites));
        for (int n = Pick(rng, 0, kMaxUpdateFaults); n > 0; --n) {
            faults.push_back(RandomFault(rng, kUpdateSites));
        }
        if (Pick(rng, 0, 1) == 0) faults.push_back(RandomFault(rng, kSettingsSites));
        std::string drawn;
        for (const FaultRule &rule : faults) {
            adapter->AddFault(rule);
            drawn += Describe(rule) + " ";
        }
        cancel_in_pause_ = Pick(rng, 0, 19) == 0;
        pauses_ = 0;

        // One window for the round; the round waits until the last worker has let go of it, so
        // that its message sink never outlives the round.
        std::binary_semaphore window_gone{0};
        std::shared_ptr<RecordingWindow> window(new RecordingWindow, [&](RecordingWindow *w) {
            delete w;
            window_gone.release();
        });
        window->InstallAsMessageSink(session);

        // Check.
        std::string check = "absent";
        if (SearchCOMM(session)) {
            InitPort(session);
            bool version_read = false;
            for (int attempt = 0; attempt < 3 && !version_read; ++attempt) {
                version_read = CheckFMVersion(session) != 0;
            }
            check = version_read ? "found" : "noversion";
        }

        // Update, and Setting after it; the main window offers neither when the search found
        // nothing.
        std::string update_name = "skipped";
        std::string settings = "skipped";
        if (check != "absent") {
            const unsigned ended = UpdateWorkersEnded(session);
            StartUpdateWorker(session_, window);
            ASSERT_TRUE(WaitForUpdateWorkersEnded(session, ended + 1, kUpdateBound))
                << "the update worker hangs\n"
                << window->Log() << adapter->Transcript();
            const std::string update_log = window->Log();
            UpdateEnd update = UpdateEnd::kCancel;
            if (update_log.find(kSuccessLines) != std::string::npos) update = UpdateEnd::kSuccess;
            if (update_log.find(kFailureLines) != std::string::npos) update = UpdateEnd::kFailure;
            EXPECT_EQ(update == UpdateEnd::kCancel, cancel_in_pause_ && pauses_ > 0) << update_log;
            EXPECT_EQ(
                window->ButtonStates(),
                (std::vector<ButtonState>{ButtonState::LockedForUpdate, ButtonState::Restored}));
            EXPECT_FALSE(session.ThreadRunning.load());
            if (update == UpdateEnd::kSuccess) {
                const std::vector<std::uint8_t> image = adapter->ReadFlash(0, kImageSize);
                EXPECT_TRUE(std::equal(image.begin(), image.end(), rawData))
                    << "success reported without the image\n"
                    << update_log << adapter->Transcript();
                EXPECT_EQ(adapter->CheckValue(),
                          static_cast<std::uint32_t>(FW_CRC[0] | FW_CRC[1] << 8 | FW_CRC[2] << 16 |
                                                     FW_CRC[3] << 24));
            }
            // Once this update has read the adapter's address, every name page carries it.
            if (update_log.find("\t Device BT address : ") != std::string::npos) {
                for (const emu::FrameRecord &record : adapter->Frames()) {
                    if (record.kind != emu::RecordKind::kFrame || record.code != kCmdWriteNamePage)
                        continue;
                    ASSERT_GE(record.bytes.size(), 18u);
                    EXPECT_TRUE(std::equal(config.bt_address.begin(), config.bt_address.end(),
                                           record.bytes.begin() + 12))
                        << "a name page with another address\n"
                        << adapter->Transcript();
                }
            }

            update_name = Name(update);

            // Setting: the dialog turns strong ringing over, moves hook speed one level on and
            // confirms.
            settings = "refused";
            unsigned char strong_ring = 0;
            int hook_speed = 0;
            window->OnDialog([&session, &strong_ring, &hook_speed] {
                CopyDeviceToApplied(session);
                session.a_strong_ring = session.m_strong_ring ? 0 : 1;
                session.a_hook_speed_index = (session.m_hook_speed_index + 1) % 4;
                strong_ring = session.a_strong_ring;
                hook_speed = session.a_hook_speed_index;
                GateAppliedValues(session, session.CurVerNum);
                ClearDeviceSettingRunning(session);
            });
            const std::size_t posts_before = window->ButtonStates().size();
            if (StartDeviceSetting(session_, window)) {
                ASSERT_TRUE(window->WaitForButtons(posts_before + 2, kSettingsBound))
                    << "the settings worker hangs\n"
                    << window->Log();
                EXPECT_TRUE(window->Events().back().is_buttons);
                EXPECT_EQ(window->ButtonStates().back(), ButtonState::Restored);
                settings = "warning";
                if (window->Log().ends_with(kSettingsDone)) {
                    settings = "done";
                    // Writes reported done are held by the adapter (hook speed in its own terms
                    // of 3, 5, 7 and 10 ms tens).
                    constexpr std::uint32_t kHookSpeeds[] = {3, 5, 7, 10};
                    EXPECT_EQ(adapter->Setting(2), strong_ring);
                    EXPECT_EQ(adapter->Setting(4), kHookSpeeds[hook_speed]);
                } else {
                    EXPECT_TRUE(window->Log().ends_with(kSettingsWarning)) << window->Log();
                }
            }
        }

        // The round ends as a user's does: the adapter is pulled out.
        window.reset();
        ASSERT_TRUE(window_gone.try_acquire_for(seconds(5))) << "a worker still holds the window";
        ClosePort(session);
        adapter->Stop();
        if (FailureCount() > failures_before) {
            std::printf("---- faults: %s\n---- transcript ----\n%s\n", drawn.c_str(),
                        adapter->Transcript().c_str());
        }
        adapter.reset();

        const int descriptors = OpenDescriptorCount();
        const long rss = ResidentKiB();
        const int threads = ThreadCount();
        EXPECT_EQ(descriptors, descriptors_before) << "descriptors left open";
        if (round == 1) rss_first = rss;
        if (round == kWarmUpRounds) {
            rss_after_warm_up = rss;
            threads_after_warm_up = threads;
        }
        if (round > kWarmUpRounds) {
            EXPECT_LE(threads, threads_after_warm_up + kThreadTolerance) << "threads left running";
            rss_largest_step = std::max(rss_largest_step, rss - rss_previous);
        }
        if (round > kWarmUpRounds && round <= kRounds / 2) {
            rss_first_half_peak = std::max(rss_first_half_peak, rss);
        }
        if (round > kRounds / 2) {
            rss_second_half_peak = std::max(rss_second_half_peak, rss);
            EXPECT_LE(rss, rss_first_half_peak + kRssToleranceKiB) << "resident set grows";
        }
        rss_previous = rss;
        ++outcomes["check " + check];
        ++outcomes["update " + update_name];
        ++outcomes["settings " + settings];
        const auto took = std::chrono::duration_cast<milliseconds>(
            std::chrono::steady_clock::now() - round_started);
        std::printf("%5d  %6zu  %-9s %-8s %-9s %3d  %7d  %7ld %5lld  %s\n", round, faults.size(),
                    check.c_str(), update_name.c_str(), settings.c_str(), descriptors, threads, rss,
                    static_cast<long long>(took.count()), drawn.c_str());
        std::fflush(stdout);
    }

    const auto total =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - soak_started);
    std::printf("\nrounds %d, seed %u, %.1f s\n", kRounds, kSeed, total.count() / 1000.0);
    for (const auto &[outcome, count] : outcomes)
        std::printf("  %-20s %3d\n", outcome.c_str(), count);
    std::printf("descriptors: %d before, %d after the last round; threads: %d before, %d after\n",
                descriptors_before, OpenDescriptorCount(), threads_before, ThreadCount());
    std::printf(
        "resident set: first round %ld KiB, after warm-up (round %d) %ld KiB, highest in rounds "
        "%d-%d %ld KiB, highest in rounds %d-%d %ld KiB (tolerance %ld KiB), last %ld KiB, "
        "largest rise from one round to the next %ld KiB\n",
        rss_first, kWarmUpRounds, rss_after_warm_up, kWarmUpRounds + 1, kRounds / 2,
        rss_first_half_peak, kRounds / 2 + 1, kRounds, rss_second_half_peak, kRssToleranceKiB,
        rss_previous, rss_largest_step);
}

}  // namespace
}  // namespace tornelvox::testing
