// The message log as the core sees it: one formatting function and one process-wide sink.
#pragma once

#include <functional>
#include <string>

namespace tornelvox {

// Receives each finished message text. Called on the thread that logged the message; it must
// not block (a front end with an interface thread queues the text and returns at once).
using MessageSink = std::function<void(const std::string &text)>;

// Installs the process-wide sink; an empty sink drops every message. Safe to call while other
// threads log: a message goes to whichever sink was installed when it was formatted.
void SetMessageSink(MessageSink sink);

// Formats a message with printf conversions on the calling thread and hands the text, exactly as
// formatted (no line break, time stamp or prefix added), to the installed sink. Never blocks on
// the front end, never fails; with no sink installed the message is dropped.
void ShowMsg(const char *format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tornelvox
