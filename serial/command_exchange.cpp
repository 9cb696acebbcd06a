#include "serial/command_exchange.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

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

int ReadCOMM(LinkSession &link, int wanted, WholeReply *whole) {
    const int calls_per_chunk = ReadCallsPerChunk(link.WriteComm_op);
    const int capture_chunk = CaptureChunk(link.WriteComm_op);
    link.CapturedCnt = 0;
    if (whole != nullptr) whole->kept = 0;
    if (wanted <= 0) return 0;

    int total = 0;
    int remaining = wanted;
    unsigned char chunk[kChunkBufferSize];
    for (int chunk_number = 0;; ++chunk_number) {
        const int size = std::min(remaining, kChunkSize);
        int received = 0;
        for (int call = 0; call < calls_per_chunk && received < size; ++call) {
            // Each call asks for the whole chunk size again, as long as the buffer has room.
            received +=
                ReadOnce(link, chunk + received, std::min(size, kChunkBufferSize - received));
        }
        if (received == 0) return total;
        if (chunk_number == capture_chunk) DumpRead(link, received, chunk);
        Keep(whole, chunk, received);
        total += received;
        remaining -= received;
        if (remaining <= 0) return total;
    }
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

bool ExchangeOnce(LinkSession &link, int code, WholeReply *whole) {
    link.LineHungUp = false;
    link.ForeignReply = false;
    if (!link.LinePort().IsOpen()) InitPort(link);

    // Burst codes only send: the adapter's boot loader answers none of these frames. The 4 us
    // pause keeps the frames back to back without merging them into one write. A frame not
    // written whole ends the burst: each further frame would wait out its own write deadline.
    if (const int frames = BurstFrames(code); frames > 0) {
        for (int i = 0; i < frames; ++i) {
            if (WriteComm(link, code) == kWriteFailed) return false;
            usleep(4);
        }
        return true;
    }

    for (int attempt = 0; attempt < 2; ++attempt) {
        // Whatever is still queued from the line belongs to an earlier request: a reply that
        // came after its exchange stopped waiting, or the tail of one cut short. Taken as the
        // start of this reply it would answer this request in the other's place, and every
        // later request would read the reply before its own, so that a page the adapter never
        // wrote could pass as written. Only a reply that comes after its request is its reply.
        link.LinePort().Discard(Pending::kInput);
        link.CmdReadCnt = WriteComm(link, code);
        if (link.CmdReadCnt == kWriteFailed) return false;
        if (link.CmdReadCnt <= 0) return true;
        link.RealReadCnt = ReadCOMM(link, link.CmdReadCnt, whole);
        if (link.RealReadCnt > 0 && NotShapedLikeTheChip(link, code)) {
            // An echo, a stream of text, another device's answer: not the adapter.
            link.ForeignReply = true;
            continue;
        }
        if (link.RealReadCnt >= link.CmdReadCnt) return true;
        if (link.RealReadCnt == 0) continue;
        switch (JudgeShortReply(link, code)) {
            case ShortOutcome::kUsable:
                return true;
            case ShortOutcome::kUnusable:
                return false;
            case ShortOutcome::kTryAgain:
                continue;
        }
    }
    link.FailCode = kFailNoReply;
    return false;
}

}  // namespace

namespace {

bool Exchange(LinkSession &link, int code, WholeReply *whole) {
    if (whole != nullptr) whole->kept = 0;
    const bool done = ExchangeOnce(link, code, whole);
    if (done || !link.LineHungUp || !link.ReopenAfterHangup.load()) return done;
    // The adapter was unplugged (and maybe plugged back in): the descriptor is dead for good,
    // and the node at the same path may be a new one. Once, a fresh open and the same exchange.
    ClosePort(link);
    if (!InitPort(link)) return false;
    return ExchangeOnce(link, code, whole);
}

}  // namespace

bool SendCOMM(LinkSession &link, int code) {
    return Exchange(link, code, nullptr);
}

bool SendCOMM(LinkSession &link, int code, WholeReply &whole) {
    return Exchange(link, code, &whole);
}

}  // namespace tornelvox
