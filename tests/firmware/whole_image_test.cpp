// Proving the whole image: the check value covers image pages 0 to 124 only, so a page after them
// that the adapter acknowledged but never wrote passes unseen, unless the pages are read back.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/firmware/adapter_fixture.h"
#include "tests/support/image_pages.h"

namespace tornelvox::testing {
namespace {

using emu::FaultKind;
using emu::FaultRule;

constexpr std::uint32_t kNamePageRead = 0xFD000;

// A page number as the log gives it, in hexadecimal.
std::string Hex(int page) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", page);
    return text;
}

// The image's page as the adapter must hold it.
std::vector<std::uint8_t> ImagePage(int page) {
    const unsigned char *bytes = rawData + static_cast<std::size_t>(page) * kPageSize;
    return {bytes, bytes + kPageSize};
}

// The flash addresses of the page reads the adapter received, in order.
std::vector<std::uint32_t> PageReadAddresses(const emu::EmulatedAdapter &adapter) {
    std::vector<std::uint32_t> addresses;
    for (const emu::FrameRecord &record : adapter.Frames()) {
        if (record.kind != emu::RecordKind::kFrame || record.code != kCmdReadPage) continue;
        if (record.bytes.size() < 12) continue;
        addresses.push_back(record.bytes[8] | record.bytes[9] << 8 | record.bytes[10] << 16 |
                            record.bytes[11] << 24);
    }
    return addresses;
}

class WholeImage : public AdapterTest {
  protected:
    void SetUp() override {
        AdapterTest::SetUp();
        page_ = PageUnlikeErasedFrom(kFirstUncheckedPage);
        if (page_ < 0) GTEST_SKIP() << "the image is erased after page 124: nothing to read back";
    }

    // Boot loader, name page, then programming with the verification asked for.
    bool Program(ImageVerification verification) {
        session.ThreadRunning.store(true);
        if (!Set2Boot(session) || !GetID(session, 1)) return false;
        Adapter().ClearRecords();
        window_->Clear();
        return ProgramDevice(session, verification) == 1;
    }

    int page_ = -1;  // an image page after the check value's range that reads wrong erased
};

// The fault, and what catches it: the adapter answers the page write as done but never writes
// the page. The check value matches all the same, so the default update succeeds with a wrong
// page; reading the whole image back finds it.
TEST_F(WholeImage, AcknowledgedButUnwrittenPageIsCaughtOnlyByReadingBack) {
    auto &adapter = StartAdapter();
    adapter.AddFault(
        {.code = kCmdWriteImagePage, .kind = FaultKind::kUnwrittenPage, .page = page_});
    EXPECT_TRUE(Program(ImageVerification::kCheckValue)) << Log();
    EXPECT_NE(adapter.ReadFlash(page_ * kPageSize, kPageSize), ImagePage(page_));
    EXPECT_EQ(Log().find("Read back"), std::string::npos) << Log();

    adapter.AddFault(
        {.code = kCmdWriteImagePage, .kind = FaultKind::kUnwrittenPage, .page = page_});
    session.FailCode = kFailNone;
    EXPECT_FALSE(Program(ImageVerification::kWholeImage)) << Log();
    EXPECT_EQ(session.FailCode, kFailImagePageReadBack);
    const std::string log = Log();
    EXPECT_NE(log.find(" Verify flash ... Done\n Read back flash "), std::string::npos) << log;
    const std::string tail = std::string(" Fail to verify flash add ") + Hex(page_) +
                             ": it does not read back as written\n";
    ASSERT_GE(log.size(), tail.size()) << log;
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << log;
    EXPECT_NE(log.find(std::string("\n Flash add ") + Hex(page_) +
                       " does not read back as written (byte "),
              std::string::npos)
        << log;
    EXPECT_FALSE(session.CheckValueMismatchStood) << "the next attempt writes it again";
}

// A clean run reads the name page, then every page the check value does not cover, each at its
// own address, and logs a dot for every fourth page as the writing does.
TEST_F(WholeImage, ReadsEachUncheckedPageAtItsAddress) {
    auto &adapter = StartAdapter();
    ASSERT_TRUE(Program(ImageVerification::kWholeImage)) << Log();

    std::vector<std::uint32_t> expected = {kNamePageRead};
    for (int page = kFirstUncheckedPage; page <= kLastUncheckedPage; ++page) {
        expected.push_back(static_cast<std::uint32_t>(page) * kPageSize);
    }
    EXPECT_EQ(PageReadAddresses(adapter), expected);
    const std::string log = Log();
    const std::string tail =
        " Verify flash ... Done\n Read back flash " + Repeat('.', 32) + " Done\n";
    ASSERT_GE(log.size(), tail.size()) << log;
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << log;
}

// How the read back takes replies that are wrong on the line rather than in the flash.
struct ReplyCase {
    const char *name;
    FaultKind kind;
    int times;
    std::size_t bytes;
    bool programmed;
    const char *finding;  // the log's words for the page; nullptr: nothing is said
};

void PrintTo(const ReplyCase &c, std::ostream *os) {
    *os << c.name;
}

class ReadBackReply : public WholeImage, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReadBackReply, IsReadOnceMoreThenJudged) {
    const ReplyCase &c = GetParam();
    auto &adapter = StartAdapter();
    ASSERT_TRUE(Set2Boot(session) && GetID(session, 1)) << Log();
    // The fault hits the read backs of one page only, not the name page reads.
    adapter.AddFault({.code = kCmdReadPage,
                      .kind = c.kind,
                      .page = page_,
                      .times = c.times,
                      .bytes = c.bytes,
                      .delay_ms = 2});
    window_->Clear();
    session.FailCode = kFailNone;
    session.ThreadRunning.store(true);

    EXPECT_EQ(ProgramDevice(session, ImageVerification::kWholeImage), c.programmed ? 1 : 0)
        << Log();
    const std::string log = Log();
    if (c.finding == nullptr) {
        EXPECT_EQ(log.find("Flash add"), std::string::npos) << log;
        EXPECT_EQ(session.FailCode, kFailNone);
    } else {
        EXPECT_NE(log.find(std::string("\n Flash add ") + Hex(page_) + " " + c.finding),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find(", reading it again\n"), std::string::npos) << log;
    }
    if (!c.programmed) {
        EXPECT_EQ(session.FailCode, kFailImagePageReadBack);
        EXPECT_NE(
            log.find(std::string(" Fail to verify flash add ") + Hex(page_) + ": it " + c.finding),
            std::string::npos)
            << log;
        // The page was read twice, and nothing after it.
        const std::vector<std::uint32_t> reads = PageReadAddresses(adapter);
        ASSERT_GE(reads.size(), 2u);
        EXPECT_EQ(reads[reads.size() - 1], static_cast<std::uint32_t>(page_) * kPageSize);
        EXPECT_EQ(reads[reads.size() - 2], static_cast<std::uint32_t>(page_) * kPageSize);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReadBackReply,
    ::testing::Values(
        ReplyCase{"DiffersOnceThenReadsRight", FaultKind::kErasedPageRead, 1, 0, true,
                  "does not read back as written"},
        ReplyCase{"DiffersTwice", FaultKind::kErasedPageRead, 2, 0, false,
                  "does not read back as written"},
        ReplyCase{"GarbledTwice", FaultKind::kGarbage, 2, 0, false,
                  "does not read back as written"},
        ReplyCase{"ShortOnceThenWhole", FaultKind::kShortReply, 1, 100, true,
                  "could not be read back"},
        // A reply that stops one byte early never passes, whatever the bytes before it.
        ReplyCase{"OneByteShortTwice", FaultKind::kShortReply, 2, 4109, false,
                  "could not be read back"},
        ReplyCase{"SilentTwice", FaultKind::kSilence, 4, 0, false, "could not be read back"},
        // Bytes past the reply's end, and a reply in pieces that do not fall on the read
        // loop's chunks, are no reason to read again.
        ReplyCase{"ExtraBytesAfterTheReply", FaultKind::kExtraBytes, emu::kAlways, 300, true,
                  nullptr},
        ReplyCase{"InOddPieces", FaultKind::kSplitReply, emu::kAlways, 301, true, nullptr}),
    [](const auto &info) { return std::string(info.param.name); });

// A failed attempt's wrong page is written again by the next attempt, as after any failure.
TEST_F(WholeImage, UpdateRetriesAfterAPageThatReadsBackWrong) {
    auto &adapter = StartAdapter();
    adapter.AddFault(
        {.code = kCmdWriteImagePage, .kind = FaultKind::kUnwrittenPage, .page = page_});
    window_->VerifyWith(ImageVerification::kWholeImage);

    ASSERT_TRUE(RunUpdate());
    EXPECT_EQ(session.LastUpdateEnd.load(), UpdateEnd::kSuccess) << Log();
    const std::string log = Log();
    EXPECT_NE(log.find(std::string(" Fail to verify flash add ") + Hex(page_) +
                       ": it does not read back as written\n Try again. Try count = 1\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(pauses_, std::vector<unsigned>{3});
    EXPECT_EQ(adapter.ReadFlash(page_ * kPageSize, kPageSize), ImagePage(page_));
}

// What a page read's reply carries of the page: page byte k at reply byte 15 + k, up to page byte
// 4,094. The last byte is not in the reply, and a reply shorter than 4,110 bytes is no read.
TEST(PageReplyComparison, ComparesEveryPageByteTheReplyCarries) {
    std::vector<unsigned char> page(kPageSize);
    for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<unsigned char>(i * 7 + 1);
    std::vector<unsigned char> reply(kPageReplyLength, 0x00);
    std::copy(page.begin(), page.begin() + kPageBytesInReply, reply.begin() + kPageInReply);

    using Outcome = PageReadBack::Outcome;
    struct Row {
        const char *name;
        std::function<void(std::vector<unsigned char> &reply, std::vector<unsigned char> &page)>
            change;
        Outcome outcome;
        int first_difference;
    };
    const Row rows[] = {
        {"AsWritten", [](auto &, auto &) {}, Outcome::kAsWritten, -1},
        {"HeadIsNotThePage", [](auto &r, auto &) { r[14] ^= 0xFF; }, Outcome::kAsWritten, -1},
        {"LastPageByteIsNotCarried", [](auto &, auto &p) { p[4095] ^= 0xFF; }, Outcome::kAsWritten,
         -1},
        {"FirstPageByte", [](auto &r, auto &) { r[15] ^= 0x01; }, Outcome::kDiffers, 0},
        {"LastCarriedByte", [](auto &r, auto &) { r[4109] ^= 0x80; }, Outcome::kDiffers, 4094},
        {"FirstOfSeveral",
         [](auto &r, auto &) {
             r[3000] ^= 1;
             r[2000] ^= 1;
         },
         Outcome::kDiffers, 2000 - 15},
        {"BytesPastTheReplyAreNotRead", [](auto &r, auto &) { r.push_back(0x55); },
         Outcome::kAsWritten, -1},
        {"OneByteShort", [](auto &r, auto &) { r.pop_back(); }, Outcome::kNotRead, -1},
        {"Empty", [](auto &r, auto &) { r.clear(); }, Outcome::kNotRead, -1},
        {"PageTooShortToCompare", [](auto &, auto &p) { p.resize(100); }, Outcome::kNotRead, -1},
    };
    for (const Row &row : rows) {
        std::vector<unsigned char> r = reply;
        std::vector<unsigned char> p = page;
        row.change(r, p);
        const PageReadBack found = ComparePageReply(r, p);
        EXPECT_EQ(found.outcome, row.outcome) << row.name;
        EXPECT_EQ(found.first_difference, row.first_difference) << row.name;
    }
}

}  // namespace
}  // namespace tornelvox::testing
