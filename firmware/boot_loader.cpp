// Boot loader entry and the read of the adapter's name page.
#include <cstring>
#include <optional>

#include "firmware/address_backup.h"
#include "firmware/firmware_update.h"

namespace tornelvox {

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
bool ReadNamePage(FirmwareSession &session, std::uint32_t at, std::optional<StoredNamePage> &page) {
    page.reset();
    session.dwReadAdd = at;
    if (!SendCOMM(session, kCmdReadPage)) return false;
    // The name and the address count only when this reply delivered them; the capture window
    // may still hold bytes of an earlier reply beyond what arrived.
    const int delivered = session.CapturedCnt;
    if (delivered < kNameInReply + 2 || session.ReadData[kNameInReply] != kNameStart[0] ||
        session.ReadData[kNameInReply + 1] != kNameStart[1]) {
        return true;
    }
    StoredNamePage found;
    found.at = at;
    std::memcpy(found.address.data(), session.ReadData + kAddressInReply, found.address.size());
    for (int i = kNameInReply; i < delivered && i < kNameInReply + kLongestName; ++i) {
        if (session.ReadData[i] < 0x20 || session.ReadData[i] > 0x7E) break;
        found.name += static_cast<char>(session.ReadData[i]);
    }
    page = found;
    return true;
}

}  // namespace

unsigned char Set2Boot(FirmwareSession &session) {
    if (!SendCOMM(session, kCmdProbe)) {
        if (session.ForeignReply) {
            // Not the adapter's chip: no reset, no boot loader, no page frame goes there.
            ShowMsg(session, " The device on %s does not answer like the adapter.\n",
                    session.ComPortName);
            session.FailCode = kFailProbe;
            return 0;
        }
        // The chip may be running its firmware rather than waiting in the boot loader: a reset
        // brings it back to the point where it answers the probe.
        ReBootSystem(session);
        SetParameters(session, 115200);
        if (!SendCOMM(session, kCmdProbe)) {
            session.FailCode = kFailProbe;
            return 0;
        }
    }
    if (!SendCOMM(session, kCmdHandshake)) {
        // The recovery bursts wake a boot loader that missed the first handshake.
        SendCOMM(session, kCmdHandshakeBurstBeforeWake);
        SendCOMM(session, kCmdWakeUp);
        SendCOMM(session, kCmdHandshakeBurstAfterWake);
        if (!SendCOMM(session, kCmdHandshake)) {
            session.FailCode = kFailHandshake;
            return 0;
        }
    }
    return SendCOMM(session, kCmdEnterBootLoader) ? 1 : 0;
}

unsigned char GetID(FirmwareSession &session, int copy_flag) {
    ShowMsg(session, " Check Device ...\n");
    session.LastNamePageSearch = {};
    const std::uint32_t implied =
        session.CurVerNum < kNewNamePageVersion ? kOldNamePageAddress : kNamePageAddress;
    const std::uint32_t other =
        implied == kOldNamePageAddress ? kNamePageAddress : kOldNamePageAddress;

    std::optional<StoredNamePage> page;
    if (!ReadNamePage(session, implied, page)) return 0;
    session.LastNamePageSearch.read = true;
    if (page) session.LastNamePageSearch.valid.push_back(*page);
    // A version that was not read from this adapter may be another adapter's, and an update that
    // never finished may have left the page only at the other place: look there too.
    if (!page || !VersionKnown(session)) {
        if (ReadNamePage(session, other, page) && page)
            session.LastNamePageSearch.valid.push_back(*page);
    }

    if (session.LastNamePageSearch.valid.empty()) {
        ShowMsg(session, "\t Device has NO stored BT address. \n");
        return 0;
    }
    if (session.LastNamePageSearch.Conflict()) {
        const StoredNamePage &first = session.LastNamePageSearch.valid[0];
        const StoredNamePage &second = session.LastNamePageSearch.valid[1];
        ShowMsg(session,
                "\t Device has two different stored BT addresses: %s at %05X and %s at %05X.\n",
                FormatBtAddress(first.address).c_str(), static_cast<unsigned>(first.at),
                FormatBtAddress(second.address).c_str(), static_cast<unsigned>(second.at));
        return 0;
    }
    const StoredNamePage &found = session.LastNamePageSearch.valid[0];
    if (copy_flag == 1) std::memcpy(session.BT_ADD, found.address.data(), sizeof session.BT_ADD);
    ShowMsg(session, "\t Device BT address : %X%X%X\n", session.BT_ADD[1] & 0x0F,
            session.BT_ADD[0] >> 4, session.BT_ADD[0] & 0x0F);
    return 1;
}

}  // namespace tornelvox
