#include "serial/command_exchange.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>

#include "serial/command_frames.h"
#include "serial/serial_port.h"

namespace tornelvox {

namespace {

// Longest chunk a read asks for. Every read of a chunk asks for the full size again, so a chunk
// can end up holding up to twice that less one byte; the buffer holds that much.
constexpr int kChunkSize = 256;
constexpr int kChunkBufferSize = 2 * kChunkSize;

// One read call: waits up to ReadCallTimeoutMs for input, then reads what is there, at most size
// bytes. Returns the bytes delivered; an error, a timeout or a hang-up deliver 0. A hung-up line
// takes the call's whole time all the same, so each call stays bounded and the callers' call
// limits end the read.
int ReadOnce(LinkSession &link, unsigned char *into, int size) {
    if (size <= 0) return 0;
    const std::chrono::milliseconds wait(link.ReadCallTimeoutMs.load(std::memory_order_relaxed));
    const Transfer got = link.LinePort().Read(into, static_cast<std::size_t>(size), wait);
    if (got.hung_up) NoteHangup(link);
    if (got.error != 0) link.LineError = got.error;
    return static_cast<int>(got.bytes);
}

}  // namespace

void DumpRead(LinkSession &link, int count, const unsigned char *data) {
    if (count <= 0) return;
    const int n = std::min(count, kCaptureSize);
    std::memcpy(link.ReadData, data, static_cast<size_t>(n));
    link.CapturedCnt = n;
}

namespace {

// Appends what a chunk received to whole, as far as its room goes.
void Keep(WholeReply *whole, const unsigned char *data, int count) {
    if (whole == nullptr || count <= 0) return;
    const std::size_t room = whole->room.size();
    const std::size_t kept = std::min(static_cast<std::size_t>(std::max(whole->kept, 0)), room);
    const std::size_t n = std::min(static_cast<std::size_t>(count), room - kept);
    if (n > 0) std::memcpy(whole->room.data() + kept, data, n);
    whole->kept = static_cast<int>(kept + n);
}

}  // namespace

namespace {

// How long a reply took, from the moment its frame was written to the arrival of its last byte.
class ArrivalTimes {
  public:
    void Arrived(int bytes) {
        if (bytes <= 0) return;
        last_ = Port::Clock::now();
        total_ += bytes;
    }
    // Adds the frame's and the reply's bytes, and the time the exchange took, to the session's
    // timing of long exchanges when the reply was long enough to tell the line's rate.
    void Record(LinkSession &link) const {
        if (total_ < kLineTimingBytes) return;
        link.LongExchangeTiming.bytes +=
            static_cast<std::size_t>(total_ + FrameLength(link.WriteComm_op));
        link.LongExchangeTiming.seconds += std::chrono::duration<double>(last_ - start_).count();
    }

  private:
    const Port::Clock::time_point start_ = Port::Clock::now();
    Port::Clock::time_point last_{};
    int total_ = 0;
};

}  // namespace

int ReadCOMM(LinkSession &link, int wanted, WholeReply *whole) {
    const int calls_per_chunk = ReadCallsPerChunk(link.WriteComm_op);
    const int capture_chunk = CaptureChunk(link.WriteComm_op);
    link.CapturedCnt = 0;
    if (whole != nullptr) whole->kept = 0;
    if (wanted <= 0) return 0;

    ArrivalTimes arrivals;
    int total = 0;
    int remaining = wanted;
    unsigned char chunk[kChunkBufferSize];
    for (int chunk_number = 0;; ++chunk_number) {
        const int size = std::min(remaining, kChunkSize);
        int received = 0;
        for (int call = 0; call < calls_per_chunk && received < size; ++call) {
            // Each call asks for the whole chunk size again, as long as the buffer has room.
            const int got =
                ReadOnce(link, chunk + received, std::min(size, kChunkBufferSize - received));
            arrivals.Arrived(got);
            received += got;
        }
        if (received == 0) break;
        if (chunk_number == capture_chunk) DumpRead(link, received, chunk);
        Keep(whole, chunk, received);
        total += received;
        remaining -= received;
        if (remaining <= 0) break;
    }
    arrivals.Record(link);
    return total;
}

namespace {

// A reply the catalogue wants shaped like the chip's (an HCI Command Complete event, 04 0E)
// whose own bytes do not start like one. Only delivered bytes are judged: a lone 04 may be the
// start of the chip's answer, cut short.
bool NotShapedLikeTheChip(const LinkSession &link, int code) {
    if (!ReplyMustBeCommandComplete(code)) return false;
    return (link.CapturedCnt >= 1 && link.ReadData[0] != 0x04) ||
           (link.CapturedCnt >= 2 && link.ReadData[1] != 0x0E);
}

// What a reply that came, but shorter than the catalogue's length, means for the exchange.
enum class ShortOutcome { kUsable, kUnusable, kTryAgain };

// A short reply that starts like a Command Complete (04 0E 05): the chip refused the request.
bool IsRefusal(const LinkSession &link) {
    return link.CapturedCnt >= 3 && link.ReadData[0] == 0x04 && link.ReadData[1] == 0x0E &&
           link.ReadData[2] == 0x05;
}

// Judges the short reply of the last read by the catalogue's rule for code.
ShortOutcome JudgeShortReply(const LinkSession &link, int code) {
    switch (ShortReplyRule(code)) {
        case ShortReply::kAcceptUnlessRefused:
            return IsRefusal(link) ? ShortOutcome::kTryAgain : ShortOutcome::kUsable;
        case ShortReply::kFails:
            return ShortOutcome::kUnusable;
        case ShortReply::kAtLeastTwoBytes:
            break;
    }
    return link.RealReadCnt >= 2 ? ShortOutcome::kUsable : ShortOutcome::kUnusable;
}

// How one run of the exchange ended.
enum class Outcome {
    kAnswered,       // a usable reply was read
    kSent,           // the frames went out and the command has no reply to read
    kPortNotOpened,  // the port was closed and could not be opened again; nothing was written
    kNotWritten,     // a frame was not written whole
    kUnusable,       // a reply came but the catalogue's rules leave it unusable
    kNoReply,        // two attempts brought no usable reply
};

Outcome ExchangeOnce(LinkSession &link, int code, WholeReply *whole) {
    link.LineHungUp = false;
    link.ForeignReply = false;
    link.LineError = 0;
    if (!link.LinePort().IsOpen()) InitPort(link);
    // A port that could not be opened fails the write below, as the session records it; the
    // result names the open that failed.
    const Outcome not_written =
        link.LinePort().IsOpen() ? Outcome::kNotWritten : Outcome::kPortNotOpened;

    // Burst codes only send: the adapter's boot loader answers none of these frames. The 4 us
    // pause keeps the frames back to back without merging them into one write. A frame not
    // written whole ends the burst: each further frame would wait out its own write deadline.
    if (const int frames = BurstFrames(code); frames > 0) {
        for (int i = 0; i < frames; ++i) {
            if (WriteComm(link, code) == kWriteFailed) return not_written;
            usleep(4);
        }
        return Outcome::kSent;
    }

    for (int attempt = 0; attempt < 2; ++attempt) {
        // Whatever is still queued from the line belongs to an earlier request: a reply that
        // came after its exchange stopped waiting, or the tail of one cut short. Taken as the
        // start of this reply it would answer this request in the other's place, and every
        // later request would read the reply before its own, so that a page the adapter never
        // wrote could pass as written. Only a reply that comes after its request is its reply.
        link.LinePort().Discard(Pending::kInput);
        link.CmdReadCnt = WriteComm(link, code);
        if (link.CmdReadCnt == kWriteFailed) return not_written;
        if (link.CmdReadCnt <= 0) return Outcome::kSent;
        link.RealReadCnt = ReadCOMM(link, link.CmdReadCnt, whole);
        if (link.RealReadCnt > 0 && NotShapedLikeTheChip(link, code)) {
            // An echo, a stream of text, another device's answer: not the adapter.
            link.ForeignReply = true;
            continue;
        }
        if (link.RealReadCnt >= link.CmdReadCnt) return Outcome::kAnswered;
        if (link.RealReadCnt == 0) continue;
        switch (JudgeShortReply(link, code)) {
            case ShortOutcome::kUsable:
                return Outcome::kAnswered;
            case ShortOutcome::kUnusable:
                return Outcome::kUnusable;
            case ShortOutcome::kTryAgain:
                continue;
        }
    }
    link.FailCode = kFailNoReply;
    return Outcome::kNoReply;
}

// A time in seconds, to a tenth: "3 s", "2.7 s".
std::string Seconds(std::chrono::milliseconds time) {
    const long long tenths = (time.count() + 50) / 100;
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10 != 0) text += "." + std::to_string(tenths % 10);
    return text + " s";
}

// The system's words for error, after ": "; empty for no error.
std::string Reason(int error) {
    if (error == 0) return "";
    return ": " + std::error_code(error, std::generic_category()).message();
}

ExchangeResult Failed(FailReason code, int error, std::string text) {
    ExchangeResult result;
    result.code = code;
    result.error = error;
    result.text = std::move(text);
    return result;
}

// The result of a run of the exchange that ended as outcome.
ExchangeResult Describe(const LinkSession &link, int code, Outcome outcome) {
    const std::string port(link.ComPortName, strnlen(link.ComPortName, kPortPathSize));
    switch (outcome) {
        case Outcome::kAnswered:
        case Outcome::kSent: {
            ExchangeResult result;
            result.usable = true;
            if (outcome == Outcome::kAnswered) {
                result.reply = std::span<const unsigned char>(
                    link.ReadData,
                    static_cast<std::size_t>(std::clamp(link.CapturedCnt, 0, kCaptureSize)));
            }
            return result;
        }
        case Outcome::kPortNotOpened:
            if (link.LinePort().IsOpen()) {
                // Opened again after a hang-up, but its line settings were refused.
                return Failed(kFailPortOpen, 0,
                              "the port " + port +
                                  " was opened but could not be set to raw mode at 115,200 baud");
            }
            return Failed(kFailPortOpen, link.OpenError,
                          "the port " + port + " could not be opened" + Reason(link.OpenError));
        case Outcome::kNotWritten:
            if (code == kCmdWriteImagePage && link.page.size() != kPageSize) {
                return Failed(kFailFrameNotWritten, 0,
                              "the image page's frame could not be built: its bytes were not "
                              "given");
            }
            return Failed(
                kFailFrameNotWritten, link.LineError,
                "the frame could not be written whole to " + port + " within " +
                    Seconds(FrameWriteBound(link, code)) + Reason(link.LineError) +
                    (link.LineHungUp ? "; the line hung up: is the adapter still plugged in?"
                                     : (link.LineError == 0 ? ": the device took no input" : "")));
        case Outcome::kUnusable:
            return Failed(
                kFailNoReply, link.LineError,
                "the adapter's reply was too short to use: " + std::to_string(link.RealReadCnt) +
                    " of " + std::to_string(link.CmdReadCnt) + " bytes");
        case Outcome::kNoReply:
            break;
    }
    const std::chrono::milliseconds wait(static_cast<long long>(ReadCallsPerChunk(code)) *
                                         link.ReadCallTimeoutMs.load(std::memory_order_relaxed));
    std::string text;
    if (link.ForeignReply) {
        text = "the device on " + port +
               " answered, but not as the adapter does: is it another device?";
    } else if (link.RealReadCnt > 0) {
        text = "the adapter refused the request or cut its reply short, twice";
    } else {
        text = "the adapter did not answer within " + Seconds(wait) + ", twice";
    }
    if (link.LineHungUp) text += "; the line hung up: is the adapter still plugged in?";
    return Failed(kFailNoReply, link.LineError, text + Reason(link.LineError));
}

}  // namespace

namespace {

ExchangeResult Exchange(LinkSession &link, int code, WholeReply *whole) {
    if (whole != nullptr) whole->kept = 0;
    const Outcome outcome = ExchangeOnce(link, code, whole);
    const bool done = outcome == Outcome::kAnswered || outcome == Outcome::kSent;
    if (done || !link.LineHungUp || !link.ReopenAfterHangup.load()) {
        return Describe(link, code, outcome);
    }
    // The adapter was unplugged (and maybe plugged back in): the descriptor is dead for good,
    // and the node at the same path may be a new one. Once, a fresh open and the same exchange.
    ClosePort(link);
    if (!InitPort(link)) return Describe(link, code, Outcome::kPortNotOpened);
    return Describe(link, code, ExchangeOnce(link, code, whole));
}

}  // namespace

ExchangeResult SendCOMM(LinkSession &link, int code) {
    return Exchange(link, code, nullptr);
}

ExchangeResult SendCOMM(LinkSession &link, int code, WholeReply &whole) {
    return Exchange(link, code, &whole);
}

}  // namespace tornelvox
