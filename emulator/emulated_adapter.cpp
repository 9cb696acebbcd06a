#include "emulator/emulated_adapter.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "emulator/adapter_core.h"
#include "emulator/adapter_line.h"
#include "emulator/device_tree.h"
#include "emulator/fault_plan.h"
#include "emulator/frame_catalogue.h"
#include "emulator/pseudo_terminal.h"
#include "emulator/transcript.h"

namespace tornelvox::emulator {
namespace {

constexpr std::size_t kReadChunk = 65536;
constexpr std::size_t kPacedPiece = 16;  // bytes written at once on a paced line
constexpr std::chrono::milliseconds kWriteStallLimit{2000};
constexpr std::chrono::milliseconds kUnplugWait{2000};
constexpr int kReferenceBaud = 115200;
constexpr int kCodeSlots = 25;

bool HasPage(int code) {
    return code == kCodeWriteImagePage || code == kCodeWriteNamePage ||
           code == kCodeWriteParameterPage || code == kCodeReadPage;
}

}  // namespace

struct EmulatedAdapter::Impl {
    explicit Impl(const AdapterConfig &c) : config(c), core(c) {}

    // Set at construction or Start, then read only.
    const AdapterConfig config;
    std::string slave_path;

    // Guarded by mutex.
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    AdapterCore core;
    FaultPlan faults;
    std::vector<FrameRecord> records;
    std::array<int, kCodeSlots> handled{};
    std::vector<std::string> links;
    bool plugged = false;
    std::string device_tree_root;          // empty: the node is listed nowhere
    EmulatedAdapter *successor = nullptr;  // takes over the links at the next unplug

    std::atomic<bool> stop_requested{false};
    std::atomic<bool> unplug_requested{false};
    std::atomic<bool> replug_requested{false};
    std::string replug_link;  // guarded by mutex; empty: the links stay where they are
    bool replugged = false;   // guarded by mutex; the outcome of the last replug
    std::atomic<std::uint64_t> bytes_received{0};
    std::atomic<std::uint64_t> bytes_sent{0};
    WakePipe wake;
    std::thread thread;

    // Serving thread only.
    AdapterLine line;
    std::vector<std::uint8_t> input;
    Clock::time_point last_input_at{};
    Clock::time_point rx_line_end{};   // when the last byte read has crossed the line
    Clock::time_point tx_line_free{};  // when the adapter's transmit line is free again

    std::chrono::nanoseconds ByteTime() const {
        const int baud = config.line_baud > 0 ? config.line_baud : kReferenceBaud;
        return std::chrono::nanoseconds(10'000'000'000LL / baud);
    }
    bool Paced() const { return config.line_baud > 0; }
    bool Interrupted() const { return stop_requested || unplug_requested || replug_requested; }
    void PlugBackIn();

    void Serve();
    void HangUp(const char *why);
    bool ReadInput();
    void HandleBufferedFrames();
    bool FollowedByMoreInput();
    void HandleFrame(int code, const std::vector<std::uint8_t> &frame);
    std::size_t Send(const std::vector<std::uint8_t> &bytes, const Delivery &delivery);
    std::size_t SendPaced(const std::uint8_t *data, std::size_t size);
    void RecordUnexpected(std::uint8_t byte);
    void Record(RecordKind kind, int code, std::vector<std::uint8_t> bytes, std::string note);
};

void EmulatedAdapter::Impl::Record(RecordKind kind, int code, std::vector<std::uint8_t> bytes,
                                   std::string note) {
    std::lock_guard lock(mutex);
    records.push_back({kind, code, std::move(bytes), std::move(note)});
    changed.notify_all();
}

void EmulatedAdapter::Impl::RecordUnexpected(std::uint8_t byte) {
    std::lock_guard lock(mutex);
    if (records.empty() || records.back().kind != RecordKind::kUnexpectedBytes) {
        records.push_back({RecordKind::kUnexpectedBytes, 0, {}, ""});
    }
    records.back().bytes.push_back(byte);
    changed.notify_all();
}

void EmulatedAdapter::Impl::HangUp(const char *why) {
    std::lock_guard lock(mutex);
    // Unplugged, with its node gone as a USB serial node goes (a replug makes the links again),
    // before the line hangs up: whoever sees the hang-up sees the adapter unplugged.
    plugged = false;
    if (successor != nullptr) {
        // Another adapter in the same socket: the node names it now. Its own lock is taken
        // inside this one only here, and it never takes ours.
        Impl &next = *successor->impl_;
        std::lock_guard next_lock(next.mutex);
        for (const std::string &link : links) {
            if (LinkTo(next.slave_path, link)) next.links.push_back(link);
        }
        links.clear();
        successor = nullptr;
    }
    for (const std::string &link : links) RemoveLink(link);
    if (!device_tree_root.empty()) RemoveUsbSerialEntry(device_tree_root, slave_path);
    line.HangUp();
    input.clear();
    records.push_back({RecordKind::kEvent, 0, {}, why});
    changed.notify_all();
}

// Serving thread: a new line, as a USB serial adapter plugged in again gets a new node; the
// links follow it (or move to the new path asked for), and the chip restarts from its flash.
void EmulatedAdapter::Impl::PlugBackIn() {
    if (line.Up()) HangUp("unplugged");
    input.clear();
    const bool opened = line.Open(wake, config.strange_line_mode);
    std::lock_guard lock(mutex);
    replugged = opened;
    if (opened) {
        slave_path = line.SlavePath();
        plugged = true;
        if (!replug_link.empty()) {
            for (const std::string &link : links) RemoveLink(link);
            links = {replug_link};
        }
        for (const std::string &link : links) {
            if (!LinkTo(slave_path, link)) replugged = false;
        }
        if (!device_tree_root.empty() &&
            !AddUsbSerialEntry(device_tree_root, slave_path, config.usb_serial)) {
            replugged = false;
        }
        records.push_back({RecordKind::kEvent, 0, {}, "plugged in again; " + core.PowerCycle()});
    }
    replug_requested = false;
    changed.notify_all();
}

void EmulatedAdapter::Impl::Serve() {
    while (!stop_requested) {
        wake.Drain();
        if (stop_requested) break;
        if (unplug_requested) {
            if (line.Up()) HangUp("unplugged");
            std::lock_guard lock(mutex);
            unplug_requested = false;
            changed.notify_all();
            continue;
        }
        if (replug_requested) {
            PlugBackIn();
            continue;
        }
        if (config.never_reads) {
            // Input stays in the line's buffers; only a stop or an unplug request wakes us.
            line.WaitForWake();
            continue;
        }
        HandleBufferedFrames();
        if (Interrupted()) continue;
        std::optional<Clock::time_point> deadline;
        if (!input.empty() && config.partial_frame_timeout_ms > 0) {
            deadline = last_input_at + std::chrono::milliseconds(config.partial_frame_timeout_ms);
        }
        switch (line.WaitForInput(deadline)) {
            case WaitResult::kInput:
                ReadInput();
                break;
            case WaitResult::kTimeout:
                // A partial frame that never completed: its bytes fit no frame.
                for (std::uint8_t byte : input) RecordUnexpected(byte);
                input.clear();
                break;
            case WaitResult::kWoken:
                break;
            case WaitResult::kLineDown:
                HangUp("line hung up");
                break;
        }
    }
}

bool EmulatedAdapter::Impl::ReadInput() {
    const long got = line.ReadAvailable(input, kReadChunk);
    if (got < 0) {
        HangUp("line hung up");
        return false;
    }
    if (got == 0) return true;
    const Clock::time_point now = Clock::now();
    last_input_at = now;
    bytes_received += static_cast<std::uint64_t>(got);
    rx_line_end = std::max(rx_line_end, now) + ByteTime() * static_cast<std::int64_t>(got);
    return true;
}

bool EmulatedAdapter::Impl::FollowedByMoreInput() {
    if (!input.empty()) return true;
    const auto settle = Clock::now() + std::chrono::milliseconds(config.handshake_settle_ms);
    switch (line.WaitForInput(settle)) {
        case WaitResult::kInput:
            return ReadInput() && !input.empty();
        case WaitResult::kTimeout:
            return false;
        case WaitResult::kWoken:
        case WaitResult::kLineDown:
            return true;  // about to stop or hang up: no answer
    }
    return true;
}

void EmulatedAdapter::Impl::HandleBufferedFrames() {
    while (!input.empty() && !Interrupted()) {
        const FrameMatch match = MatchFrame(input.data(), input.size());
        if (match.result == MatchResult::kPartial) return;
        if (match.result == MatchResult::kNone) {
            RecordUnexpected(input.front());
            input.erase(input.begin());
            continue;
        }
        const std::size_t length = std::min(match.length, input.size());
        if (Paced()) {
            // The frame has arrived once its last byte has crossed the line.
            const auto arrived =
                rx_line_end - ByteTime() * static_cast<std::int64_t>(input.size() - length);
            if (!line.SleepUntil(arrived)) return;
        }
        const std::vector<std::uint8_t> frame(input.begin(), input.begin() + length);
        input.erase(input.begin(), input.begin() + length);
        int code = match.code;
        if (code == kCodeHandshake && FollowedByMoreInput()) {
            std::lock_guard lock(mutex);
            code = core.ClassifyBurstHandshake();
        }
        HandleFrame(code, frame);
    }
}

void EmulatedAdapter::Impl::HandleFrame(int code, const std::vector<std::uint8_t> &frame) {
    AdapterReply reply;
    Delivery delivery;
    {
        std::lock_guard lock(mutex);
        records.push_back({RecordKind::kFrame, code, frame, ""});
        const bool settings = code == kCodeReadSetting || code == kCodeWriteSetting;
        const int option = settings && frame.size() > 5 ? frame[5] : -1;
        const int page =
            HasPage(code)
                ? static_cast<int>(FrameAddress(code, frame.data(), frame.size()) / kPageSize)
                : -1;
        const std::vector<FaultRule> rules = faults.Select(code, option, page);
        reply = core.Handle(code, frame, HandlingFor(rules));
        delivery = Shape(rules, reply.bytes);
        changed.notify_all();
    }
    if (delivery.unplug) {
        HangUp("unplugged on frame");
    } else {
        bool awake = true;
        const auto wait = reply.work_time + delivery.delay;
        if (wait.count() > 0) awake = line.SleepUntil(Clock::now() + wait);
        if (!delivery.silent && awake) {
            const std::size_t sent = Send(reply.bytes, delivery);
            std::vector<std::uint8_t> bytes(reply.bytes.begin(), reply.bytes.begin() + sent);
            std::string note = delivery.notes;
            if (sent < reply.bytes.size()) note += note.empty() ? "cut off" : ", cut off";
            Record(RecordKind::kReply, code, std::move(bytes), std::move(note));
        } else if (!delivery.notes.empty()) {
            Record(RecordKind::kReply, code, {}, delivery.notes);
        }
    }
    if (!reply.event.empty()) Record(RecordKind::kEvent, 0, {}, reply.event);
    std::lock_guard lock(mutex);
    if (code >= 0 && code < kCodeSlots) ++handled[static_cast<std::size_t>(code)];
    changed.notify_all();
}

std::size_t EmulatedAdapter::Impl::Send(const std::vector<std::uint8_t> &bytes,
                                        const Delivery &delivery) {
    const std::size_t piece = delivery.piece > 0 ? delivery.piece : bytes.size();
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (sent > 0 && delivery.pause.count() > 0 &&
            !line.SleepUntil(Clock::now() + delivery.pause)) {
            break;
        }
        const std::size_t size = std::min(piece, bytes.size() - sent);
        const std::size_t done = SendPaced(bytes.data() + sent, size);
        sent += done;
        if (done < size) break;
    }
    return sent;
}

std::size_t EmulatedAdapter::Impl::SendPaced(const std::uint8_t *data, std::size_t size) {
    std::size_t sent = 0;
    // The line is busy from now or from the end of what went before; within these bytes a piece
    // that went out late does not hold back the next, so they keep the line's rate on average.
    if (Paced()) tx_line_free = std::max(tx_line_free, Clock::now());
    while (sent < size) {
        std::size_t chunk = size - sent;
        if (Paced()) {
            // A piece goes out once its last byte would have crossed the line.
            chunk = std::min(chunk, kPacedPiece);
            tx_line_free += ByteTime() * static_cast<std::int64_t>(chunk);
            if (!line.SleepUntil(tx_line_free)) break;
        }
        const std::size_t done = line.WriteAll(data + sent, chunk, kWriteStallLimit);
        sent += done;
        bytes_sent += done;
        if (done < chunk) break;
    }
    return sent;
}

EmulatedAdapter::EmulatedAdapter(AdapterConfig config) : impl_(std::make_unique<Impl>(config)) {}

EmulatedAdapter::~EmulatedAdapter() {
    Stop();
}

bool EmulatedAdapter::Start() {
    if (impl_->thread.joinable()) return false;
    if (!impl_->wake.Open() || !impl_->line.Open(impl_->wake, impl_->config.strange_line_mode)) {
        impl_->line.HangUp();
        impl_->wake.Close();
        return false;
    }
    {
        std::lock_guard lock(impl_->mutex);
        impl_->slave_path = impl_->line.SlavePath();
        impl_->plugged = true;
    }
    impl_->stop_requested = false;
    impl_->thread = std::thread([impl = impl_.get()] { impl->Serve(); });
    return true;
}

void EmulatedAdapter::Stop() {
    if (impl_->thread.joinable()) {
        impl_->stop_requested = true;
        impl_->wake.Wake();
        impl_->thread.join();
    }
    impl_->line.HangUp();
    impl_->wake.Close();
    std::lock_guard lock(impl_->mutex);
    impl_->plugged = false;
    for (const std::string &link : impl_->links) RemoveLink(link);
    impl_->links.clear();
    if (!impl_->device_tree_root.empty()) {
        RemoveUsbSerialEntry(impl_->device_tree_root, impl_->slave_path);
    }
}

std::string EmulatedAdapter::DevicePath() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->slave_path;
}

bool EmulatedAdapter::LinkAt(const std::string &link_path) {
    std::lock_guard lock(impl_->mutex);
    if (!LinkTo(impl_->slave_path, link_path)) return false;
    impl_->links.push_back(link_path);
    return true;
}

void EmulatedAdapter::Unplug() {
    if (!impl_->thread.joinable()) {
        impl_->HangUp("unplugged");
        return;
    }
    impl_->unplug_requested = true;
    impl_->wake.Wake();
    std::unique_lock lock(impl_->mutex);
    impl_->changed.wait_for(lock, kUnplugWait, [this] { return !impl_->unplug_requested; });
}

bool EmulatedAdapter::Replug(const std::string &new_link) {
    if (!impl_->thread.joinable()) return false;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->replug_link = new_link;
        impl_->replugged = false;
    }
    impl_->replug_requested = true;
    impl_->wake.Wake();
    std::unique_lock lock(impl_->mutex);
    impl_->changed.wait_for(lock, kUnplugWait, [this] { return !impl_->replug_requested; });
    return impl_->replugged;
}

bool EmulatedAdapter::ListInDeviceTree(const std::string &root) {
    std::lock_guard lock(impl_->mutex);
    impl_->device_tree_root = root;
    return !impl_->plugged || AddUsbSerialEntry(root, impl_->slave_path, impl_->config.usb_serial);
}

void EmulatedAdapter::PlugInAfterUnplug(EmulatedAdapter &next) {
    std::lock_guard lock(impl_->mutex);
    impl_->successor = &next;
}

void EmulatedAdapter::PowerCycle() {
    std::lock_guard lock(impl_->mutex);
    std::string event = "power cycle; " + impl_->core.PowerCycle();
    impl_->records.push_back({RecordKind::kEvent, 0, {}, std::move(event)});
    impl_->changed.notify_all();
}

bool EmulatedAdapter::Plugged() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->plugged;
}

void EmulatedAdapter::AddFault(const FaultRule &rule) {
    std::lock_guard lock(impl_->mutex);
    impl_->faults.Add(rule);
}

void EmulatedAdapter::ClearFaults() {
    std::lock_guard lock(impl_->mutex);
    impl_->faults.Clear();
}

std::vector<FrameRecord> EmulatedAdapter::Frames() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->records;
}

std::vector<int> EmulatedAdapter::ReceivedCodes() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<int> codes;
    for (const FrameRecord &record : impl_->records) {
        if (record.kind == RecordKind::kFrame) codes.push_back(record.code);
    }
    return codes;
}

int EmulatedAdapter::CountOf(int code) const {
    std::lock_guard lock(impl_->mutex);
    return static_cast<int>(std::count_if(
        impl_->records.begin(), impl_->records.end(), [code](const FrameRecord &record) {
            return record.kind == RecordKind::kFrame && record.code == code;
        }));
}

std::vector<std::uint8_t> EmulatedAdapter::UnexpectedBytes() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<std::uint8_t> bytes;
    for (const FrameRecord &record : impl_->records) {
        if (record.kind == RecordKind::kUnexpectedBytes) {
            bytes.insert(bytes.end(), record.bytes.begin(), record.bytes.end());
        }
    }
    return bytes;
}

bool EmulatedAdapter::WaitForFrames(int code, int count, std::chrono::milliseconds timeout) const {
    if (code < 0 || code >= kCodeSlots) return false;
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(
        lock, timeout, [&] { return impl_->handled[static_cast<std::size_t>(code)] >= count; });
}

std::string EmulatedAdapter::Transcript() const {
    return RenderTranscript(Frames());
}

void EmulatedAdapter::ClearRecords() {
    std::lock_guard lock(impl_->mutex);
    impl_->records.clear();
    impl_->handled.fill(0);
}

std::vector<std::uint8_t> EmulatedAdapter::Flash() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->core.Flash().Bytes();
}

std::vector<std::uint8_t> EmulatedAdapter::ReadFlash(std::uint32_t address,
                                                     std::size_t size) const {
    std::lock_guard lock(impl_->mutex);
    std::vector<std::uint8_t> bytes;
    impl_->core.Flash().Read(address, size, bytes);
    return bytes;
}

bool EmulatedAdapter::WriteFlash(std::uint32_t address, const std::vector<std::uint8_t> &bytes) {
    std::lock_guard lock(impl_->mutex);
    return impl_->core.Flash().Overwrite(address, bytes.data(), bytes.size());
}

std::uint32_t EmulatedAdapter::CheckValue() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->core.Flash().CheckValue();
}

std::uint32_t EmulatedAdapter::Version() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->core.Version();
}

bool EmulatedAdapter::InBootLoader() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->core.InBootLoader();
}

bool EmulatedAdapter::FirmwarePresent() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->core.FirmwarePresent();
}

std::optional<std::uint32_t> EmulatedAdapter::Setting(int option) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->core.Settings().Read(option, impl_->core.Version());
}

bool EmulatedAdapter::SetSetting(int option, std::uint32_t value) {
    std::lock_guard lock(impl_->mutex);
    return impl_->core.Settings().Set(option, value);
}

std::uint64_t EmulatedAdapter::BytesReceived() const {
    return impl_->bytes_received;
}

std::uint64_t EmulatedAdapter::BytesSent() const {
    return impl_->bytes_sent;
}

std::chrono::nanoseconds EmulatedAdapter::LineTime() const {
    return impl_->ByteTime() * static_cast<std::int64_t>(impl_->bytes_received + impl_->bytes_sent);
}

}  // namespace tornelvox::emulator
