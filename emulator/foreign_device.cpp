#include "emulator/foreign_device.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "emulator/adapter_line.h"
#include "emulator/frame_catalogue.h"
#include "emulator/pseudo_terminal.h"

namespace tornelvox::emulator {
namespace {

constexpr std::chrono::milliseconds kStreamPeriod{20};
constexpr std::chrono::milliseconds kWriteStall{500};
constexpr std::size_t kReadChunk = 65536;
constexpr char kStreamLine[] =
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

}  // namespace

struct ForeignDevice::Impl {
    explicit Impl(ForeignKind k) : kind(k) {}

    const ForeignKind kind;
    WakePipe wake;
    AdapterLine line;  // serving thread only, after Start
    std::thread thread;
    std::atomic<bool> stop_requested{false};

    mutable std::mutex mutex;
    std::vector<std::uint8_t> received;
    std::vector<std::string> links;

    void Serve() {
        auto next_line = Clock::now() + kStreamPeriod;
        std::vector<std::uint8_t> input;
        while (!stop_requested) {
            wake.Drain();
            std::optional<Clock::time_point> deadline;
            if (kind == ForeignKind::kStream) deadline = next_line;
            const WaitResult result = line.WaitForInput(deadline);
            if (result == WaitResult::kLineDown) break;
            if (result == WaitResult::kInput) {
                input.clear();
                if (line.ReadAvailable(input, kReadChunk) < 0) break;
                {
                    std::lock_guard lock(mutex);
                    received.insert(received.end(), input.begin(), input.end());
                }
                if (kind == ForeignKind::kEcho)
                    line.WriteAll(input.data(), input.size(), kWriteStall);
            }
            if (kind == ForeignKind::kStream && Clock::now() >= next_line) {
                const auto *text = reinterpret_cast<const std::uint8_t *>(kStreamLine);
                line.WriteAll(text, sizeof kStreamLine - 1, kWriteStall);
                next_line = Clock::now() + kStreamPeriod;
            }
        }
    }
};

ForeignDevice::ForeignDevice(ForeignKind kind) : impl_(std::make_unique<Impl>(kind)) {}

ForeignDevice::~ForeignDevice() {
    Stop();
}

bool ForeignDevice::Start() {
    if (impl_->thread.joinable()) return false;
    if (!impl_->wake.Open() || !impl_->line.Open(impl_->wake)) return false;
    impl_->stop_requested = false;
    impl_->thread = std::thread([impl = impl_.get()] { impl->Serve(); });
    return true;
}

void ForeignDevice::Stop() {
    if (impl_->thread.joinable()) {
        impl_->stop_requested = true;
        impl_->wake.Wake();
        impl_->thread.join();
    }
    impl_->line.HangUp();
    impl_->wake.Close();
    std::lock_guard lock(impl_->mutex);
    for (const std::string &link : impl_->links) RemoveLink(link);
    impl_->links.clear();
}

bool ForeignDevice::LinkAt(const std::string &link_path) {
    const std::string target = impl_->line.SlavePath();
    if (!LinkTo(target, link_path)) return false;
    std::lock_guard lock(impl_->mutex);
    impl_->links.push_back(link_path);
    return true;
}

std::vector<std::uint8_t> ForeignDevice::Received() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->received;
}

std::vector<int> ForeignDevice::ReceivedCodes() const {
    const std::vector<std::uint8_t> bytes = Received();
    std::vector<int> codes;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const FrameMatch match = MatchFrame(bytes.data() + at, bytes.size() - at);
        if (match.result != MatchResult::kComplete) {
            ++at;
            continue;
        }
        codes.push_back(match.code);
        at += match.length;
    }
    return codes;
}

}  // namespace tornelvox::emulator
