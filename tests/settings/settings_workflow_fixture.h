// The Setting action and the apply worker against the emulated adapter, with a recording window
// whose dialog step the test plays.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulator/emulated_adapter.h"
#include "firmware/firmware_update.h"
#include "settings/device_settings.h"
#include "tests/support/recording_window.h"
#include "tests/support/test_constants.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {

// One settings frame the adapter received: its option and, for a write, its value byte.
struct SettingFrameSeen {
    int option;
    int value;
    bool operator==(const SettingFrameSeen &) const = default;
};

inline void PrintTo(const SettingFrameSeen &frame, std::ostream *out) {
    *out << "{" << frame.option << ", " << frame.value << "}";
}

class SettingsWorkflow : public ::testing::Test {
  protected:
    // Starts an adapter of this firmware version and points the link at it, port closed.
    void StartAdapter(std::uint32_t version) {
        adapter = std::make_unique<emulator::EmulatedAdapter>(
            emulator::AdapterConfig{.version = version});
        ASSERT_TRUE(adapter->Start());
        std::snprintf(session->ComPortName, sizeof session->ComPortName, "%s",
                      adapter->DevicePath().c_str());
        session->CurVerNum = static_cast<int>(version);
    }

    void SetUp() override {
        session = std::make_shared<AdapterSession>();
        session->ReadCallTimeoutMs = kShortReadCallMs;
        window = std::make_shared<RecordingWindow>(*session);
    }

    void TearDown() override {
        // The worker drops its copies of the window and the session just after its last post.
        if (session->bDeviceSettingRunning) {
            ClearDeviceSettingRunning(*session);  // a test that failed early
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while ((window.use_count() > 1 || session.use_count() > 1) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(window.use_count(), 1) << "the settings worker still holds the window";
        window.reset();
        session.reset();  // closes the port
        if (adapter) adapter->Stop();
    }

    // The dialog closing by Cancel.
    void DialogCancels() {
        window->OnDialog([this] {
            CopyDeviceToApplied(*session);
            ClearDeviceSettingRunning(*session);
        });
    }

    // The dialog closing by Confirm after change() has set some applied values.
    void DialogConfirms(std::function<void(SettingsValues &)> change) {
        window->OnDialog([this, change = std::move(change)] {
            CopyDeviceToApplied(*session);
            change(*session);
            GateAppliedValues(*session, session->CurVerNum);
            ClearDeviceSettingRunning(*session);
        });
    }

    // Runs the Setting action and waits for the worker to hand the buttons back.
    void RunSettingAction() {
        ASSERT_TRUE(StartDeviceSetting(session, window));
        ASSERT_TRUE(window->WaitForButtons(2, std::chrono::seconds(20))) << window->Log();
    }

    std::vector<SettingFrameSeen> FramesOf(int code) const {
        std::vector<SettingFrameSeen> seen;
        for (const emulator::FrameRecord &record : adapter->Frames()) {
            if (record.kind != emulator::RecordKind::kFrame || record.code != code) continue;
            seen.push_back({record.bytes.at(5), code == kCmdWriteSetting ? record.bytes.at(6) : 0});
        }
        return seen;
    }

    std::vector<int> OptionsRead() const {
        std::vector<int> options;
        for (const SettingFrameSeen &frame : FramesOf(kCmdReadSetting))
            options.push_back(frame.option);
        return options;
    }

    // The log from the worker's header on.
    std::string WorkerLog() const {
        const std::string log = window->Log();
        const std::size_t header = log.find("\n ====> Device Setting \n");
        return header == std::string::npos ? std::string() : log.substr(header);
    }

    std::unique_ptr<emulator::EmulatedAdapter> adapter;
    // A fresh session for each test; a worker holds it too while it runs.
    std::shared_ptr<AdapterSession> session;
    std::shared_ptr<RecordingWindow> window;
};

}  // namespace tornelvox::testing
