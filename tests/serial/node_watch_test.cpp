// Notice of nodes coming and going in the device folders, with real folders and links: links
// made and removed, a folder that does not exist yet or is removed and made again, a burst of
// changes, and changes elsewhere that concern no watched folder.
#include "serial/node_watch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temporary_folder.h"

namespace tornelvox {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// Long enough for an event that is coming; a quiet wait costs this much.
constexpr milliseconds kEventWait{2000};
constexpr milliseconds kQuietWait{100};

class NodeWatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(root_.empty());
        fs::create_directories(root_ / "dev");
        fs::create_directories(root_ / "pts");
        Touch(root_ / "pts" / "7");
    }

    static void Touch(const fs::path &path) {
        const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0) << path;
        close(fd);
    }
    // A node as the emulator and udev make them: a link to the terminal.
    void Link(const fs::path &at) { fs::create_symlink(root_ / "pts" / "7", at); }

    // The events that waited are taken; the next wait starts quiet.
    void Drain(NodeWatch &watch) {
        while (watch.WaitForChange(milliseconds(20))) {
        }
    }

    // Waits for the descriptor to be readable, as an event loop does, and takes its changes.
    static bool TakeWhenReadable(NodeWatch &watch, std::vector<std::string> &gone) {
        pollfd readable{.fd = watch.Descriptor(), .events = POLLIN, .revents = 0};
        if (poll(&readable, 1, static_cast<int>(kEventWait.count())) <= 0) return false;
        return watch.TakeChanges(&gone);
    }

    testing::TemporaryFolder folder_{"tornelvox-watch"};
    const fs::path root_ = folder_.path();
};

TEST_F(NodeWatchTest, ALinkMadeOrRemovedIsAChangeAndRemovedOnesAreNamed) {
    NodeWatch watch;
    ASSERT_TRUE(watch.Watch({(root_ / "dev").string()}));
    ASSERT_GE(watch.Descriptor(), 0);
    EXPECT_FALSE(watch.WaitForChange(kQuietWait)) << "nothing happened yet";

    Link(root_ / "dev" / "cu.usbserial-1");
    EXPECT_TRUE(watch.WaitForChange(kEventWait));
    Drain(watch);

    fs::remove(root_ / "dev" / "cu.usbserial-1");
    ASSERT_TRUE(watch.WaitForChange(kEventWait));
    // Taken by the wait already: a remove seen through TakeChanges names the path.
    Link(root_ / "dev" / "cu.usbserial-2");
    Drain(watch);
    fs::rename(root_ / "dev" / "cu.usbserial-2", root_ / "pts" / "moved-away");
    fs::remove(root_ / "pts" / "7");  // not watched: no event of its own
    std::vector<std::string> gone;
    ASSERT_TRUE(TakeWhenReadable(watch, gone));
    EXPECT_EQ(gone, std::vector<std::string>{(root_ / "dev" / "cu.usbserial-2").string()});
}

TEST_F(NodeWatchTest, ChangesElsewhereAreNotReported) {
    NodeWatch watch;
    ASSERT_TRUE(watch.Watch({(root_ / "dev").string(), (root_ / "run" / "tornelvox").string()}));
    Touch(root_ / "pts" / "8");
    Touch(root_ / "other-file");  // in the folder above the missing one, but not on the way
    fs::create_directories(root_ / "dev" / "sub");
    Drain(watch);  // the subfolder itself is an entry of dev
    Touch(root_ / "dev" / "sub" / "deeper");
    EXPECT_FALSE(watch.WaitForChange(kQuietWait));
}

TEST_F(NodeWatchTest, AFolderThatAppearsLaterIsWatchedOnceItIsThere) {
    const fs::path runtime = root_ / "run" / "user" / "tornelvox";
    NodeWatch watch;
    ASSERT_TRUE(watch.Watch({runtime.string()}));
    ASSERT_GE(watch.Descriptor(), 0);

    // Made one folder at a time, as the demo mode makes its runtime folder: each step is seen.
    fs::create_directory(root_ / "run");
    EXPECT_TRUE(watch.WaitForChange(kEventWait));
    fs::create_directory(root_ / "run" / "user");
    EXPECT_TRUE(watch.WaitForChange(kEventWait));
    fs::create_directory(runtime);
    EXPECT_TRUE(watch.WaitForChange(kEventWait));
    Drain(watch);
    Link(runtime / "cu.usbserial-EMULATED");
    EXPECT_TRUE(watch.WaitForChange(kEventWait)) << "the link in the new folder";
}

TEST_F(NodeWatchTest, AFolderRemovedOrRenamedAndMadeAgainIsWatchedAgain) {
    const fs::path runtime = root_ / "run";
    fs::create_directory(runtime);
    NodeWatch watch;
    ASSERT_TRUE(watch.Watch({runtime.string()}));

    for (const bool rename : {false, true}) {
        SCOPED_TRACE(rename ? "renamed" : "removed");
        Link(runtime / "cu.usbserial-EMULATED");
        ASSERT_TRUE(watch.WaitForChange(kEventWait));
        if (rename) {
            fs::rename(runtime, root_ / "old-run");
        } else {
            fs::remove_all(runtime);
        }
        EXPECT_TRUE(watch.WaitForChange(kEventWait));
        Drain(watch);
        if (rename) {
            // The renamed folder is no longer the one watched.
            Link(root_ / "old-run" / "cu.usbserial-2");
            EXPECT_FALSE(watch.WaitForChange(kQuietWait));
            fs::remove_all(root_ / "old-run");
        }
        fs::create_directory(runtime);
        EXPECT_TRUE(watch.WaitForChange(kEventWait));
        Drain(watch);
    }
    Link(runtime / "cu.usbserial-3");
    EXPECT_TRUE(watch.WaitForChange(kEventWait));
}

// Removed and made again before the watch looked: the new folder is a new one to watch, though
// its path is the same.
TEST_F(NodeWatchTest, AFolderRemovedAndMadeAgainAtOnceIsWatchedAgain) {
    const fs::path runtime = root_ / "run";
    fs::create_directory(runtime);
    NodeWatch watch;
    ASSERT_TRUE(watch.Watch({runtime.string()}));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        fs::remove_all(runtime);
        fs::create_directory(runtime);
        EXPECT_TRUE(watch.WaitForChange(kEventWait));
        Drain(watch);
        Link(runtime / ("cu.usbserial-" + std::to_string(round)));
        EXPECT_TRUE(watch.WaitForChange(kEventWait)) << "a link in the folder made again";
    }
}

TEST_F(NodeWatchTest, ABurstIsTakenInAFewCallsThatNeverBlock) {
    NodeWatch watch;
    ASSERT_TRUE(watch.Watch({(root_ / "dev").string(), (root_ / "dev/").string()}));
    for (int i = 0; i < 2000; ++i) Link(root_ / "dev" / ("cu.usbserial-" + std::to_string(i)));
    for (int i = 0; i < 2000; ++i)
        fs::remove(root_ / "dev" / ("cu.usbserial-" + std::to_string(i)));

    const auto start = std::chrono::steady_clock::now();
    int calls = 0;
    std::vector<std::string> gone;
    while (watch.TakeChanges(&gone) && calls < 100) ++calls;
    const auto spent = std::chrono::steady_clock::now() - start;
    // 4000 events (twice, for the folder given twice) are read in a handful of calls; the first
    // call that finds nothing returns at once.
    EXPECT_GE(calls, 1);
    EXPECT_LT(calls, 10);
    EXPECT_LT(spent, milliseconds(1000));
    EXPECT_LE(gone.size(), kMostGonePerTake * static_cast<std::size_t>(calls));
    EXPECT_FALSE(watch.TakeChanges());
}

TEST(NodeWatch, WithoutFoldersNothingIsReportedAndNothingWaitsLonger) {
    NodeWatch watch;
    ASSERT_TRUE(watch.Watch({"", ""}));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(watch.WaitForChange(milliseconds(50)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1000));
}

}  // namespace
}  // namespace tornelvox
