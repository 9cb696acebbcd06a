// A test fixture whose port is the utility's real port, opened on a byte-exact scripted peer,
// with short read calls so that silent exchanges cost little.
#pragma once

#include <gtest/gtest.h>

#include "serial/serial_link.h"
#include "tests/support/process_state.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_constants.h"

namespace tornelvox::testing {

class PeerPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetProcessState();
        ReadCallTimeoutMs = kShortReadCallMs;
    }
    void TearDown() override { ResetProcessState(); }
    // Opens the port on the peer in raw mode at 115,200 baud.
    void Open() {
        ASSERT_TRUE(OpenPort(peer.Path().c_str()));
        ASSERT_TRUE(SetParameters(115200));
    }
    ScriptedPeer peer;
};

}  // namespace tornelvox::testing
