// A fixture that puts an emulated adapter behind the port of a fresh adapter session for each
// test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "emulator/emulated_adapter.h"
#include "firmware/address_backup.h"
#include "firmware/firmware_update.h"
#include "tests/support/recording_window.h"
#include "tests/support/test_constants.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {

namespace emu = tornelvox::emulator;

class AdapterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        session.CurVerNum = kOlderVersion;
        // Short read calls keep the silent exchanges of the fault cases cheap; every reply of
        // the unpaced emulator arrives far within them.
        session.ReadCallTimeoutMs.store(kShortReadCallMs);
        session.RetryPause = [this](unsigned seconds) { pauses_.push_back(seconds); };
        window_ = std::make_shared<RecordingWindow>(session);
        // Every test keeps its address backups in a folder of its own.
        state_home_ = std::filesystem::temp_directory_path() /
                      ("tornelvox-state-" + std::to_string(getpid()) + "-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(state_home_);
        std::filesystem::create_directories(state_home_);
        setenv("XDG_STATE_HOME", state_home_.c_str(), 1);
    }

    void TearDown() override {
        ClosePort(session);
        if (adapter_) adapter_->Stop();
        std::error_code ignored;
        std::filesystem::remove_all(state_home_, ignored);
    }

    // Starts the emulated adapter and points the utility's port at it, then asks its version
    // as a Check would (so the utility knows the adapter and its version) and forgets that
    // exchange's frames and log lines. With query_version false, the version stays unknown.
    emu::EmulatedAdapter &StartAdapter(emu::AdapterConfig config = {}, bool query_version = true) {
        adapter_ = std::make_unique<emu::EmulatedAdapter>(config);
        EXPECT_TRUE(adapter_->Start());
        std::snprintf(session.ComPortName, sizeof session.ComPortName, "%s",
                      adapter_->DevicePath().c_str());
        EXPECT_TRUE(InitPort(session));
        session.QueriedAdapter = {};
        if (query_version) {
            CheckFMVersion(session);
            adapter_->ClearRecords();
            window_->Clear();
        }
        return *adapter_;
    }

    // The address backup records, newest first.
    std::vector<AddressRecord> Backup() const {
        return ReadAddressRecords(session.AddressBackupSubfolder, 100);
    }

    // The Update action, then a wait until its worker thread is wholly gone. Returns false if
    // it did not end within the timeout.
    bool RunUpdate(std::chrono::seconds timeout = std::chrono::seconds(60)) {
        const unsigned ended = UpdateWorkersEnded(session);
        StartUpdateWorker(session_, window_);
        return WaitForUpdateWorkersEnded(session, ended + 1, timeout);
    }

    // The codes of the frames the adapter received, in order.
    std::vector<int> Received() const { return adapter_->ReceivedCodes(); }

    std::string Log() const { return window_->Log(); }

    emu::EmulatedAdapter &Adapter() { return *adapter_; }

    // The adapter's session, fresh for each test; an update worker holds it too while it runs.
    std::shared_ptr<AdapterSession> session_ = std::make_shared<AdapterSession>();
    AdapterSession &session = *session_;
    std::shared_ptr<RecordingWindow> window_;
    std::vector<unsigned> pauses_;  // the pauses the worker asked for, in seconds
    std::filesystem::path state_home_;

  private:
    std::unique_ptr<emu::EmulatedAdapter> adapter_;
};

// The name page the utility writes for an address: address, "Tornelvox(" three digits ")",
// 18 zero bytes, the rest erased.
inline std::vector<std::uint8_t> ExpectedNamePage(const std::array<unsigned char, 6> &address) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::vector<std::uint8_t> page(kPageSize, 0xFF);
    std::memcpy(page.data(), address.data(), 6);
    std::memcpy(page.data() + 6, "Tornelvox(", 10);
    page[16] = static_cast<std::uint8_t>(kDigits[address[1] & 0x0F]);
    page[17] = static_cast<std::uint8_t>(kDigits[address[0] >> 4]);
    page[18] = static_cast<std::uint8_t>(kDigits[address[0] & 0x0F]);
    page[19] = ')';
    std::memset(page.data() + 20, 0x00, 18);
    return page;
}

inline std::string Repeat(char c, std::size_t n) {
    return std::string(n, c);
}

}  // namespace tornelvox::testing
