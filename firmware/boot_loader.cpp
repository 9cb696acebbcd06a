// Boot loader entry and the read of the adapter's name page.
#include <cstring>

#include "firmware/firmware_update.h"

namespace tornelvox {

namespace {

// Where the adapter keeps its name page: firmware before 0x300 at 0x7D000, later at 0xFD000.
constexpr int kNewNamePageVersion = 0x300;
constexpr std::uint32_t kOldNamePage = 0x7D000;
constexpr std::uint32_t kNamePage = 0xFD000;

// In the reply to a page read, page byte k stands at reply byte 15 + k. The name page holds the
// address in bytes 0 to 5 and the product name from byte 6 on.
constexpr int kPageInReply = 15;
constexpr int kAddressInReply = kPageInReply;
constexpr int kNameInReply = kPageInReply + 6;
constexpr char kNameStart[2] = {'T', 'o'};

}  // namespace

unsigned char Set2Boot() {
    if (!SendCOMM(1)) {
        // The chip may be running its firmware rather than waiting in the boot loader: a reset
        // brings it back to the point where it answers the probe.
        ReBootSystem();
        SetParameters(115200);
        if (!SendCOMM(1)) {
            FailCode = 7;
            return 0;
        }
    }
    if (!SendCOMM(2)) {
        // The recovery bursts wake a boot loader that missed the first handshake.
        SendCOMM(3);
        SendCOMM(5);
        SendCOMM(4);
        if (!SendCOMM(2)) {
            FailCode = 8;
            return 0;
        }
    }
    return SendCOMM(6) ? 1 : 0;
}

unsigned char GetID(int copy_flag) {
    ShowMsg(" Check Device ...\n");
    dwReadAdd = CurVerNum < kNewNamePageVersion ? kOldNamePage : kNamePage;
    if (!SendCOMM(18)) return 0;

    // The name and the address count only when this reply delivered them; the capture window
    // may still hold bytes of an earlier reply beyond what arrived.
    const bool name_delivered = CapturedCnt >= kNameInReply + 2;
    if (!name_delivered || ReadData[kNameInReply] != kNameStart[0] ||
        ReadData[kNameInReply + 1] != kNameStart[1]) {
        ShowMsg("\t Device has NO stored BT address. \n");
        return 0;
    }
    if (copy_flag == 1) std::memcpy(BT_ADD, ReadData + kAddressInReply, sizeof BT_ADD);
    ShowMsg("\t Device BT address : %X%X%X\n", BT_ADD[1] & 0x0F, BT_ADD[0] >> 4, BT_ADD[0] & 0x0F);
    return 1;
}

}  // namespace tornelvox
