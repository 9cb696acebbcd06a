#include "serial/message_log.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>

namespace tornelvox {
namespace {

// The sink outlives every thread that may still log: it is never destroyed, so a detached worker
// that logs while the process exits cannot reach a destroyed object.
struct SinkSlot {
    std::mutex mutex;
    std::shared_ptr<const MessageSink> sink;
};

SinkSlot &Slot() {
    static SinkSlot *slot = new SinkSlot;
    return *slot;
}

}  // namespace

void SetMessageSink(MessageSink sink) {
    auto next = sink ? std::make_shared<const MessageSink>(std::move(sink)) : nullptr;
    std::lock_guard lock(Slot().mutex);
    Slot().sink = std::move(next);
}

void ShowMsg(const char *format, ...) {
    std::string text;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length > 0) {
        text.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<size_t>(length));
    }
    va_end(again);

    std::shared_ptr<const MessageSink> sink;
    {
        std::lock_guard lock(Slot().mutex);
        sink = Slot().sink;
    }
    if (sink) (*sink)(text);
}

}  // namespace tornelvox
