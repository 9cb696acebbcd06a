// A started emulator and a raw port on its slave side, for the emulator's own tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "emulator/emulated_adapter.h"
#include "emulator/frame_catalogue.h"
#include "tests/emulator/slave_port.h"
#include "tests/support/test_constants.h"

namespace tornelvox::emulator::testing {

using tornelvox::testing::kCurrentVersion;
using tornelvox::testing::kOlderVersion;

inline constexpr std::chrono::milliseconds kHandled{2000};

class EmulatorTest : public ::testing::Test {
  protected:
    void Begin(AdapterConfig config = {}) {
        adapter = std::make_unique<EmulatedAdapter>(config);
        ASSERT_TRUE(adapter->Start());
        port = std::make_unique<SlavePort>(adapter->DevicePath());
        ASSERT_TRUE(port->IsOpen());
    }

    // Commands 1, 2, 6 as the utility sends them; the adapter is then in its boot loader.
    void EnterBootLoader() {
        ASSERT_EQ(port->Exchange(kProbe, 8).size(), 8u) << adapter->Transcript();
        ASSERT_EQ(port->Exchange(kHandshake, 8).size(), 8u) << adapter->Transcript();
        ASSERT_EQ(port->Exchange(kEnterBootLoader, 12).size(), 12u) << adapter->Transcript();
        ASSERT_TRUE(adapter->InBootLoader());
    }

    std::unique_ptr<EmulatedAdapter> adapter;
    std::unique_ptr<SlavePort> port;
};

}  // namespace tornelvox::emulator::testing
