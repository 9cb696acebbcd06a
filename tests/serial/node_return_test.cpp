// Waiting for a node to come back at its path: woken by the node's arrival, by the stop
// descriptor, or by the limit; never later than the limit, whether the folder can be watched or
// not.
#include "serial/node_return.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "tests/support/temporary_folder.h"

namespace tornelvox {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

class NodeReturnTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(folder_.empty());
        target_ = folder_ / "pty";
        std::filesystem::create_directory(target_);  // anything a link can lead to
        stop_fd_ = eventfd(0, EFD_CLOEXEC);
        ASSERT_GE(stop_fd_, 0);
    }
    void TearDown() override {
        if (stop_fd_ >= 0) close(stop_fd_);
    }

    testing::TemporaryFolder temporary_{"tornelvox-node-return"};
    const std::filesystem::path folder_ = temporary_.path();
    std::filesystem::path target_;
    int stop_fd_ = -1;
};

struct ReturnCase {
    const char *name;
    const char *node;  // under the case's own folder
    // What happens 100 ms into the wait, given the case's folder, its node path, a target for
    // links and the stop descriptor.
    std::function<void(const std::filesystem::path &, const std::filesystem::path &,
                       const std::filesystem::path &, int)>
        meanwhile;
    NodeReturn expected;
};

TEST_F(NodeReturnTest, WakesForTheNodeTheStopOrTheLimit) {
    const auto link_node = [](const std::filesystem::path &, const std::filesystem::path &node,
                              const std::filesystem::path &target,
                              int) { std::filesystem::create_symlink(target, node); };
    const ReturnCase cases[] = {
        {"LinkAppears", "cu.usbserial-1", link_node, NodeReturn::kBack},
        // A folder that is not there cannot be watched: it is looked at again and again.
        {"FolderAppearsWithTheLink", "usb/cu.usbserial-1",
         [](const std::filesystem::path &folder, const std::filesystem::path &node,
            const std::filesystem::path &target, int) {
             std::filesystem::create_directory(folder / "usb");
             std::filesystem::create_symlink(target, node);
         },
         NodeReturn::kBack},
        // Another name arriving in the folder, and a link that leads nowhere, are not the node.
        {"OtherNamesOnly", "cu.usbserial-1",
         [](const std::filesystem::path &folder, const std::filesystem::path &node,
            const std::filesystem::path &target, int) {
             std::filesystem::create_symlink(target, folder / "cu.usbserial-2");
             std::filesystem::create_symlink(folder / "gone", node);
         },
         NodeReturn::kNotBack},
        {"Stopped", "cu.usbserial-1",
         [](const std::filesystem::path &, const std::filesystem::path &,
            const std::filesystem::path &, int stop) {
             const std::uint64_t one = 1;
             ASSERT_EQ(write(stop, &one, sizeof one), static_cast<ssize_t>(sizeof one));
         },
         NodeReturn::kStopped},
    };
    constexpr milliseconds kLimit{1500};
    for (const ReturnCase &row : cases) {
        SCOPED_TRACE(row.name);
        const std::filesystem::path folder = folder_ / row.name;
        std::filesystem::create_directory(folder);
        const std::filesystem::path node = folder / row.node;
        EXPECT_FALSE(NodePresent(node.string()));
        std::thread other([&] {
            std::this_thread::sleep_for(milliseconds(100));
            row.meanwhile(folder, node, target_, stop_fd_);
        });
        const Clock::time_point start = Clock::now();
        const NodeReturn got = WaitForNodeReturn(node.string(), stop_fd_, kLimit);
        std::uint64_t stops = 0;  // the stop is read here, so the next case starts without one
        if (got == NodeReturn::kStopped) {
            EXPECT_EQ(read(stop_fd_, &stops, sizeof stops), static_cast<ssize_t>(sizeof stops));
        }
        const auto took = Clock::now() - start;
        other.join();
        EXPECT_EQ(got, row.expected);
        EXPECT_LT(took, kLimit + milliseconds(500));
        if (row.expected == NodeReturn::kNotBack) {
            EXPECT_GE(took, kLimit);
        } else {
            EXPECT_LT(took, milliseconds(1000));  // woken by what happened, not at the limit
        }
    }
}

TEST_F(NodeReturnTest, ANodeAlreadyThereNeedsNoWait) {
    const std::filesystem::path node = folder_ / "cu.usbserial-1";
    std::filesystem::create_symlink(target_, node);
    EXPECT_TRUE(NodePresent(node.string()));
    EXPECT_EQ(WaitForNodeReturn(node.string(), -1, milliseconds(0)), NodeReturn::kBack);
    EXPECT_FALSE(NodePresent(""));
}

}  // namespace
}  // namespace tornelvox
