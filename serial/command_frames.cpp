#include "serial/command_frames.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "serial/serial_port.h"

namespace tornelvox {

namespace {

// How a frame's variable part is filled in.
enum class Fill {
    None,
    EraseRegion,
    ImagePage,
    NamePage,
    ParamPage,
    ReadAddress,
    SettingRead,
    SettingWrite,
};

// What a reply must look like to count as the adapter's.
enum class Reply {
    kAny,              // the exchange's length rules decide
    kCommandComplete,  // an HCI Command Complete event, 04 0E: the chip and nothing else
};

struct CatalogueEntry {
    int code;
    int head_length;         // how many fixed leading bytes the frame has
    unsigned char head[13];  // those bytes
    Fill fill;               // what follows or replaces them
    int frame_length;        // whole frame in bytes (0: no frame)
    int reply_length;        // reply bytes to wait for (0: none)
    Reply reply_shape;       // what a reply must look like to count
    int read_calls;          // read calls per chunk of the reply
    int capture_chunk;       // the chunk the capture window keeps
    int burst_frames;        // frames written back to back without a reply (0: an exchange)
    ShortReply short_reply;  // what a reply shorter than reply_length counts as
};

// The adapter's whole command vocabulary, one row per code in order. kCmdProbe to
// kCmdReadParameterPage are vendor commands in the shape of HCI command packets (indicator 01,
// opcode FCE0 little-endian); kCmdQuit and kCmdQueryVersion are text commands; kCmdReadSetting
// and kCmdWriteSetting are the "XS" settings frames. Variable bytes are filled in by BuildFrame.
// Each row spans two lines: the code and the frame's fixed head, then how the frame is completed
// and how its exchange runs.
// clang-format off
constexpr CatalogueEntry kCatalogue[] = {
    // code                        len  head bytes
    //  fill               frame  reply  reply shape            calls capture burst short reply
    {kCmdProbe,                      5, {0x01, 0xE0, 0xFC, 0x01, 0x00},
        Fill::None,            5,     8, Reply::kCommandComplete,   10,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdHandshake,                  6, {0x01, 0xE0, 0xFC, 0x02, 0xAA, 0x55},
        Fill::None,            6,     8, Reply::kAny,               10,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdHandshakeBurstBeforeWake,   6, {0x01, 0xE0, 0xFC, 0x02, 0xAA, 0x55},
        Fill::None,            6,     0, Reply::kAny,               10,   0,   200, ShortReply::kAtLeastTwoBytes},
    {kCmdHandshakeBurstAfterWake,    6, {0x01, 0xE0, 0xFC, 0x02, 0xAA, 0x55},
        Fill::None,            6,     0, Reply::kAny,               10,   0,   100, ShortReply::kAtLeastTwoBytes},
    {kCmdWakeUp,                     9, {0x01, 0xE0, 0xFC, 0x05, 0xFE, 0x95, 0x27, 0x95, 0x27},
        Fill::None,            9,     0, Reply::kAny,               10,   0,     1, ShortReply::kAtLeastTwoBytes},
    {kCmdEnterBootLoader,           10, {0x01, 0xE0, 0xFC, 0x06, 0x0F, 0x00, 0xC2, 0x01, 0x00, 0x0F},
        Fill::None,           10,    12, Reply::kAny,               10,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdEnterBootLoaderFast,       10, {0x01, 0xE0, 0xFC, 0x06, 0x0F, 0x40, 0x42, 0x0F, 0x00, 0x0F},
        Fill::None,           10,    12, Reply::kAny,               10,   0,     0, ShortReply::kAcceptUnlessRefused},
    {kCmdReadFlashId,               13, {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x00, 0x0E, 0x9F, 0x00, 0x00, 0x00, 0x00},
        Fill::None,           13,    15, Reply::kAny,               10,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdResetFirst,                13, {0x01, 0xE0, 0xFC, 0x09, 0x01, 0x00, 0x80, 0xF4, 0x00, 0x01, 0x00, 0x5A, 0x00},
        Fill::None,           13,    15, Reply::kAny,               10,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdResetSecond,               13, {0x01, 0xE0, 0xFC, 0x09, 0x01, 0x00, 0x80, 0xF4, 0x00, 0x01, 0x00, 0xA5, 0x00},
        Fill::None,           13,     5, Reply::kAny,               10,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdWriteEnableFirst,           9, {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x02, 0x00, 0x0C, 0x05},
        Fill::None,            9,    13, Reply::kAny,               10,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdWriteEnableSecond,         10, {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x03, 0x00, 0x0D, 0x01, 0x00},
        Fill::None,           10,    13, Reply::kAny,               10,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdEraseStep,                  8, {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x06, 0x00, 0x0F},
        Fill::EraseRegion,    13,    16, Reply::kAny,               30,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdWriteImagePage,             8, {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x10, 0x07},
        Fill::ImagePage,    4108,    15, Reply::kAny,               10,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdWriteNamePage,             12, {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x10, 0x07, 0x00, 0xD0, 0x0F, 0x00},
        Fill::NamePage,     4108,    15, Reply::kAny,               10,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdWriteParameterPage,        12, {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x10, 0x07, 0x00, 0xE0, 0x07, 0x00},
        Fill::ParamPage,    4108,    15, Reply::kAny,               10,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdReadCheckValue,            13, {0x01, 0xE0, 0xFC, 0x09, 0x10, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xCF, 0x07, 0x00},
        Fill::None,           13,    11, Reply::kAny,              100,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdReadPage,                   8, {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x00, 0x09},
        Fill::ReadAddress,    12,  4110, Reply::kAny,               10,   0,     0, ShortReply::kFails},
    {kCmdReadParameterPage,          8, {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x00, 0x09},
        Fill::ReadAddress,    12,  4110, Reply::kAny,               10,   2,     0, ShortReply::kFails},
    {kCmdNoFrame,                    0, {},
        Fill::None,            0,     0, Reply::kAny,               10,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdQuit,                       2, {0x2F, 0x71},
        Fill::None,            2,     0, Reply::kAny,               10,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdQueryVersion,               2, {0x2F, 0x76},
        Fill::None,            2,    33, Reply::kAny,               10,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdReadSetting,                3, {0x58, 0x53, 0x03},
        Fill::SettingRead,     7,    10, Reply::kAny,               10,   0,     0, ShortReply::kAtLeastTwoBytes},
    {kCmdWriteSetting,               3, {0x58, 0x53, 0x07},
        Fill::SettingWrite,   10,    10, Reply::kAny,               10,   0,     0, ShortReply::kAtLeastTwoBytes},
};
// clang-format on

// Find takes a code's row by its place: the rows run from the first code to the last in order.
constexpr bool RowsRunInCodeOrder() {
    int expected = kFirstCommand;
    for (const CatalogueEntry &entry : kCatalogue) {
        if (entry.code != expected++) return false;
    }
    return expected == kLastCommand + 1;
}
static_assert(RowsRunInCodeOrder());

// The rules a code without a row gets: no reply is waited for, so only the defaults of an
// ordinary exchange apply.
constexpr int kDefaultReadCalls = 10;

const CatalogueEntry *Find(int code) {
    if (code < kFirstCommand || code > kLastCommand) return nullptr;
    return &kCatalogue[code - kFirstCommand];
}

// The product name the name page carries after the address.
constexpr char kProductName[] = "Tornelvox";

// Time the frame may take to be written whole: WriteDeadlineMs plus twice its line time at
// 115,200 baud, 10 bits per byte.
std::chrono::milliseconds WriteDeadline(const LinkSession &link, std::size_t length) {
    constexpr std::size_t kBitsPerSecond = 115200;
    const std::chrono::milliseconds line_time((length * 10 * 1000 + kBitsPerSecond - 1) /
                                              kBitsPerSecond);
    return std::chrono::milliseconds(link.WriteDeadlineMs.load(std::memory_order_relaxed)) +
           2 * line_time;
}

// Writes the whole frame to the open port, through partial writes, until its deadline. True when
// every byte went out.
bool WriteWhole(LinkSession &link, const unsigned char *frame, std::size_t length) {
    const Port::Clock::time_point deadline = Port::Clock::now() + WriteDeadline(link, length);
    const Transfer written = link.LinePort().Write(frame, length, deadline);
    if (written.hung_up) NoteHangup(link);
    if (written.error != 0) link.LineError = written.error;
    return written.bytes == length;
}

}  // namespace

std::chrono::milliseconds FrameWriteBound(const LinkSession &link, int code) {
    const CatalogueEntry *entry = Find(code);
    const int length = entry != nullptr ? entry->frame_length : 0;
    return WriteDeadline(link, static_cast<std::size_t>(std::max(length, 0)));
}

namespace {

void PutAddress(unsigned char *at, std::uint32_t address) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(address >> (8 * i));
}

}  // namespace

void FillNamePage(const unsigned char *address, unsigned char *page) {
    std::memcpy(page, address, 6);
    std::copy_n(kProductName, 9, page + 6);  // the name without its terminator
    page[15] = '(';
    page[16] = static_cast<unsigned char>(Int2Char(address[1] & 0x0F));
    page[17] = static_cast<unsigned char>(Int2Char(address[0] >> 4));
    page[18] = static_cast<unsigned char>(Int2Char(address[0] & 0x0F));
    page[19] = ')';
    std::memset(page + 20, 0x00, kNamePageHead - 20);
    std::memset(page + kNamePageHead, 0xFF, kPageSize - kNamePageHead);
}

char Int2Char(unsigned value) {
    return value < 10   ? static_cast<char>('0' + value)
           : value < 16 ? static_cast<char>('A' + value - 10)
                        : '0';
}

bool ReplyMustBeCommandComplete(int code) {
    const CatalogueEntry *entry = Find(code);
    return entry != nullptr && entry->reply_shape == Reply::kCommandComplete;
}

int FrameLength(int code) {
    const CatalogueEntry *entry = Find(code);
    return entry ? entry->frame_length : 0;
}

int ReplyLength(int code) {
    const CatalogueEntry *entry = Find(code);
    return entry ? entry->reply_length : 0;
}

int ReadCallsPerChunk(int code) {
    const CatalogueEntry *entry = Find(code);
    return entry ? entry->read_calls : kDefaultReadCalls;
}

int CaptureChunk(int code) {
    const CatalogueEntry *entry = Find(code);
    return entry ? entry->capture_chunk : 0;
}

int BurstFrames(int code) {
    const CatalogueEntry *entry = Find(code);
    return entry ? entry->burst_frames : 0;
}

ShortReply ShortReplyRule(int code) {
    const CatalogueEntry *entry = Find(code);
    return entry ? entry->short_reply : ShortReply::kAtLeastTwoBytes;
}

std::size_t BuildFrame(int code, const FrameInputs &in, unsigned char *frame) {
    const CatalogueEntry *entry = Find(code);
    if (!entry || entry->frame_length == 0) return 0;
    // The image page's bytes come from the firmware layer; without a whole page there is no
    // frame to send.
    if (entry->fill == Fill::ImagePage && in.page.size() != kPageSize) return 0;
    std::memcpy(frame, entry->head, static_cast<std::size_t>(entry->head_length));
    unsigned char *rest = frame + entry->head_length;
    switch (entry->fill) {
        case Fill::None:
            break;
        case Fill::EraseRegion:
            // Steps 0-15 erase the 64 KiB blocks at step x 64 KiB (instruction D8); later steps
            // erase the 4 KiB sectors from 0xF0000 on (instruction 20).
            if (in.flash_cnt <= 15) {
                rest[0] = 0xD8;
                PutAddress(rest + 1, static_cast<std::uint32_t>(in.flash_cnt & 0xFF) << 16);
            } else {
                rest[0] = 0x20;
                rest[1] = 0x00;
                rest[2] = static_cast<unsigned char>((in.flash_cnt * 16) & 0xFF);
                rest[3] = 0x0F;
                rest[4] = 0x00;
            }
            break;
        case Fill::ImagePage: {
            // The caller keeps fw_write_cnt within the image's 253 pages; a count outside it
            // would address beyond the image, so it is held to the last page.
            const int page = in.fw_write_cnt < 0     ? 0
                             : in.fw_write_cnt > 252 ? 252
                                                     : in.fw_write_cnt;
            PutAddress(rest, static_cast<std::uint32_t>(page) * kPageSize);
            std::memcpy(rest + 4, in.page.data(), kPageSize);
            break;
        }
        case Fill::NamePage:
            FillNamePage(in.BT_ADD, rest);
            break;
        case Fill::ParamPage:
            std::memset(rest, 0xFF, kPageSize);
            std::memcpy(rest + 500, in.Params, sizeof in.Params);
            break;
        case Fill::ReadAddress:
            PutAddress(rest, in.dwReadAdd);
            break;
        case Fill::SettingRead:
            rest[0] = static_cast<unsigned char>(in.g_tx_id & 0xFF);
            rest[1] = 0x03;
            rest[2] = in.bOptions;
            rest[3] = 0x00;
            break;
        case Fill::SettingWrite:
            rest[0] = static_cast<unsigned char>(in.g_tx_id & 0xFF);
            rest[1] = 0x83;
            rest[2] = in.bOptions;
            rest[3] = in.bOptionsValue;
            rest[4] = rest[5] = rest[6] = 0x00;
            break;
    }
    return static_cast<std::size_t>(entry->frame_length);
}

int WriteComm(LinkSession &link, int code) {
    link.WriteComm_op = code;
    unsigned char frame[kMaxFrameSize];
    const std::size_t length = BuildFrame(code, link, frame);
    if (length == 0) {
        // An image page whose bytes were not given has a frame that cannot be built: it fails as
        // a frame not written, never passes as a command without a reply.
        if (code != kCmdWriteImagePage) return 0;
        link.FailCode = kFailFrameNotWritten;
        return kWriteFailed;
    }
    // With no port open, descriptor 0 would be the process's standard input: never write there.
    if (!link.LinePort().IsOpen() || !WriteWhole(link, frame, length)) {
        link.FailCode = kFailFrameNotWritten;
        return kWriteFailed;
    }
    return ReplyLength(code);
}

}  // namespace tornelvox
