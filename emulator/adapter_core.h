// What the adapter does with each frame: its modes (line-side firmware, boot loader), its
// flash, its settings, and the reply each frame gets. No input or output here; the caller
// parses frames off the line and sends the replies.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "emulator/adapter_flash.h"
#include "emulator/emulated_adapter.h"
#include "emulator/settings_store.h"

namespace tornelvox::emulator {

// Faults that change what the adapter does, not just what its reply looks like.
struct HandlingFaults {
    bool corrupt_check_value = false;
    std::optional<std::uint32_t> settings_number;  // reported instead of the stored number
    bool page_write_fails = false;
    bool page_left_unwritten = false;
    bool page_reads_erased = false;
};

struct AdapterReply {
    std::vector<std::uint8_t> bytes;         // empty: no reply
    std::chrono::milliseconds work_time{0};  // time the adapter works before it replies
    std::string event;                       // something that happened, for the record
};

class AdapterCore {
  public:
    explicit AdapterCore(const AdapterConfig &config);

    // A handshake frame that more input followed: a burst frame, kCodeBurstBeforeWake before the
    // wake-up frame of this recovery and kCodeBurstAfterWake after it.
    int ClassifyBurstHandshake();

    AdapterReply Handle(int code, const std::vector<std::uint8_t> &frame,
                        const HandlingFaults &faults);

    AdapterFlash &Flash() { return flash_; }
    const AdapterFlash &Flash() const { return flash_; }
    SettingsStore &Settings() { return settings_; }
    const SettingsStore &Settings() const { return settings_; }
    std::uint32_t Version() const { return version_; }
    bool InBootLoader() const { return boot_loader_; }
    bool FirmwarePresent() const { return firmware_present_; }
    // Power lost and back: restarts from the flash. Returns the event for the record.
    std::string PowerCycle();

  private:
    bool HandshakeAnswered() const;
    std::vector<std::uint8_t> Erase(const std::vector<std::uint8_t> &frame);
    std::vector<std::uint8_t> ProgramPage(int code, const std::vector<std::uint8_t> &frame,
                                          bool left_unwritten);
    std::vector<std::uint8_t> ReadPage(const std::vector<std::uint8_t> &frame, bool erased) const;
    AdapterReply Settings(int code, const std::vector<std::uint8_t> &frame,
                          const HandlingFaults &faults);
    std::string Reset();

    AdapterConfig config_;
    AdapterFlash flash_;
    SettingsStore settings_;
    std::uint32_t version_;
    bool firmware_present_ = true;
    bool handshake_done_ = false;
    bool boot_loader_ = false;
    bool erased_in_session_ = false;
    bool wake_seen_ = false;
    int bursts_after_wake_ = 0;
};

}  // namespace tornelvox::emulator
