// Programming the adapter's flash: write enable, erase, image pages, name page, page 0, verify.
#include <cstring>

#include "firmware/check_value.h"
#include "firmware/firmware_update.h"

namespace tornelvox {

bool CheckValueMismatchStood = false;
std::function<void(const FlashProgress &)> FlashProgressSink;

namespace {

constexpr int kEraseSteps = 30;  // 16 blocks of 64 KiB, then 14 sectors of 4 KiB
constexpr int kLastImagePage = kImagePages - 1;
constexpr int kPagesPerDot = 4;
// Pages the writing stage writes: image pages 1 to 252, the name page, then page 0.
constexpr int kNamePageWritten = kLastImagePage + 1;
constexpr int kPagesWritten = kNamePageWritten + 1;
// What the verifying stage checks: the check value, then the name page read back.
constexpr int kCheckValueChecked = 1;
constexpr int kVerifySteps = 2;

void ReportProgress(UpdateStage stage, int done, int total) {
    if (FlashProgressSink) FlashProgressSink(FlashProgress{stage, done, total});
}

// The Cancel action clears ThreadRunning; programming looks at it between its steps, so a
// cancellation takes effect before the next erase step or page, never inside an exchange. True,
// after saying so in the log, when programming is to stop.
bool StopRequested() {
    if (ThreadRunning.load()) return false;
    ShowMsg("\n\nForce Stop \n");
    return true;
}

bool EnableFlashWriting() {
    if (!SendCOMM(kCmdWriteEnableFirst)) {
        ShowMsg(" Fail on EN_FLASH_WR_1\n");
        FailCode = kFailWriteEnableFirst;
        return false;
    }
    if (!SendCOMM(kCmdWriteEnableSecond)) {
        ShowMsg(" Fail on EN_FLASH_WR_2\n");
        FailCode = kFailWriteEnableSecond;
        return false;
    }
    if (!SendCOMM(kCmdWriteEnableFirst)) {
        ShowMsg(" Fail on EN_FLASH_WR_1\n");
        FailCode = kFailWriteEnableRepeated;
        return false;
    }
    return true;
}

bool EraseFlash() {
    ShowMsg(" Erase flash ");
    ReportProgress(UpdateStage::kErasing, 0, kEraseSteps);
    for (flash_cnt = 0; flash_cnt < kEraseSteps; ++flash_cnt) {
        if (StopRequested()) return false;
        ShowMsg(".");
        if (!SendCOMM(kCmdEraseStep)) {
            ShowMsg("\n Fail on flash %d\n", flash_cnt);
            FailCode = kFailEraseStep;
            return false;
        }
        ReportProgress(UpdateStage::kErasing, flash_cnt + 1, kEraseSteps);
    }
    ShowMsg(" Done\n");
    return true;
}

// Image pages 1 to 252. Page 0 goes last, after the name page: an attempt that fails earlier
// leaves it erased, so a half-programmed adapter never starts from a half-written image.
bool WriteImagePages() {
    ShowMsg(" Start to write to Flash. It may take up to 5 minutes. \n");
    ShowMsg(" Write flash ");
    ReportProgress(UpdateStage::kWriting, 0, kPagesWritten);
    for (fw_write_cnt = 1; fw_write_cnt <= kLastImagePage; ++fw_write_cnt) {
        if (StopRequested()) return false;
        if (fw_write_cnt % kPagesPerDot == 0) ShowMsg(".");
        if (!SendCOMM(kCmdWriteImagePage)) {
            ShowMsg("\n Fail to write flash add %x\n", fw_write_cnt);
            FailCode = kFailImagePage;
            return false;
        }
        ReportProgress(UpdateStage::kWriting, fw_write_cnt, kPagesWritten);
    }
    return true;
}

bool WriteNamePageAndPageZero() {
    if (!SendCOMM(kCmdWriteNamePage)) {
        ShowMsg(" Fail to write BT info\n");
        FailCode = kFailNamePage;
        return false;
    }
    ReportProgress(UpdateStage::kWriting, kNamePageWritten, kPagesWritten);
    if (StopRequested()) return false;
    fw_write_cnt = 0;
    if (!SendCOMM(kCmdWriteImagePage)) {
        ShowMsg("\n Fail to write flash add %x\n", 0);
        FailCode = kFailPageZero;
        return false;
    }
    ReportProgress(UpdateStage::kWriting, kPagesWritten, kPagesWritten);
    ShowMsg(" Done\n");
    return true;
}

// Asks for the check value and compares it with FW_CRC. Returns -1 when the exchange failed,
// else the number of differing bytes; each difference sets FailCode kFailCheckValueMismatch.
int VerifyOnce() {
    if (!SendCOMM(kCmdReadCheckValue)) {
        ShowMsg(" Fail to verify flash\n");
        FailCode = kFailCheckValueRead;
        return -1;
    }
    const int mismatches = CheckValueMismatches(ReadData, CapturedCnt);
    if (mismatches > 0) FailCode = kFailCheckValueMismatch;
    return mismatches;
}

void ShowCheckValueDump(const char *headline) {
    ShowMsg("%s", headline);
    ShowCheckValueLine(" Exp:", FW_CRC, kCheckValueSize);
    ShowCheckValueLine(" Got:", ReadData + kCheckValueOffset,
                       DeliveredCheckValueBytes(CapturedCnt));
}

// True when the adapter reports the image's check value, at the first or the second asking.
bool CheckValueMatches() {
    ShowMsg(" Verify flash ...");
    int mismatches = VerifyOnce();
    if (mismatches < 0) return false;
    ShowMsg(" Done\n");
    if (mismatches == 0) return true;
    ShowCheckValueDump(" !!!!! CRC error !!!!! \n");

    // The check value is asked for once more: a match now counts, though FailCode keeps
    // kFailCheckValueMismatch.
    mismatches = VerifyOnce();
    if (mismatches < 0) return false;
    if (mismatches == 0) return true;
    ShowCheckValueDump(" !!!!! CRC second check error !!!!! \n");
    CheckValueMismatchStood = true;
    return false;
}

// Reads the name page back (kCmdReadPage at 0xFD000, the same read as the name page read). True
// when the reply delivered the page's head and it holds exactly what was written from BT_ADD.
bool NamePageReadsBackAsWritten() {
    dwReadAdd = kNamePageAddress;
    if (!SendCOMM(kCmdReadPage)) return false;
    constexpr int kPageInReply = 15;
    if (CapturedCnt < kPageInReply + static_cast<int>(kNamePageHead)) return false;
    unsigned char written[kPageSize];
    FillNamePage(BT_ADD, written);
    return std::memcmp(ReadData + kPageInReply, written, kNamePageHead) == 0;
}

// The check value covers only the first 0x7D000 bytes; the name page lies outside it, so after
// the check value matched, the page is read back. Like the check value, it gets a second read
// before the attempt fails.
bool VerifyNamePage() {
    if (NamePageReadsBackAsWritten()) return true;
    ShowMsg(" BT info does not read back as written, reading it again\n");
    if (NamePageReadsBackAsWritten()) return true;
    ShowMsg(" Fail to verify BT info\n");
    FailCode = kFailNamePageReadBack;
    return false;
}

bool Verify() {
    ReportProgress(UpdateStage::kVerifying, 0, kVerifySteps);
    if (!CheckValueMatches()) return false;
    ReportProgress(UpdateStage::kVerifying, kCheckValueChecked, kVerifySteps);
    if (!VerifyNamePage()) return false;
    ReportProgress(UpdateStage::kVerifying, kVerifySteps, kVerifySteps);
    return true;
}

}  // namespace

// The steps in turn; a cancellation stops programming before the next one begins.
unsigned char ProgramDevice() {
    CheckValueMismatchStood = false;
    if (!EnableFlashWriting() || StopRequested()) return 0;
    if (!EraseFlash() || StopRequested()) return 0;
    if (!WriteImagePages() || !WriteNamePageAndPageZero() || StopRequested()) return 0;
    return Verify() ? 1 : 0;
}

}  // namespace tornelvox
