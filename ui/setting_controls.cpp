#include "ui/setting_controls.h"

namespace tornelvox {

namespace {

// clang-format off
constexpr SettingControl kControls[kSettingCount] = {
    // option  control            default  enabled by  confirm  cancel
    {1,  "cbCallerID",      1, 0,  1,  1},
    {2,  "cbStrongRing",    0, 0,  7,  6},
    {3,  "cbEchoCancel",    1, 0,  2,  2},
    {4,  "cbxHookSpeed",    2, 0, 14, 11},
    {5,  "cbxOffHookPwr",   1, 0, 13, 10},
    {6,  "cbDialtoneDisc",  0, 0,  5,  4},
    {7,  "cbReverseDisc",   1, 0,  6,  5},
    {8,  "cbxDialPlan",     0, 0, 12,  9},
    {9,  "cbLEDDEbug",      0, 0,  8,  7},
    {10, "cbMediaAudio",    0, 0,  4,  3},
    {13, "cbxMICVol",       2, 0, 15, 12},
    {14, "cbxSpkVol",       2, 0, 16, 13},
    {15, "cbRobocall",      0, 0,  9,  8},
    {16, "cbDTMFCmd",       0, 0, 10, 14},
    {17, "cbDTMFThreshold", 0, 16, 11, 15},
    {18, "cbEchoDepth",     2, 3,  3, 16},
};
// clang-format on

SettingOrder OrderedBy(int SettingControl::*rank) {
    SettingOrder order{};
    for (const SettingControl &control : kControls) {
        const int position = control.*rank - 1;
        if (position >= 0 && position < kSettingCount)
            order[position] = FindSetting(control.option);
    }
    return order;
}

}  // namespace

std::span<const SettingControl> AllSettingControls() {
    return kControls;
}

const SettingControl *SettingControlFor(std::uint8_t option) {
    for (const SettingControl &control : kControls) {
        if (control.option == option) return &control;
    }
    return nullptr;
}

SettingOrder SettingsInConfirmOrder() {
    return OrderedBy(&SettingControl::confirm_rank);
}

SettingOrder SettingsInCancelOrder() {
    return OrderedBy(&SettingControl::cancel_rank);
}

}  // namespace tornelvox
