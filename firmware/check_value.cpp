#include "firmware/check_value.h"

#include <algorithm>

#include "firmware/firmware_update.h"

namespace tornelvox {

int CheckValueMismatches(const unsigned char *reply, int delivered) {
    int mismatches = 0;
    for (int i = 0; i < kCheckValueSize; ++i) {
        const int at = kCheckValueOffset + i;
        if (at >= delivered || reply[at] != FW_CRC[i]) ++mismatches;
    }
    return mismatches;
}

int DeliveredCheckValueBytes(int delivered) {
    return std::clamp(delivered - kCheckValueOffset, 0, kCheckValueSize);
}

void ShowCheckValueLine(LinkSession &session, const char *label, const unsigned char *value,
                        int delivered) {
    ShowMsg(session, "%s", label);
    for (int i = 0; i < kCheckValueSize; ++i) {
        if (i < delivered) {
            ShowMsg(session, "%02X ", value[i]);
        } else {
            ShowMsg(session, "-- ");
        }
    }
    ShowMsg(session, "\n");
}

}  // namespace tornelvox
