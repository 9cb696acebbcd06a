// Programming the adapter's flash: write enable, erase, image pages, name page, page 0, verify.
#include <cstring>

#include "firmware/check_value.h"
#include "firmware/firmware_update.h"

namespace tornelvox {

bool CheckValueMismatchStood = false;

namespace {

constexpr int kEraseSteps = 30;  // 16 blocks of 64 KiB, then 14 sectors of 4 KiB
constexpr int kLastImagePage = kImagePages - 1;
constexpr int kPagesPerDot = 4;

// The Cancel action clears ThreadRunning; programming looks at it between its steps, so a
// cancellation takes effect before the next erase step or page, never inside an exchange.
bool CancelRequested() {
    return !ThreadRunning.load();
}

unsigned char ForceStop() {
    ShowMsg("\n\nForce Stop \n");
    return 0;
}

bool EnableFlashWriting() {
    if (!SendCOMM(11)) {
        ShowMsg(" Fail on EN_FLASH_WR_1\n");
        FailCode = 11;
        return false;
    }
    if (!SendCOMM(12)) {
        ShowMsg(" Fail on EN_FLASH_WR_2\n");
        FailCode = 12;
        return false;
    }
    if (!SendCOMM(11)) {
        ShowMsg(" Fail on EN_FLASH_WR_1\n");
        FailCode = 13;
        return false;
    }
    return true;
}

// Asks for the check value (command 17) and compares it with FW_CRC. Returns -1 when the
// exchange failed, else the number of differing bytes; each difference sets FailCode 20.
int VerifyOnce() {
    if (!SendCOMM(17)) {
        ShowMsg(" Fail to verify flash\n");
        FailCode = 19;
        return -1;
    }
    const int mismatches = CheckValueMismatches(ReadData, CapturedCnt);
    if (mismatches > 0) FailCode = 20;
    return mismatches;
}

// Reads the name page back (command 18 at 0xFD000, the same read as the name page read). True
// when the reply delivered the page's head and it holds exactly what was written from BT_ADD.
bool NamePageReadsBackAsWritten() {
    dwReadAdd = kNamePageAddress;
    if (!SendCOMM(18)) return false;
    constexpr int kPageInReply = 15;
    if (CapturedCnt < kPageInReply + static_cast<int>(kNamePageHead)) return false;
    unsigned char written[kPageSize];
    FillNamePage(BT_ADD, written);
    return std::memcmp(ReadData + kPageInReply, written, kNamePageHead) == 0;
}

// The check value covers only the first 0x7D000 bytes; the name page lies outside it, so after
// the check value matched, the page is read back. Like the check value, it gets a second read
// before the attempt fails.
unsigned char VerifyNamePage() {
    if (NamePageReadsBackAsWritten()) return 1;
    ShowMsg(" BT info does not read back as written, reading it again\n");
    if (NamePageReadsBackAsWritten()) return 1;
    ShowMsg(" Fail to verify BT info\n");
    FailCode = 21;
    return 0;
}

void ShowCheckValueDump(const char *headline) {
    ShowMsg("%s", headline);
    ShowCheckValueLine(" Exp:", FW_CRC, kCheckValueSize);
    ShowCheckValueLine(" Got:", ReadData + kCheckValueOffset,
                       DeliveredCheckValueBytes(CapturedCnt));
}

}  // namespace

unsigned char ProgramDevice() {
    CheckValueMismatchStood = false;
    if (!EnableFlashWriting()) return 0;
    if (CancelRequested()) return ForceStop();

    ShowMsg(" Erase flash ");
    for (flash_cnt = 0; flash_cnt < kEraseSteps; ++flash_cnt) {
        if (CancelRequested()) return ForceStop();
        ShowMsg(".");
        if (!SendCOMM(13)) {
            ShowMsg("\n Fail on flash %d\n", flash_cnt);
            FailCode = 14;
            return 0;
        }
    }
    ShowMsg(" Done\n");
    if (CancelRequested()) return ForceStop();

    // Page 0 goes last: an attempt that fails earlier leaves it erased, so a half-programmed
    // adapter never starts from a half-written image.
    ShowMsg(" Start to write to Flash. It may take up to 5 minutes. \n");
    ShowMsg(" Write flash ");
    for (fw_write_cnt = 1; fw_write_cnt <= kLastImagePage; ++fw_write_cnt) {
        if (CancelRequested()) return ForceStop();
        if (fw_write_cnt % kPagesPerDot == 0) ShowMsg(".");
        if (!SendCOMM(14)) {
            ShowMsg("\n Fail to write flash add %x\n", fw_write_cnt);
            FailCode = 15;
            return 0;
        }
    }
    if (!SendCOMM(15)) {
        ShowMsg(" Fail to write BT info\n");
        FailCode = 16;
        return 0;
    }
    if (CancelRequested()) return ForceStop();
    fw_write_cnt = 0;
    if (!SendCOMM(14)) {
        ShowMsg("\n Fail to write flash add %x\n", 0);
        FailCode = 18;
        return 0;
    }
    ShowMsg(" Done\n");
    if (CancelRequested()) return ForceStop();

    ShowMsg(" Verify flash ...");
    int mismatches = VerifyOnce();
    if (mismatches < 0) return 0;
    ShowMsg(" Done\n");
    if (mismatches == 0) return VerifyNamePage();
    ShowCheckValueDump(" !!!!! CRC error !!!!! \n");

    // The check value is asked for once more: a match now counts, though FailCode keeps the 20.
    mismatches = VerifyOnce();
    if (mismatches < 0) return 0;
    if (mismatches == 0) return VerifyNamePage();
    ShowCheckValueDump(" !!!!! CRC second check error !!!!! \n");
    CheckValueMismatchStood = true;
    return 0;
}

}  // namespace tornelvox
