// The command exchange against a byte-exact peer on a pseudo-terminal: reply shapes, attempts,
// read limits, chunking, capture window and failure codes.
#include <gtest/gtest.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "emulator/emulated_adapter.h"
#include "serial/serial_link.h"
#include "tests/support/peer_port_test.h"
#include "tests/support/recording_window.h"
#include "tests/support/scripted_peer.h"

namespace tornelvox {
namespace {

using testing::Bytes;
using testing::FromHex;
using testing::ScriptedPeer;

Bytes Counting(std::size_t count, unsigned start = 0) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(start + i);
    return bytes;
}

// Splits bytes into pieces of at most size bytes.
std::vector<Bytes> Pieces(const Bytes &bytes, std::size_t size) {
    std::vector<Bytes> pieces;
    for (std::size_t i = 0; i < bytes.size(); i += size) {
        pieces.emplace_back(bytes.begin() + i, bytes.begin() + std::min(bytes.size(), i + size));
    }
    return pieces;
}

class Exchange : public testing::PeerPortTest {
  protected:
    void SetUp() override {
        PeerPortTest::SetUp();
        session.dwReadAdd = 0xFD000;
    }
    // The frame of code as the session builds it.
    Bytes FrameOf(int code) const {
        unsigned char frame[kMaxFrameSize];
        const std::size_t length = BuildFrame(code, session, frame);
        return Bytes(frame, frame + length);
    }
};

struct ReplyCase {
    const char *name;
    int code;
    std::vector<std::vector<Bytes>> answers;  // one entry per frame the utility must send
    bool result;
    int fail_code;  // FailCode afterwards (the test starts it at kUntouched)
};

// A FailCode no exchange sets: it stays when an exchange records no failure.
constexpr int kUntouched = 99;

class ExchangeRules : public Exchange, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ExchangeRules, DecidesByTheReplyShape) {
    const ReplyCase &c = GetParam();
    for (const auto &answer : c.answers) peer.Then(FrameOf(c.code), answer);
    peer.Start();
    Open();
    session.FailCode = kUntouched;
    EXPECT_EQ(SendCOMM(session, c.code).usable, c.result);
    EXPECT_EQ(session.FailCode, c.fail_code);
    EXPECT_EQ(peer.Finish(), "");
}

const Bytes kProbeAnswer = FromHex("04 0E 05 01 E0 FC 00 00");

// clang-format off
INSTANTIATE_TEST_SUITE_P(Shapes, ExchangeRules, ::testing::Values(
    ReplyCase{"Full",             kCmdProbe,               {{kProbeAnswer}},                       true,  kUntouched},
    ReplyCase{"InPieces",         kCmdProbe,               {{FromHex("04 0E"), FromHex("05 01 E0"),
                                                            FromHex("FC 00 00")}},                 true,  kUntouched},
    ReplyCase{"ThreeBytes",       kCmdProbe,               {{FromHex("04 0E 05")}},                true,  kUntouched},
    ReplyCase{"OneByte",          kCmdProbe,               {{FromHex("04")}},                      false, kUntouched},
    ReplyCase{"SilentTwice",      kCmdProbe,               {{}, {}},                               false, kFailNoReply},
    ReplyCase{"SilentThenFull",   kCmdProbe,               {{}, {kProbeAnswer}},                   true,  kUntouched},
    ReplyCase{"PageReadShort",    kCmdReadPage,            {{Counting(4000)}},                     false, kUntouched},
    ReplyCase{"RateRefusedTwice", kCmdEnterBootLoaderFast, {{FromHex("04 0E 05 00")},
                                                            {FromHex("04 0E 05 00")}},             false, kFailNoReply},
    ReplyCase{"RateShortOther",   kCmdEnterBootLoaderFast, {{FromHex("00 11 22 33")}},             true,  kUntouched},
    ReplyCase{"NoReplyCommand",   kCmdQuit,                {{}},                                   true,  kUntouched}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

TEST_F(Exchange, BurstsWriteTheirFramesAndReadNothing) {
    for (int i = 0; i < 200; ++i) peer.Then(FrameOf(kCmdHandshakeBurstBeforeWake));
    peer.Then(FrameOf(kCmdWakeUp));
    for (int i = 0; i < 100; ++i) peer.Then(FrameOf(kCmdHandshakeBurstAfterWake));
    peer.Start();
    Open();
    EXPECT_TRUE(SendCOMM(session, kCmdHandshakeBurstBeforeWake));
    EXPECT_TRUE(SendCOMM(session, kCmdWakeUp));
    EXPECT_TRUE(SendCOMM(session, kCmdHandshakeBurstAfterWake));
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(Exchange, OvershootStopsAtTheFirstFullChunkAndLeavesTheRest) {
    const Bytes reply = Counting(300, 0x20);
    peer.Then(FrameOf(kCmdQueryVersion), {reply});
    peer.Start();
    Open();
    std::this_thread::sleep_for(std::chrono::milliseconds(0));
    ASSERT_TRUE(SendCOMM(session, kCmdQueryVersion));
    EXPECT_GE(session.RealReadCnt, 33);
    EXPECT_LE(session.RealReadCnt, 65);
    EXPECT_EQ(std::memcmp(session.ReadData, reply.data(),
                          static_cast<size_t>(std::min(session.RealReadCnt, 64))),
              0);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(Exchange, BytesQueuedBeforeARequestAreNotItsReply) {
    // The adapter answers the first probe twice over (a late reply and its own, back to back);
    // the second probe then meets silence. The queued reply must not answer it.
    Bytes doubled = kProbeAnswer;
    doubled.insert(doubled.end(), kProbeAnswer.begin(), kProbeAnswer.end());
    peer.Then(FrameOf(kCmdProbe), {doubled});
    peer.Then(FrameOf(kCmdProbe));
    peer.Then(FrameOf(kCmdProbe));
    peer.Start();
    Open();
    ASSERT_TRUE(SendCOMM(session, kCmdProbe));
    EXPECT_EQ(session.RealReadCnt, 8);
    session.FailCode = kFailNone;
    EXPECT_FALSE(SendCOMM(session, kCmdProbe));
    EXPECT_EQ(session.FailCode, kFailNoReply);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(Exchange, CaptureWindowIsTheFirstChunkOrTheThirdForTheParameterRead) {
    const Bytes reply = Counting(4110);
    peer.Then(FrameOf(kCmdReadPage), Pieces(reply, 256), 1);
    peer.Then(FrameOf(kCmdReadParameterPage), Pieces(reply, 256), 1);
    peer.Start();
    Open();
    ASSERT_TRUE(SendCOMM(session, kCmdReadPage));
    EXPECT_EQ(session.RealReadCnt, 4110);
    EXPECT_EQ(std::memcmp(session.ReadData, reply.data(), 64), 0);
    ASSERT_TRUE(SendCOMM(session, kCmdReadParameterPage));
    EXPECT_EQ(std::memcmp(session.ReadData, reply.data() + 512, 64), 0);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(Exchange, ParameterReadEndingBeforeItsThirdChunkLeavesTheWindowAlone) {
    std::memset(session.ReadData, 0x5A, sizeof session.ReadData);
    peer.Then(FrameOf(kCmdReadParameterPage), {Counting(400)});
    peer.Start();
    Open();
    EXPECT_FALSE(SendCOMM(session, kCmdReadParameterPage));
    EXPECT_EQ(session.RealReadCnt, 400);
    for (unsigned char byte : session.ReadData) ASSERT_EQ(byte, 0x5A);
    EXPECT_EQ(session.CapturedCnt, 0);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(Exchange, ReplyThatStopsEarlyCountsWhatCame) {
    peer.Then(FrameOf(kCmdReadPage), {Counting(100)});
    peer.Start();
    Open();
    EXPECT_FALSE(SendCOMM(session, kCmdReadPage));
    EXPECT_EQ(session.RealReadCnt, 100);
    EXPECT_EQ(session.CmdReadCnt, 4110);
    EXPECT_EQ(peer.Finish(), "");
}

// An erase step and the check value keep the adapter busy: their replies may come long after
// an ordinary exchange (10 read calls of 20 ms here) stops waiting, and still answer the first
// attempt.
TEST_F(Exchange, SlowCommandsWaitTheirLongerTime) {
    struct Slow {
        Command code;
        std::size_t reply;  // reply length
        int pause_ms;       // silence before the reply
    };
    const Slow cases[] = {
        {kCmdEraseStep, 16, 400},        // allowed 30 read calls
        {kCmdReadCheckValue, 11, 1200},  // allowed 100 read calls
    };
    for (const Slow &c : cases) peer.Then(FrameOf(c.code), {Counting(c.reply)}, c.pause_ms);
    peer.Start();
    Open();
    for (const Slow &c : cases) {
        EXPECT_TRUE(SendCOMM(session, c.code)) << c.code;
        EXPECT_EQ(session.RealReadCnt, static_cast<int>(c.reply)) << c.code;
    }
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(Exchange, ClosedPortThatCannotBeReopenedFailsTheWrite) {
    session.FailCode = kFailNone;
    EXPECT_FALSE(SendCOMM(session, kCmdProbe));
    EXPECT_EQ(session.FailCode, kFailFrameNotWritten);
    EXPECT_EQ(session.hComm, 0);
}

TEST_F(Exchange, ClosedPortIsReopenedAtTheLastPath) {
    peer.Then(FrameOf(kCmdProbe), {kProbeAnswer});
    peer.Start();
    Open();
    ClosePort(session);
    EXPECT_TRUE(SendCOMM(session, kCmdProbe));
    EXPECT_NE(session.hComm, 0);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(Exchange, WriteCommRecordsCodesWithoutFrames) {
    Open();
    for (int code : {int{kCmdNoFrame}, kFirstCommand - 1, kLastCommand + 1}) {
        EXPECT_EQ(WriteComm(session, code), 0);
        EXPECT_EQ(session.WriteComm_op, code);
    }
    EXPECT_EQ(peer.Finish(), "");  // nothing reached the line
}

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

TEST_F(Exchange, HangUpEndsTheExchangeWithoutSpinning) {
    peer.ThenHangUp(FrameOf(kCmdReadPage));
    peer.Start();
    Open();
    // The exchange itself, as the update runs it: no reopening after the hang-up.
    session.ReopenAfterHangup = false;
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = ThreadCpuSeconds();
    session.FailCode = kFailNone;
    EXPECT_FALSE(SendCOMM(session, kCmdReadPage));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = ThreadCpuSeconds() - cpu_start;
    // A silent attempt costs 10 read calls of 20 ms; a hung-up line must cost no more than
    // silence and must sleep rather than spin through those calls.
    EXPECT_LT(wall, 2.0);
    EXPECT_LT(cpu, 0.1 + wall / 4);
    // The second attempt cannot write its frame to the hung-up line.
    EXPECT_EQ(session.FailCode, kFailFrameNotWritten);
    EXPECT_TRUE(session.LineHungUp);
    session.ReopenAfterHangup = true;
}

// What an exchange gives back to its caller: the reply's bytes, or the failure's code, the
// system's errno where there is one, and words that say what went wrong.
class ExchangeResults : public Exchange {
  public:
    using Exchange::FrameOf;
    using Exchange::Open;
    using Exchange::peer;
    using Exchange::session;
    std::unique_ptr<emulator::EmulatedAdapter> adapter;  // for a line that takes no input
    unsigned char page[kPageSize] = {};
};

// Any nonzero errno: the one the system gave depends on the line.
constexpr int kSomeErrno = -1;

struct ResultCase {
    const char *name;
    void (*arrange)(ExchangeResults &);  // puts the line in the state the row names
    int code;
    bool usable;
    int reason;         // the result's failure code
    int error;          // the result's errno: 0, a value, or kSomeErrno
    const char *words;  // part of the result's text (empty: the text must be empty)
    Bytes reply;
    int fail_code;  // the session's FailCode afterwards, recorded as ever
};

class ExchangeResultTable : public ExchangeResults,
                            public ::testing::WithParamInterface<ResultCase> {};

TEST_P(ExchangeResultTable, CarriesTheReplyOrTheFailureAndItsReason) {
    const ResultCase &c = GetParam();
    c.arrange(*this);
    session.FailCode = kUntouched;
    const ExchangeResult result = SendCOMM(session, c.code);
    EXPECT_EQ(static_cast<bool>(result), c.usable);
    EXPECT_EQ(result.code, c.reason);
    if (c.error == kSomeErrno) {
        EXPECT_NE(result.error, 0);
    } else {
        EXPECT_EQ(result.error, c.error)
            << std::error_code(result.error, std::generic_category()).message();
    }
    if (*c.words == '\0') {
        EXPECT_EQ(result.text, "");
    } else {
        EXPECT_NE(result.text.find(c.words), std::string::npos) << result.text;
    }
    EXPECT_EQ(Bytes(result.reply.begin(), result.reply.end()), c.reply);
    EXPECT_EQ(session.FailCode, c.fail_code);
    session.ReopenAfterHangup = true;
    if (adapter) adapter->Stop();
    EXPECT_EQ(peer.Finish(), "");
}

// The adapter answers the probe in full.
void Answers(ExchangeResults &t) {
    t.peer.Then(t.FrameOf(kCmdProbe), {kProbeAnswer});
    t.peer.Start();
    t.Open();
}

// The adapter hears both probes and says nothing.
void Silent(ExchangeResults &t) {
    t.peer.Then(t.FrameOf(kCmdProbe));
    t.peer.Then(t.FrameOf(kCmdProbe));
    t.peer.Start();
    t.Open();
}

// The line hangs up after the first probe; as in an update, the port is not reopened, so the
// second attempt meets the dead line.
void HangsUp(ExchangeResults &t) {
    t.peer.ThenHangUp(t.FrameOf(kCmdProbe));
    t.peer.Start();
    t.Open();
    t.session.ReopenAfterHangup = false;
}

// The port is closed and its node is gone.
void NodeGone(ExchangeResults &t) {
    std::snprintf(t.session.ComPortName, sizeof t.session.ComPortName, "%s",
                  "/dev/tornelvox-no-such-node");
}

// An image page whose bytes were never given.
void NoPageBytes(ExchangeResults &t) {
    t.peer.Start();
    t.Open();
    t.session.page = {};
}

// An adapter that never reads: page frames fill the line's buffers until one cannot be written.
void TakesNoInput(ExchangeResults &t) {
    t.adapter =
        std::make_unique<emulator::EmulatedAdapter>(emulator::AdapterConfig{.never_reads = true});
    ASSERT_TRUE(t.adapter->Start());
    std::snprintf(t.session.ComPortName, sizeof t.session.ComPortName, "%s",
                  t.adapter->DevicePath().c_str());
    ASSERT_TRUE(InitPort(t.session));
    t.session.WriteDeadlineMs = 100;
    t.session.page = {t.page, kPageSize};
    for (int frame = 0; frame < 64; ++frame) {
        if (WriteComm(t.session, kCmdWriteImagePage) == kWriteFailed) break;
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Outcomes, ExchangeResultTable, ::testing::Values(
    ResultCase{"UsableReply",  Answers,      kCmdProbe,          true,  kFailNone,            0,           "",                                         kProbeAnswer, kUntouched},
    ResultCase{"Silent",       Silent,       kCmdProbe,          false, kFailNoReply,         0,           "did not answer within 0.2 s, twice",       {},           kFailNoReply},
    ResultCase{"HungUp",       HangsUp,      kCmdProbe,          false, kFailFrameNotWritten, kSomeErrno,  "the line hung up",                         {},           kFailFrameNotWritten},
    ResultCase{"TakesNoInput", TakesNoInput, kCmdWriteImagePage, false, kFailFrameNotWritten, 0,           "within 0.8 s: the device took no input",   {},           kFailFrameNotWritten},
    ResultCase{"NoPageBytes",  NoPageBytes,  kCmdWriteImagePage, false, kFailFrameNotWritten, 0,           "its bytes were not given",                 {},           kFailFrameNotWritten},
    ResultCase{"CannotOpen",   NodeGone,     kCmdProbe,          false, kFailPortOpen,        ENOENT,      "/dev/tornelvox-no-such-node could not be opened: No such file", {}, kFailFrameNotWritten}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace tornelvox
