#include "emulator/settings_store.h"

namespace tornelvox::emulator {
namespace {

// Lowest firmware version that has each option; 0 for none.
std::uint32_t FirstVersionWith(int option) {
    if (option >= 1 && option <= 10) return 0x200;
    if (option == 13 || option == 14) return 0x206;
    if (option == 15) return 0x300;
    if (option >= 16 && option <= 18) return 0x302;
    return 0;
}

// How many choices a level option has (its written byte is the index); 2 for flags.
std::uint32_t ChoicesOf(int option) {
    switch (option) {
        case 8:   // dial plan
        case 17:  // DTMF threshold
            return 3;
        case 13:  // microphone volume
        case 14:  // speaker volume
        case 18:  // echo depth
            return 5;
        default:
            return 2;
    }
}

constexpr std::array<std::uint32_t, 4> kHookSpeeds = {3, 5, 7, 10};               // by written byte
constexpr std::array<std::uint32_t, 5> kOffHookPowers = {150, 190, 225, 95, 80};  // by byte

}  // namespace

SettingsStore::SettingsStore() {
    numbers_[1] = 1;    // caller ID on
    numbers_[2] = 0;    // strong ringing off
    numbers_[3] = 1;    // echo cancel on
    numbers_[4] = 5;    // hook speed 50 ms
    numbers_[5] = 190;  // off-hook power medium
    numbers_[6] = 0;    // dial tone after disconnect
    numbers_[7] = 0;    // line reversal after disconnect
    numbers_[8] = 0;    // dial plan with timeout
    numbers_[9] = 0;    // LED debug
    numbers_[10] = 1;   // media audio
    numbers_[13] = 2;   // microphone 30 dB
    numbers_[14] = 2;   // speaker 0 dB
    numbers_[15] = 0;   // robocall block
    numbers_[16] = 0;   // DTMF tone command
    numbers_[17] = 1;   // DTMF threshold normal
    numbers_[18] = 2;   // echo depth
}

bool SettingsStore::Known(int option, std::uint32_t version) {
    const std::uint32_t first = FirstVersionWith(option);
    return first != 0 && version >= first;
}

std::optional<std::uint32_t> SettingsStore::Read(int option, std::uint32_t version) const {
    if (!Known(option, version)) return std::nullopt;
    return numbers_[static_cast<std::size_t>(option)];
}

std::optional<std::uint32_t> SettingsStore::Write(int option, std::uint8_t byte,
                                                  std::uint32_t version) {
    if (!Known(option, version)) return std::nullopt;
    std::uint32_t number = byte;
    if (option == kOptionHookSpeed) {
        if (byte >= kHookSpeeds.size()) return std::nullopt;
        number = kHookSpeeds[byte];
    } else if (option == kOptionOffHookPower) {
        if (byte >= kOffHookPowers.size()) return std::nullopt;
        number = kOffHookPowers[byte];
    } else if (byte >= ChoicesOf(option)) {
        return std::nullopt;
    }
    numbers_[static_cast<std::size_t>(option)] = number;
    return number;
}

std::optional<std::uint32_t> SettingsStore::Get(int option) const {
    if (option < 1 || option > 255) return std::nullopt;
    return numbers_[static_cast<std::size_t>(option)];
}

bool SettingsStore::Set(int option, std::uint32_t value) {
    if (option < 1 || option > 255) return false;
    numbers_[static_cast<std::size_t>(option)] = value;
    return true;
}

}  // namespace tornelvox::emulator
