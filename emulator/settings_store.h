// The line-side firmware's telephony settings: one number per option code, in the adapter's own
// terms (hook speed in tens of milliseconds 3/5/7/10, off-hook power 225/190/150/95/80, flags 0/1,
// levels as indexes). Which options exist depends on the firmware version.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace tornelvox::emulator {

inline constexpr int kOptionHookSpeed = 4;
inline constexpr int kOptionOffHookPower = 5;

class SettingsStore {
  public:
    SettingsStore();  // factory defaults

    // Whether firmware of this version has the option.
    static bool Known(int option, std::uint32_t version);

    // The stored number, when the firmware knows the option.
    std::optional<std::uint32_t> Read(int option, std::uint32_t version) const;
    // Stores a written byte, turned into the adapter's terms. Empty when the firmware does not
    // know the option or the byte stands for no choice of it.
    std::optional<std::uint32_t> Write(int option, std::uint8_t byte, std::uint32_t version);

    // Direct access, whatever the firmware knows; a test may plant any number.
    std::optional<std::uint32_t> Get(int option) const;
    bool Set(int option, std::uint32_t value);

  private:
    std::array<std::uint32_t, 256> numbers_{};
};

}  // namespace tornelvox::emulator
