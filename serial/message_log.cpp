#include "serial/message_log.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>

#include "serial/link_session.h"

namespace tornelvox {

void LinkSession::SetMessageSink(MessageSink sink) {
    auto next = sink ? std::make_shared<const MessageSink>(std::move(sink)) : nullptr;
    std::lock_guard lock(sink_mutex_);
    sink_ = std::move(next);
}

void LinkSession::Log(const std::string &text) const {
    // The sink is called outside the lock, so that it may install another sink itself.
    std::shared_ptr<const MessageSink> sink;
    {
        std::lock_guard lock(sink_mutex_);
        sink = sink_;
    }
    if (sink) (*sink)(text);
}

void ShowMsg(const LinkSession &link, const char *format, ...) {
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
    link.Log(text);
}

}  // namespace tornelvox
