// Boot loader entry and the read of the adapter's name page.
#include <cstring>
#include <optional>

#include "firmware/address_backup.h"
#include "firmware/firmware_update.h"

namespace tornelvox {

NamePageSearch LastNamePageSearch;

namespace {

constexpr int kNewNamePageVersion = 0x300;

// In the reply to a page read, page byte k stands at reply byte 15 + k. The name page holds the
// address in bytes 0 to 5 and the product name from byte 6 on.
constexpr int kPageInReply = 15;
constexpr int kAddressInReply = kPageInReply;
constexpr int kNameInReply = kPageInReply + 6;
constexpr int kLongestName = 14;  // "Tornelvox(DAB)"
constexpr char kNameStart[2] = {'T', 'o'};

// Reads the name page at `at`. False when the exchange failed; otherwise true, with `page`
// filled in when the page is valid.
bool ReadNamePage(std::uint32_t at, std::optional<StoredNamePage> &page) {
    page.reset();
    dwReadAdd = at;
    if (!SendCOMM(kCmdReadPage)) return false;
    // The name and the address count only when this reply delivered them; the capture window
    // may still hold bytes of an earlier reply beyond what arrived.
    const int delivered = CapturedCnt;
    if (delivered < kNameInReply + 2 || ReadData[kNameInReply] != kNameStart[0] ||
        ReadData[kNameInReply + 1] != kNameStart[1]) {
        return true;
    }
    StoredNamePage found;
    found.at = at;
    std::memcpy(found.address.data(), ReadData + kAddressInReply, found.address.size());
    for (int i = kNameInReply; i < delivered && i < kNameInReply + kLongestName; ++i) {
        if (ReadData[i] < 0x20 || ReadData[i] > 0x7E) break;
        found.name += static_cast<char>(ReadData[i]);
    }
    page = found;
    return true;
}

}  // namespace

unsigned char Set2Boot() {
    if (!SendCOMM(kCmdProbe)) {
        if (ForeignReply) {
            // Not the adapter's chip: no reset, no boot loader, no page frame goes there.
            ShowMsg(" The device on %s does not answer like the adapter.\n", ComPortName);
            FailCode = kFailProbe;
            return 0;
        }
        // The chip may be running its firmware rather than waiting in the boot loader: a reset
        // brings it back to the point where it answers the probe.
        ReBootSystem();
        SetParameters(115200);
        if (!SendCOMM(kCmdProbe)) {
            FailCode = kFailProbe;
            return 0;
        }
    }
    if (!SendCOMM(kCmdHandshake)) {
        // The recovery bursts wake a boot loader that missed the first handshake.
        SendCOMM(kCmdHandshakeBurstBeforeWake);
        SendCOMM(kCmdWakeUp);
        SendCOMM(kCmdHandshakeBurstAfterWake);
        if (!SendCOMM(kCmdHandshake)) {
            FailCode = kFailHandshake;
            return 0;
        }
    }
    return SendCOMM(kCmdEnterBootLoader) ? 1 : 0;
}

unsigned char GetID(int copy_flag) {
    ShowMsg(" Check Device ...\n");
    LastNamePageSearch = {};
    const std::uint32_t implied =
        CurVerNum < kNewNamePageVersion ? kOldNamePageAddress : kNamePageAddress;
    const std::uint32_t other =
        implied == kOldNamePageAddress ? kNamePageAddress : kOldNamePageAddress;

    std::optional<StoredNamePage> page;
    if (!ReadNamePage(implied, page)) return 0;
    LastNamePageSearch.read = true;
    if (page) LastNamePageSearch.valid.push_back(*page);
    // A version that was not read from this adapter may be another adapter's, and an update that
    // never finished may have left the page only at the other place: look there too.
    if (!page || !VersionKnown()) {
        if (ReadNamePage(other, page) && page) LastNamePageSearch.valid.push_back(*page);
    }

    if (LastNamePageSearch.valid.empty()) {
        ShowMsg("\t Device has NO stored BT address. \n");
        return 0;
    }
    if (LastNamePageSearch.Conflict()) {
        const StoredNamePage &first = LastNamePageSearch.valid[0];
        const StoredNamePage &second = LastNamePageSearch.valid[1];
        ShowMsg("\t Device has two different stored BT addresses: %s at %05X and %s at %05X.\n",
                FormatBtAddress(first.address).c_str(), static_cast<unsigned>(first.at),
                FormatBtAddress(second.address).c_str(), static_cast<unsigned>(second.at));
        return 0;
    }
    const StoredNamePage &found = LastNamePageSearch.valid[0];
    if (copy_flag == 1) std::memcpy(BT_ADD, found.address.data(), sizeof BT_ADD);
    ShowMsg("\t Device BT address : %X%X%X\n", BT_ADD[1] & 0x0F, BT_ADD[0] >> 4, BT_ADD[0] & 0x0F);
    return 1;
}

}  // namespace tornelvox
