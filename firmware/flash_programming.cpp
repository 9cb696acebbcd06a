// Programming the adapter's flash: write enable, erase, image pages, name page, page 0, verify.
#include <cstring>

#include "firmware/check_value.h"
#include "firmware/firmware_update.h"
#include "firmware/image_read_back.h"

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
// What the verifying stage checks: the check value, then the name page read back, then (for the
// whole image) the pages the check value does not cover.
constexpr int kCheckValueChecked = 1;
constexpr int kNamePageChecked = 2;
static_assert(kWholeImageVerifyingSteps == kCheckValueVerifyingSteps + kUncheckedPages);

// Tells FlashProgressSink how far programming got, with the verifying stage's size for this
// programming's verification.
class ProgressReport {
  public:
    explicit ProgressReport(ImageVerification verification)
        : verifying_total_(verification == ImageVerification::kWholeImage
                               ? kWholeImageVerifyingSteps
                               : kCheckValueVerifyingSteps) {}

    void operator()(UpdateStage stage, int done, int total) const {
        if (FlashProgressSink)
            FlashProgressSink(FlashProgress{stage, done, total, verifying_total_});
    }
    void Verifying(int done) const { (*this)(UpdateStage::kVerifying, done, verifying_total_); }

  private:
    const int verifying_total_;
};

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

bool EraseFlash(const ProgressReport &report) {
    ShowMsg(" Erase flash ");
    report(UpdateStage::kErasing, 0, kEraseSteps);
    for (flash_cnt = 0; flash_cnt < kEraseSteps; ++flash_cnt) {
        if (StopRequested()) return false;
        ShowMsg(".");
        if (!SendCOMM(kCmdEraseStep)) {
            ShowMsg("\n Fail on flash %d\n", flash_cnt);
            FailCode = kFailEraseStep;
            return false;
        }
        report(UpdateStage::kErasing, flash_cnt + 1, kEraseSteps);
    }
    ShowMsg(" Done\n");
    return true;
}

// Image pages 1 to 252. Page 0 goes last, after the name page: an attempt that fails earlier
// leaves it erased, so a half-programmed adapter never starts from a half-written image.
bool WriteImagePages(const ProgressReport &report) {
    ShowMsg(" Start to write to Flash. It may take up to 5 minutes. \n");
    ShowMsg(" Write flash ");
    report(UpdateStage::kWriting, 0, kPagesWritten);
    for (fw_write_cnt = 1; fw_write_cnt <= kLastImagePage; ++fw_write_cnt) {
        if (StopRequested()) return false;
        if (fw_write_cnt % kPagesPerDot == 0) ShowMsg(".");
        if (!SendCOMM(kCmdWriteImagePage)) {
            ShowMsg("\n Fail to write flash add %x\n", fw_write_cnt);
            FailCode = kFailImagePage;
            return false;
        }
        report(UpdateStage::kWriting, fw_write_cnt, kPagesWritten);
    }
    return true;
}

bool WriteNamePageAndPageZero(const ProgressReport &report) {
    if (!SendCOMM(kCmdWriteNamePage)) {
        ShowMsg(" Fail to write BT info\n");
        FailCode = kFailNamePage;
        return false;
    }
    report(UpdateStage::kWriting, kNamePageWritten, kPagesWritten);
    if (StopRequested()) return false;
    fw_write_cnt = 0;
    if (!SendCOMM(kCmdWriteImagePage)) {
        ShowMsg("\n Fail to write flash add %x\n", 0);
        FailCode = kFailPageZero;
        return false;
    }
    report(UpdateStage::kWriting, kPagesWritten, kPagesWritten);
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

// What a page's read back found, in the log's words, after the page's number.
const char *ReadBackFinding(const PageReadBack &found) {
    return found.outcome == PageReadBack::Outcome::kNotRead ? "could not be read back"
                                                            : "does not read back as written";
}

// One image page read back, and read once more when it differs: a reply garbled on the line
// is not a page written wrong.
bool ImagePageReadsBack(int page) {
    const PageReadBack first = ReadBackImagePage(page);
    if (first.outcome == PageReadBack::Outcome::kAsWritten) return true;
    if (first.outcome == PageReadBack::Outcome::kDiffers) {
        ShowMsg(
            "\n Flash add %x does not read back as written (byte %d differs), reading it again\n",
            page, first.first_difference);
    } else {
        ShowMsg("\n Flash add %x could not be read back, reading it again\n", page);
    }
    const PageReadBack second = ReadBackImagePage(page);
    if (second.outcome == PageReadBack::Outcome::kAsWritten) return true;
    ShowMsg(" Fail to verify flash add %x: it %s\n", page, ReadBackFinding(second));
    FailCode = kFailImagePageReadBack;
    return false;
}

// The pages the check value does not cover, read back at their own addresses and compared with
// the image, byte for byte as far as each reply carries the page (all but its last byte). A page
// that differs after the check value matched was written wrong: the attempt fails and the next
// writes it again.
bool ReadBackUncheckedPages(const ProgressReport &report) {
    ShowMsg(" Read back flash ");
    for (int page = kFirstUncheckedPage; page <= kLastUncheckedPage; ++page) {
        if (StopRequested()) return false;
        if (page % kPagesPerDot == 0) ShowMsg(".");
        if (!ImagePageReadsBack(page)) return false;
        report.Verifying(kNamePageChecked + page - kFirstUncheckedPage + 1);
    }
    ShowMsg(" Done\n");
    return true;
}

bool Verify(ImageVerification verification, const ProgressReport &report) {
    report.Verifying(0);
    if (!CheckValueMatches()) return false;
    report.Verifying(kCheckValueChecked);
    if (!VerifyNamePage()) return false;
    report.Verifying(kNamePageChecked);
    if (verification != ImageVerification::kWholeImage) return true;
    return ReadBackUncheckedPages(report);
}

}  // namespace

// The steps in turn; a cancellation stops programming before the next one begins.
unsigned char ProgramDevice(ImageVerification verification) {
    CheckValueMismatchStood = false;
    const ProgressReport report(verification);
    if (!EnableFlashWriting() || StopRequested()) return 0;
    if (!EraseFlash(report) || StopRequested()) return 0;
    if (!WriteImagePages(report) || !WriteNamePageAndPageZero(report) || StopRequested()) {
        return 0;
    }
    return Verify(verification, report) ? 1 : 0;
}

}  // namespace tornelvox
