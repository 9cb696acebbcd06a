// A test fixture whose port is the utility's real port, opened in a fresh session on a byte-exact
// scripted peer, with short read calls so that silent exchanges cost little.
#pragma once

#include <gtest/gtest.h>

#include "serial/serial_link.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_constants.h"

namespace tornelvox::testing {

class PeerPortTest : public ::testing::Test {
  protected:
    void SetUp() override { session.ReadCallTimeoutMs = kShortReadCallMs; }
    // Opens the port on the peer in raw mode at 115,200 baud.
    void Open() {
        ASSERT_TRUE(OpenPort(session, peer.Path().c_str()));
        ASSERT_TRUE(SetParameters(session, 115200));
    }
    ScriptedPeer peer;
    // Made after the peer and so ended before it: the session closes its port first.
    LinkSession session;
};

}  // namespace tornelvox::testing
