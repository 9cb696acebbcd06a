// Cost of one append to the message log, early in a run and after 100,000 messages.
//
// A worker thread logs 100,000 short messages through ShowMsg, with a time stamp queued behind
// every thousandth one. The interface thread then appends them all; the stamps give the time
// the first and the last thousand appends took. The two must stay within a factor of 2.
#include <QApplication>
#include <QPlainTextEdit>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "serial/message_log.h"
#include "ui/view_controller.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMessages = 100000;
constexpr int kBatch = 1000;
constexpr double kAllowedRatio = 2.0;

double MicrosecondsPerAppend(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::micro>(to - from).count() / kBatch;
}

}  // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    tornelvox::ViewController window;
    window.show();
    QCoreApplication::processEvents();

    // Every append and every stamp goes through the interface thread's one queue, in order.
    std::vector<Clock::time_point> stamps(kMessages / kBatch);
    std::thread worker([&] {
        for (int i = 0; i < kMessages; ++i) {
            tornelvox::ShowMsg(window.Session(), " message %d\n", i);
            if ((i + 1) % kBatch == 0) {
                QMetaObject::invokeMethod(
                    &window, [&stamps, i] { stamps[i / kBatch] = Clock::now(); },
                    Qt::QueuedConnection);
            }
        }
    });
    worker.join();

    const Clock::time_point start = Clock::now();
    QCoreApplication::sendPostedEvents();
    const Clock::time_point end = Clock::now();

    const int lines = window.findChild<QPlainTextEdit *>("txMessage")->blockCount();
    const double first = MicrosecondsPerAppend(start, stamps.front());
    const double last = MicrosecondsPerAppend(stamps[stamps.size() - 2], stamps.back());
    const double ratio = last / first;
    std::printf("log_bench: %d messages appended in %.1f ms (%d lines in the log)\n", kMessages,
                std::chrono::duration<double, std::milli>(end - start).count(), lines - 1);
    std::printf("log_bench: first thousand %.2f us per append, last thousand %.2f us per append\n",
                first, last);
    std::printf("log_bench: last/first = %.2f (allowed up to %.1f): %s\n", ratio, kAllowedRatio,
                ratio <= kAllowedRatio ? "ok" : "TOO SLOW");
    return ratio <= kAllowedRatio ? 0 : 1;
}
