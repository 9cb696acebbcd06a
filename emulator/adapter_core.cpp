#include "emulator/adapter_core.h"

#include <cstdio>

#include "emulator/frame_catalogue.h"
#include "emulator/reply_builder.h"

namespace tornelvox::emulator {
namespace {

constexpr std::uint8_t kEraseBlock64K = 0xD8;
constexpr std::uint8_t kEraseSector4K = 0x20;
constexpr std::size_t kBlockSize = 0x10000;

bool IsRecoveryFrame(int code) {
    return code == kCodeHandshake || code == kCodeBurstBeforeWake || code == kCodeBurstAfterWake ||
           code == kCodeWakeUp;
}

// Frame bytes [from, to) as reply parameters, bounded by the frame.
std::vector<std::uint8_t> Echo(const std::vector<std::uint8_t> &frame, std::size_t from,
                               std::size_t to) {
    if (from >= frame.size()) return {};
    if (to > frame.size()) to = frame.size();
    return {frame.begin() + static_cast<std::ptrdiff_t>(from),
            frame.begin() + static_cast<std::ptrdiff_t>(to)};
}

}  // namespace

AdapterCore::AdapterCore(const AdapterConfig &config) : config_(config), version_(config.version) {
    flash_.LoadFactoryContent(config.version, config.bt_address, config.name_page_stored,
                              config.other_place_address);
}

int AdapterCore::ClassifyBurstHandshake() {
    if (!wake_seen_) return kCodeBurstBeforeWake;
    ++bursts_after_wake_;
    return kCodeBurstAfterWake;
}

bool AdapterCore::HandshakeAnswered() const {
    if (config_.boot_loader_never_answers) return false;
    if (config_.handshake_only_after_recovery) return wake_seen_ && bursts_after_wake_ > 0;
    return true;
}

AdapterReply AdapterCore::Handle(int code, const std::vector<std::uint8_t> &frame,
                                 const HandlingFaults &faults) {
    AdapterReply reply;
    if (!IsRecoveryFrame(code)) {
        wake_seen_ = false;
        bursts_after_wake_ = 0;
    }
    const bool app = !boot_loader_;
    switch (code) {
        case kCodeProbe:
            reply.bytes = CommandComplete(8, kStatusOk,
                                          {static_cast<std::uint8_t>(boot_loader_ ? 0x02 : 0x01)});
            break;
        case kCodeHandshake:
            if (!HandshakeAnswered()) break;
            handshake_done_ = true;
            wake_seen_ = false;
            bursts_after_wake_ = 0;
            reply.bytes = CommandComplete(8, kStatusOk, {0xAA, 0x55});
            break;
        case kCodeWakeUp:
            wake_seen_ = true;
            bursts_after_wake_ = 0;
            break;
        case kCodeEnterBootLoader:
        case kCodeEnterBootLoaderFast:
            if (!handshake_done_ || config_.boot_loader_never_answers) break;
            if (!boot_loader_) reply.event = "boot loader entered";
            boot_loader_ = true;
            reply.bytes = CommandComplete(12, kStatusOk, Echo(frame, 4, 10));
            break;
        case kCodeFlashId:
            if (app) break;
            reply.bytes = CommandComplete(15, kStatusOk, {0x0E, 0x9F, 0xEF, 0x40, 0x14});
            break;
        case kCodeResetFirst:
            reply.bytes = CommandComplete(15, kStatusOk, Echo(frame, 4, 13));
            break;
        case kCodeResetSecond:
            reply.bytes = CommandComplete(5, kStatusOk, {});
            reply.event = Reset();
            break;
        case kCodeWriteEnable1:
        case kCodeWriteEnable2:
            if (app) break;
            reply.bytes = CommandComplete(13, kStatusOk, Echo(frame, 7, frame.size()));
            break;
        case kCodeErase:
            if (app) break;
            reply.bytes = Erase(frame);
            reply.work_time = std::chrono::milliseconds(config_.erase_delay_ms);
            break;
        case kCodeWriteImagePage:
        case kCodeWriteNamePage:
        case kCodeWriteParameterPage:
            if (app || faults.page_write_fails) break;
            reply.bytes = ProgramPage(code, frame, faults.page_left_unwritten);
            break;
        case kCodeVerify: {
            if (app) break;
            std::uint32_t check = flash_.CheckValue();
            if (faults.corrupt_check_value) check ^= 0x5A5A5A5Au;
            reply.bytes = CheckValueReply(check);
            reply.work_time = std::chrono::milliseconds(config_.verify_delay_ms);
            break;
        }
        case kCodeReadPage:
            if (app) break;
            reply.bytes = ReadPage(frame, faults.page_reads_erased);
            break;
        case kCodeVersion:
            if (!app) break;
            if (firmware_present_) {
                reply.bytes = VersionReply(version_, config_.identifies_as_emulator);
            } else if (config_.identifies_as_emulator) {
                reply.bytes = NoFirmwareReply();  // the emulator's own word; a real one is silent
            }
            break;
        case kCodeReadSetting:
        case kCodeWriteSetting:
            if (!app || !firmware_present_) break;
            return Settings(code, frame, faults);
        default:  // bursts, "/q": nothing to answer
            break;
    }
    return reply;
}

std::vector<std::uint8_t> AdapterCore::Erase(const std::vector<std::uint8_t> &frame) {
    const std::uint8_t op = frame.size() > 8 ? frame[8] : 0;
    const std::uint32_t address = FrameAddress(kCodeErase, frame.data(), frame.size());
    bool erased = false;
    if (op == kEraseBlock64K) {
        erased = flash_.Erase(address & ~static_cast<std::uint32_t>(kBlockSize - 1), kBlockSize);
    } else if (op == kEraseSector4K) {
        erased = flash_.Erase(address & ~static_cast<std::uint32_t>(kPageSize - 1), kPageSize);
    }
    if (erased) erased_in_session_ = true;
    return CommandComplete(16, erased ? kStatusOk : kStatusFailed, Echo(frame, 7, 13));
}

std::vector<std::uint8_t> AdapterCore::ProgramPage(int code, const std::vector<std::uint8_t> &frame,
                                                   bool left_unwritten) {
    const std::uint32_t address = FrameAddress(code, frame.data(), frame.size());
    bool programmed = false;
    if (frame.size() >= kPageFrameHead + kPageSize && address % kPageSize == 0) {
        // Left unwritten, the page is still acknowledged as if the flash had taken it.
        programmed =
            left_unwritten || flash_.Program(address, frame.data() + kPageFrameHead, kPageSize);
    }
    return CommandComplete(15, programmed ? kStatusOk : kStatusFailed, Echo(frame, 7, 12));
}

std::vector<std::uint8_t> AdapterCore::ReadPage(const std::vector<std::uint8_t> &frame,
                                                bool erased) const {
    const std::uint32_t address = FrameAddress(kCodeReadPage, frame.data(), frame.size());
    std::vector<std::uint8_t> page;
    if (erased || !flash_.Read(address, kPageSize, page)) page.assign(kPageSize, 0xFF);
    return PageReadReply(address, page);
}

AdapterReply AdapterCore::Settings(int code, const std::vector<std::uint8_t> &frame,
                                   const HandlingFaults &faults) {
    AdapterReply reply;
    if (frame.size() < 7) return reply;
    const std::uint8_t id = frame[3];
    const std::uint8_t option = frame[5];
    const std::optional<std::uint32_t> number = code == kCodeReadSetting
                                                    ? settings_.Read(option, version_)
                                                    : settings_.Write(option, frame[6], version_);
    if (!number) {
        reply.bytes = SettingsReply(id, kSettingsUnknown, option, 0);
        return reply;
    }
    reply.bytes = SettingsReply(id, kSettingsOk, option, faults.settings_number.value_or(*number));
    return reply;
}

std::string AdapterCore::PowerCycle() {
    // After erasing, the restart starts whatever the update left, as a reset does.
    if (erased_in_session_) return Reset();
    boot_loader_ = false;
    handshake_done_ = false;
    firmware_present_ = !flash_.PageErased(0);
    return firmware_present_ ? "restart: firmware running" : "restart: no firmware in flash";
}

std::string AdapterCore::Reset() {
    boot_loader_ = false;
    handshake_done_ = false;
    if (erased_in_session_) {
        firmware_present_ = !flash_.PageErased(0);
        if (firmware_present_) version_ = config_.version_after_update;
    }
    erased_in_session_ = false;
    if (!firmware_present_) return "reset: no firmware in flash";
    char text[48];
    std::snprintf(text, sizeof text, "reset: firmware %03X running",
                  static_cast<unsigned>(version_ & 0xFFFu));
    return text;
}

}  // namespace tornelvox::emulator
