#include "serial/device_search.h"

#include <dirent.h>

#include <cstdio>
#include <cstring>

#include "serial/command_exchange.h"
#include "serial/message_log.h"
#include "serial/serial_port.h"

namespace tornelvox {

bool ReBootSystem() {
    SetParameters(1000000);  // becomes 115,200: the adapter's line runs at one rate
    SendCOMM(9);
    SendCOMM(10);
    SetParameters(115200);
    SendCOMM(9);
    return SendCOMM(10);
}

namespace {

// "cu." then "usb" with at least one character after it (the call-out nodes of USB serial
// adapters on hosts that name them so).
bool IsCallOutUsbName(const char *name) {
    const std::size_t length = std::strlen(name);
    if (length < 5 || std::strncmp(name, "cu.", 3) != 0) return false;
    for (std::size_t p = 3; p + 4 <= length; ++p) {
        if (std::strncmp(name + p, "usb", 3) == 0) return true;
    }
    return false;
}

// "ttyUSB<n>" and "ttyACM<n>": how Linux names USB serial adapters.
bool IsLinuxUsbName(const char *name) {
    for (const char *prefix : {"ttyUSB", "ttyACM"}) {
        const std::size_t prefix_length = std::strlen(prefix);
        if (std::strncmp(name, prefix, prefix_length) != 0) continue;
        const char *digits = name + prefix_length;
        if (*digits == '\0') return false;
        for (const char *c = digits; *c != '\0'; ++c) {
            if (*c < '0' || *c > '9') return false;
        }
        return true;
    }
    return false;
}

}  // namespace

bool CheckName(const char *name) {
    return IsCallOutUsbName(name) || IsLinuxUsbName(name);
}

bool CheckCOMM(const char *path) {
    if (!OpenPort(path)) return false;
    if (!SetParameters(115200)) {
        ClosePort();
        return false;
    }
    bool found = SendCOMM(1);
    if (!found) {
        ReBootSystem();
        SetParameters(115200);
        found = SendCOMM(1);
    }
    ReBootSystem();
    ClosePort();
    return found;
}

bool SearchCOMM() {
    char candidate[kPortPathSize];
    ShowMsg("\n Search Device ...\n");
    DIR *listing = opendir(DeviceDirectory.c_str());
    if (listing == nullptr) return false;
    // readdir is safe here: the listing is this call's own, and only one search runs at a time.
    while (const dirent *entry = readdir(listing)) {  // NOLINT(concurrency-mt-unsafe)
        if (!CheckName(entry->d_name)) continue;
        // An entry whose path would not fit the candidate buffer or ComPortName is skipped.
        const int length = std::snprintf(candidate, sizeof candidate, "%s/%s",
                                         DeviceDirectory.c_str(), entry->d_name);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof candidate) continue;
        ShowMsg("\t Check port : %s\n", candidate);
        if (CheckCOMM(candidate)) {
            ShowMsg(" Found device on %s\n", ComPortName);
            closedir(listing);
            return true;
        }
    }
    closedir(listing);
    return false;
}

}  // namespace tornelvox
