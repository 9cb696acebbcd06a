// Programming the adapter's flash: write enable, erase, image pages, name page, page 0, verify.
#include <cstring>

#include "firmware/check_value.h"
#include "firmware/firmware_update.h"
#include "firmware/image_read_back.h"

namespace tornelvox {

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

// Tells the session's FlashProgressSink how far programming got, with the verifying stage's size
// for this programming's verification.
class ProgressReport {
  public:
    ProgressReport(const FirmwareSession &session, ImageVerification verification)
        : sink_(session.FlashProgressSink),
          verifying_total_(verification == ImageVerification::kWholeImage
                               ? kWholeImageVerifyingSteps
                               : kCheckValueVerifyingSteps) {}

    void operator()(UpdateStage stage, int done, int total) const {
        if (sink_) sink_(FlashProgress{stage, done, total, verifying_total_});
    }
    void Verifying(int done) const { (*this)(UpdateStage::kVerifying, done, verifying_total_); }

  private:
    const std::function<void(const FlashProgress &)> &sink_;
    const int verifying_total_;
};

// The Cancel action clears ThreadRunning; programming looks at it between its steps, so a
// cancellation takes effect before the next erase step or page, never inside an exchange. True,
// after saying so in the log, when programming is to stop.
bool StopRequested(FirmwareSession &session) {
    if (session.ThreadRunning.load()) return false;
    ShowMsg(session, "\n\nForce Stop \n");
    return true;
}

// Writes image page fw_write_cnt (0 to 252): the page frame carries that page of the image. A
// count outside the image gives the frame no page, and no frame is written.
bool SendImagePage(FirmwareSession &session) {
    const int page = session.fw_write_cnt;
    if (page >= 0 && page < kImagePages) {
        session.page = {rawData + static_cast<std::size_t>(page) * kPageSize, kPageSize};
    } else {
        session.page = {};
    }
    return static_cast<bool>(SendCOMM(session, kCmdWriteImagePage));
}

bool EnableFlashWriting(FirmwareSession &session) {
    if (!SendCOMM(session, kCmdWriteEnableFirst)) {
        ShowMsg(session, " Fail on EN_FLASH_WR_1\n");
        session.FailCode = kFailWriteEnableFirst;
        return false;
    }
    if (!SendCOMM(session, kCmdWriteEnableSecond)) {
        ShowMsg(session, " Fail on EN_FLASH_WR_2\n");
        session.FailCode = kFailWriteEnableSecond;
        return false;
    }
    if (!SendCOMM(session, kCmdWriteEnableFirst)) {
        ShowMsg(session, " Fail on EN_FLASH_WR_1\n");
        session.FailCode = kFailWriteEnableRepeated;
        return false;
    }
    return true;
}

bool EraseFlash(FirmwareSession &session, const ProgressReport &report) {
    ShowMsg(session, " Erase flash ");
    report(UpdateStage::kErasing, 0, kEraseSteps);
    for (session.flash_cnt = 0; session.flash_cnt < kEraseSteps; ++session.flash_cnt) {
        if (StopRequested(session)) return false;
        ShowMsg(session, ".");
        if (!SendCOMM(session, kCmdEraseStep)) {
            ShowMsg(session, "\n Fail on flash %d\n", session.flash_cnt);
            session.FailCode = kFailEraseStep;
            return false;
        }
        report(UpdateStage::kErasing, session.flash_cnt + 1, kEraseSteps);
    }
    ShowMsg(session, " Done\n");
    return true;
}

// Image pages 1 to 252. Page 0 goes last, after the name page: an attempt that fails earlier
// leaves it erased, so a half-programmed adapter never starts from a half-written image.
bool WriteImagePages(FirmwareSession &session, const ProgressReport &report) {
    ShowMsg(session, " Start to write to Flash. It may take up to 5 minutes. \n");
    ShowMsg(session, " Write flash ");
    report(UpdateStage::kWriting, 0, kPagesWritten);
    for (session.fw_write_cnt = 1; session.fw_write_cnt <= kLastImagePage; ++session.fw_write_cnt) {
        if (StopRequested(session)) return false;
        if (session.fw_write_cnt % kPagesPerDot == 0) ShowMsg(session, ".");
        if (!SendImagePage(session)) {
            ShowMsg(session, "\n Fail to write flash add %x\n", session.fw_write_cnt);
            session.FailCode = kFailImagePage;
            return false;
        }
        report(UpdateStage::kWriting, session.fw_write_cnt, kPagesWritten);
    }
    return true;
}

bool WriteNamePageAndPageZero(FirmwareSession &session, const ProgressReport &report) {
    if (!SendCOMM(session, kCmdWriteNamePage)) {
        ShowMsg(session, " Fail to write BT info\n");
        session.FailCode = kFailNamePage;
        return false;
    }
    report(UpdateStage::kWriting, kNamePageWritten, kPagesWritten);
    if (StopRequested(session)) return false;
    session.fw_write_cnt = 0;
    if (!SendImagePage(session)) {
        ShowMsg(session, "\n Fail to write flash add %x\n", 0);
        session.FailCode = kFailPageZero;
        return false;
    }
    report(UpdateStage::kWriting, kPagesWritten, kPagesWritten);
    ShowMsg(session, " Done\n");
    return true;
}

// Asks for the check value and compares it with FW_CRC. Returns -1 when the exchange failed,
// else the number of differing bytes; each difference sets FailCode kFailCheckValueMismatch.
int VerifyOnce(FirmwareSession &session) {
    if (!SendCOMM(session, kCmdReadCheckValue)) {
        ShowMsg(session, " Fail to verify flash\n");
        session.FailCode = kFailCheckValueRead;
        return -1;
    }
    const int mismatches = CheckValueMismatches(session.ReadData, session.CapturedCnt);
    if (mismatches > 0) session.FailCode = kFailCheckValueMismatch;
    return mismatches;
}

void ShowCheckValueDump(FirmwareSession &session, const char *headline) {
    ShowMsg(session, "%s", headline);
    ShowCheckValueLine(session, " Exp:", FW_CRC, kCheckValueSize);
    ShowCheckValueLine(session, " Got:", session.ReadData + kCheckValueOffset,
                       DeliveredCheckValueBytes(session.CapturedCnt));
}

// True when the adapter reports the image's check value, at the first or the second asking.
bool CheckValueMatches(FirmwareSession &session) {
    ShowMsg(session, " Verify flash ...");
    int mismatches = VerifyOnce(session);
    if (mismatches < 0) return false;
    ShowMsg(session, " Done\n");
    if (mismatches == 0) return true;
    ShowCheckValueDump(session, " !!!!! CRC error !!!!! \n");

    // The check value is asked for once more: a match now counts, though FailCode keeps
    // kFailCheckValueMismatch.
    mismatches = VerifyOnce(session);
    if (mismatches < 0) return false;
    if (mismatches == 0) return true;
    ShowCheckValueDump(session, " !!!!! CRC second check error !!!!! \n");
    session.CheckValueMismatchStood = true;
    return false;
}

// Reads the name page back (kCmdReadPage at 0xFD000, the same read as the name page read). True
// when the reply delivered the page's head and it holds exactly what was written from BT_ADD.
bool NamePageReadsBackAsWritten(FirmwareSession &session) {
    session.dwReadAdd = kNamePageAddress;
    if (!SendCOMM(session, kCmdReadPage)) return false;
    constexpr int kPageInReply = 15;
    if (session.CapturedCnt < kPageInReply + static_cast<int>(kNamePageHead)) return false;
    unsigned char written[kPageSize];
    FillNamePage(session.BT_ADD, written);
    return std::memcmp(session.ReadData + kPageInReply, written, kNamePageHead) == 0;
}

// The check value covers only the first 0x7D000 bytes; the name page lies outside it, so after
// the check value matched, the page is read back. Like the check value, it gets a second read
// before the attempt fails.
bool VerifyNamePage(FirmwareSession &session) {
    if (NamePageReadsBackAsWritten(session)) return true;
    ShowMsg(session, " BT info does not read back as written, reading it again\n");
    if (NamePageReadsBackAsWritten(session)) return true;
    ShowMsg(session, " Fail to verify BT info\n");
    session.FailCode = kFailNamePageReadBack;
    return false;
}

// What a page's read back found, in the log's words, after the page's number.
const char *ReadBackFinding(const PageReadBack &found) {
    return found.outcome == PageReadBack::Outcome::kNotRead ? "could not be read back"
                                                            : "does not read back as written";
}

// One image page read back, and read once more when it differs: a reply garbled on the line
// is not a page written wrong.
bool ImagePageReadsBack(FirmwareSession &session, int page) {
    const PageReadBack first = ReadBackImagePage(session, page);
    if (first.outcome == PageReadBack::Outcome::kAsWritten) return true;
    if (first.outcome == PageReadBack::Outcome::kDiffers) {
        ShowMsg(
            session,
            "\n Flash add %x does not read back as written (byte %d differs), reading it again\n",
            page, first.first_difference);
    } else {
        ShowMsg(session, "\n Flash add %x could not be read back, reading it again\n", page);
    }
    const PageReadBack second = ReadBackImagePage(session, page);
    if (second.outcome == PageReadBack::Outcome::kAsWritten) return true;
    ShowMsg(session, " Fail to verify flash add %x: it %s\n", page, ReadBackFinding(second));
    session.FailCode = kFailImagePageReadBack;
    return false;
}

// The pages the check value does not cover, read back at their own addresses and compared with
// the image, byte for byte as far as each reply carries the page (all but its last byte). A page
// that differs after the check value matched was written wrong: the attempt fails and the next
// writes it again.
bool ReadBackUncheckedPages(FirmwareSession &session, const ProgressReport &report) {
    ShowMsg(session, " Read back flash ");
    for (int page = kFirstUncheckedPage; page <= kLastUncheckedPage; ++page) {
        if (StopRequested(session)) return false;
        if (page % kPagesPerDot == 0) ShowMsg(session, ".");
        if (!ImagePageReadsBack(session, page)) return false;
        report.Verifying(kNamePageChecked + page - kFirstUncheckedPage + 1);
    }
    ShowMsg(session, " Done\n");
    return true;
}

bool Verify(FirmwareSession &session, ImageVerification verification,
            const ProgressReport &report) {
    report.Verifying(0);
    if (!CheckValueMatches(session)) return false;
    report.Verifying(kCheckValueChecked);
    if (!VerifyNamePage(session)) return false;
    report.Verifying(kNamePageChecked);
    if (verification != ImageVerification::kWholeImage) return true;
    return ReadBackUncheckedPages(session, report);
}

}  // namespace

// The steps in turn; a cancellation stops programming before the next one begins.
unsigned char ProgramDevice(FirmwareSession &session, ImageVerification verification) {
    session.CheckValueMismatchStood = false;
    const ProgressReport report(session, verification);
    if (!EnableFlashWriting(session) || StopRequested(session)) return 0;
    if (!EraseFlash(session, report) || StopRequested(session)) return 0;
    if (!WriteImagePages(session, report) || !WriteNamePageAndPageZero(session, report) ||
        StopRequested(session)) {
        return 0;
    }
    return Verify(session, verification, report) ? 1 : 0;
}

}  // namespace tornelvox
