// What flash programming tells FlashProgressSink, against the emulated adapter: every step of
// every stage in order on success, and nothing past the step where a failure or a cancellation
// ends it.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/firmware/adapter_fixture.h"
#include "tests/support/image_pages.h"

namespace tornelvox {

bool operator==(const FlashProgress &a, const FlashProgress &b) {
    return a.stage == b.stage && a.done == b.done && a.total == b.total &&
           a.verifying_total == b.verifying_total;
}

void PrintTo(const FlashProgress &p, std::ostream *os) {
    static const char *const kStages[] = {"erasing", "writing", "verifying"};
    *os << kStages[static_cast<int>(p.stage)] << ' ' << p.done << '/' << p.total << " (verifying "
        << p.verifying_total << ')';
}

namespace testing {
namespace {

using emu::FaultKind;
using emu::FaultRule;

constexpr int kEraseSteps = 30;
constexpr int kPagesWritten = 254;     // image pages 1 to 252, the name page, page 0
constexpr int kVerifySteps = 2;        // the check value, the name page read back
constexpr int kWholeImageSteps = 130;  // and image pages 125 to 252 read back

// How far one stage got: its reports run from done 0 up to last.
struct StageRun {
    UpdateStage stage;
    int total;
    int last;
};

// Every report also tells the verifying stage's size, from the first one on.
std::vector<FlashProgress> Reports(const std::vector<StageRun> &runs, int verifying_total) {
    std::vector<FlashProgress> reports;
    for (const StageRun &run : runs) {
        for (int done = 0; done <= run.last; ++done)
            reports.push_back({run.stage, done, run.total, verifying_total});
    }
    return reports;
}

constexpr StageRun kErased{UpdateStage::kErasing, kEraseSteps, kEraseSteps};
constexpr StageRun kWritten{UpdateStage::kWriting, kPagesWritten, kPagesWritten};

struct ProgressCase {
    const char *name;
    std::vector<FaultRule> faults;
    // The Cancel action, taken as soon as this report has been told.
    std::optional<FlashProgress> cancel_at;
    bool programmed;
    std::vector<StageRun> runs;  // what is told, stage by stage
    ImageVerification verification = ImageVerification::kCheckValue;
};

void PrintTo(const ProgressCase &c, std::ostream *os) {
    *os << c.name;
}

std::vector<ProgressCase> ProgressCases() {
    constexpr int kAlways = emu::kAlways;
    // A page that, left unwritten, reads back wrong (the read backs before it pass).
    const int kWrongPage = PageUnlikeErasedFrom(130);
    return {
        {"Success",
         {},
         std::nullopt,
         true,
         {kErased, kWritten, {UpdateStage::kVerifying, kVerifySteps, kVerifySteps}}},
        {"EraseStepFails",
         {{.code = kCmdEraseStep, .kind = FaultKind::kOneByteReply, .skip = 4}},
         std::nullopt,
         false,
         {{UpdateStage::kErasing, kEraseSteps, 4}}},
        {"CancelWhileErasing",
         {},
         FlashProgress{UpdateStage::kErasing, 10, kEraseSteps},
         false,
         {{UpdateStage::kErasing, kEraseSteps, 10}}},
        {"CancelAfterErasing",
         {},
         FlashProgress{UpdateStage::kErasing, kEraseSteps, kEraseSteps},
         false,
         {kErased}},
        {"ImagePageFails",
         {{.code = kCmdWriteImagePage,
           .kind = FaultKind::kPageWriteFails,
           .page = 100,
           .times = kAlways}},
         std::nullopt,
         false,
         {kErased, {UpdateStage::kWriting, kPagesWritten, 99}}},
        {"CancelWhileWriting",
         {},
         FlashProgress{UpdateStage::kWriting, 50, kPagesWritten},
         false,
         {kErased, {UpdateStage::kWriting, kPagesWritten, 50}}},
        {"NamePageFails",
         {{.code = kCmdWriteNamePage, .kind = FaultKind::kPageWriteFails, .times = kAlways}},
         std::nullopt,
         false,
         {kErased, {UpdateStage::kWriting, kPagesWritten, 252}}},
        {"CancelAfterTheNamePage",
         {},
         FlashProgress{UpdateStage::kWriting, 253, kPagesWritten},
         false,
         {kErased, {UpdateStage::kWriting, kPagesWritten, 253}}},
        {"PageZeroFails",
         {{.code = kCmdWriteImagePage,
           .kind = FaultKind::kPageWriteFails,
           .page = 0,
           .times = kAlways}},
         std::nullopt,
         false,
         {kErased, {UpdateStage::kWriting, kPagesWritten, 253}}},
        {"CheckValueDiffersTwice",
         {{.code = kCmdReadCheckValue, .kind = FaultKind::kWrongCheckValue, .times = 2}},
         std::nullopt,
         false,
         {kErased, kWritten, {UpdateStage::kVerifying, kVerifySteps, 0}}},
        {"CheckValueDiffersOnce",
         {{.code = kCmdReadCheckValue, .kind = FaultKind::kWrongCheckValue}},
         std::nullopt,
         true,
         {kErased, kWritten, {UpdateStage::kVerifying, kVerifySteps, kVerifySteps}}},
        // The first page read is the name page read before programming; the read backs follow.
        {"NamePageReadsBackWrong",
         {{.code = kCmdReadPage, .kind = FaultKind::kGarbage, .skip = 1, .times = 2}},
         std::nullopt,
         false,
         {kErased, kWritten, {UpdateStage::kVerifying, kVerifySteps, 1}}},
        // Reading the whole image back: a step for each of the 128 pages after the name page.
        {"WholeImage",
         {},
         std::nullopt,
         true,
         {kErased, kWritten, {UpdateStage::kVerifying, kWholeImageSteps, kWholeImageSteps}},
         ImageVerification::kWholeImage},
        {"WholeImagePageWrong",
         {{.code = kCmdWriteImagePage, .kind = FaultKind::kUnwrittenPage, .page = kWrongPage}},
         std::nullopt,
         false,
         {kErased, kWritten, {UpdateStage::kVerifying, kWholeImageSteps, 2 + kWrongPage - 125}},
         ImageVerification::kWholeImage},
        {"CancelWhileReadingBack",
         {},
         FlashProgress{UpdateStage::kVerifying, 50, kWholeImageSteps, kWholeImageSteps},
         false,
         {kErased, kWritten, {UpdateStage::kVerifying, kWholeImageSteps, 50}},
         ImageVerification::kWholeImage},
    };
}

class FlashProgressReports : public AdapterTest,
                             public ::testing::WithParamInterface<ProgressCase> {
  protected:
    void TearDown() override {
        session.FlashProgressSink = nullptr;
        AdapterTest::TearDown();
    }
};

TEST_P(FlashProgressReports, TellEveryStepUpToWhereProgrammingEnds) {
    const ProgressCase &c = GetParam();
    for (const FaultRule &rule : c.faults) {
        if (rule.kind == FaultKind::kUnwrittenPage && rule.page < 0) {
            GTEST_SKIP() << "the image is erased from page 130 on: no page can read back wrong";
        }
    }
    auto &adapter = StartAdapter();
    for (const FaultRule &rule : c.faults) adapter.AddFault(rule);
    session.ThreadRunning.store(true);
    ASSERT_TRUE(Set2Boot(session) && GetID(session, 1)) << Log();

    std::vector<FlashProgress> told;
    session.FlashProgressSink = [&](const FlashProgress &progress) {
        told.push_back(progress);
        if (c.cancel_at && progress == *c.cancel_at) session.ThreadRunning.store(false);
    };
    EXPECT_EQ(ProgramDevice(session, c.verification), c.programmed ? 1 : 0) << Log();

    const bool whole = c.verification == ImageVerification::kWholeImage;
    EXPECT_EQ(told, Reports(c.runs, whole ? kWholeImageSteps : kVerifySteps));
}

INSTANTIATE_TEST_SUITE_P(Programming, FlashProgressReports, ::testing::ValuesIn(ProgressCases()),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace testing
}  // namespace tornelvox
