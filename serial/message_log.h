// The message log as the core sees it: one formatting function; each session has its own sink.
#pragma once

#include <functional>
#include <string>

namespace tornelvox {

class LinkSession;

// Receives each finished message text. Called on the thread that logged the message; it must
// not block (a front end with an interface thread queues the text and returns at once).
using MessageSink = std::function<void(const std::string &text)>;

// Formats a message with printf conversions on the calling thread and hands the text, exactly as
// formatted (no line break, time stamp or prefix added), to the sink installed in link (see
// LinkSession::SetMessageSink). Never blocks on the front end, never fails; with no sink
// installed the message is dropped.
void ShowMsg(const LinkSession &link, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace tornelvox
