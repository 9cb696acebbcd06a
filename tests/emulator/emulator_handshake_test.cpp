// Boot loader entry: an answered handshake against the recovery bursts, and the switches that
// make the boot loader hard to reach.
#include <gtest/gtest.h>

#include <thread>

#include "tests/emulator/emulator_fixture.h"

namespace tornelvox::emulator::testing {
namespace {

// The recovery as the utility sends it: 200 handshakes, the wake-up frame, 100 handshakes,
// each write followed by a 4 microsecond pause, then the handshake exchange.
void SendRecovery(SlavePort &port) {
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(port.Write(kHandshake));
        std::this_thread::sleep_for(std::chrono::microseconds(4));
    }
    ASSERT_TRUE(port.Write(kWakeUp));
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(port.Write(kHandshake));
        std::this_thread::sleep_for(std::chrono::microseconds(4));
    }
}

std::vector<int> Expected(int burst_before, int burst_after) {
    std::vector<int> codes(static_cast<std::size_t>(burst_before), kCodeBurstBeforeWake);
    codes.push_back(kCodeWakeUp);
    codes.insert(codes.end(), static_cast<std::size_t>(burst_after), kCodeBurstAfterWake);
    codes.push_back(kCodeHandshake);
    return codes;
}

TEST_F(EmulatorTest, LoneHandshakeIsAnsweredAndBurstsAreNot) {
    Begin();
    EXPECT_EQ(port->Exchange(kHandshake, 8).size(), 8u);
    adapter->ClearRecords();

    SendRecovery(*port);
    const Bytes reply = port->Exchange(kHandshake, 9);
    EXPECT_EQ(reply.size(), 8u) << "only the final handshake is answered";
    ASSERT_TRUE(adapter->WaitForFrames(kCodeHandshake, 1, kHandled));
    EXPECT_EQ(adapter->ReceivedCodes(), Expected(200, 100)) << adapter->Transcript();
    EXPECT_TRUE(adapter->UnexpectedBytes().empty());
}

TEST_F(EmulatorTest, HandshakeOnlyAfterRecoveryWaitsForWakeUpAndSecondBurst) {
    Begin({.handshake_only_after_recovery = true});
    EXPECT_TRUE(port->Exchange(kHandshake, 8, std::chrono::milliseconds(100)).empty());
    EXPECT_TRUE(port->Exchange(kHandshake, 8, std::chrono::milliseconds(100)).empty());
    SendRecovery(*port);
    EXPECT_EQ(port->Exchange(kHandshake, 8).size(), 8u) << adapter->Transcript();
    EXPECT_EQ(port->Exchange(kEnterBootLoader, 12).size(), 12u);
    EXPECT_TRUE(adapter->InBootLoader());
}

TEST_F(EmulatorTest, BootLoaderThatNeverAnswersKeepsTheAdapterOut) {
    Begin({.boot_loader_never_answers = true});
    EXPECT_EQ(port->Exchange(kProbe, 8).size(), 8u) << "the probe is still answered";
    EXPECT_TRUE(port->Exchange(kHandshake, 8, std::chrono::milliseconds(100)).empty());
    SendRecovery(*port);
    EXPECT_TRUE(port->Exchange(kHandshake, 8, std::chrono::milliseconds(100)).empty());
    EXPECT_TRUE(port->Exchange(kEnterBootLoader, 12, std::chrono::milliseconds(100)).empty());
    EXPECT_FALSE(adapter->InBootLoader());
}

TEST_F(EmulatorTest, BootLoaderIsEnteredOnlyAfterAnAnsweredHandshake) {
    Begin();
    EXPECT_TRUE(port->Exchange(kEnterBootLoader, 12, std::chrono::milliseconds(100)).empty());
    EXPECT_FALSE(adapter->InBootLoader());
    EXPECT_EQ(port->Exchange(kHandshake, 8).size(), 8u);
    EXPECT_EQ(port->Exchange(kEnterBootLoader, 12).size(), 12u);
    EXPECT_TRUE(adapter->InBootLoader());
    EXPECT_TRUE(port->Exchange(kVersionQuery, 33, std::chrono::milliseconds(100)).empty())
        << "the line-side firmware does not run in the boot loader";
}

}  // namespace
}  // namespace tornelvox::emulator::testing
