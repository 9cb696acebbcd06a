// Test stand-in for the main window: records every logged message and every posted button
// state in one ordered list, as the window's first-in, first-out queue would show them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/serial_link.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {

class RecordingWindow : public FrontEnd {
  public:
    // One entry of the window's queue: a log text, or a button state.
    struct Event {
        bool is_buttons = false;
        std::string text;
        ButtonState buttons = ButtonState::Restored;
    };

    // A window attached to no session records only what reaches it through AddMessage (a
    // session whose messages RouteMessagesTo sends here) or the sink it hands out.
    RecordingWindow() = default;
    // Installs itself as session's message sink.
    explicit RecordingWindow(LinkSession &session) { InstallAsMessageSink(session); }
    // Every sink handed out drops its texts from now on: a worker that outlives the window
    // logs into nothing.
    ~RecordingWindow() override {
        std::lock_guard lock(target_->mutex);
        target_->window = nullptr;
    }

    // Sends session's messages here (a fixture's window and session may be made apart).
    void InstallAsMessageSink(LinkSession &session) { session.SetMessageSink(Sink()); }

    // A message sink that records into this window for as long as it lives.
    MessageSink Sink() {
        return [target = target_](const std::string &text) {
            std::lock_guard lock(target->mutex);
            // Not through the virtual AddMessage: a subclass may be going already.
            if (target->window != nullptr) target->window->Record(Event{false, text, {}});
        };
    }

    void AddMessage(const std::string &text) override { Record(Event{false, text, {}}); }

    void PostButtons(ButtonState state) override { Record(Event{true, {}, state}); }

    // Runs the test's stand-in for the settings dialog, if one is set.
    void OpenSettingsDialog() override {
        dialog_opened_ = true;
        if (on_dialog_) on_dialog_();
    }
    void OnDialog(std::function<void()> action) { on_dialog_ = std::move(action); }

    // The address question: records it and answers with the test's answer (none set: no answer).
    AddressAnswer AskForAddress(const AddressQuestion &question) override {
        std::lock_guard lock(mutex_);
        questions_.push_back(question);
        return answer_ ? answer_(question) : AddressAnswer{};
    }
    void AnswerAddressQuestions(std::function<AddressAnswer(const AddressQuestion &)> answer) {
        std::lock_guard lock(mutex_);
        answer_ = std::move(answer);
    }
    std::vector<AddressQuestion> Questions() const {
        std::lock_guard lock(mutex_);
        return questions_;
    }

    // The update's progress reports, in the order they came.
    void ReportProgress(const UpdateProgress &progress) override {
        std::lock_guard lock(mutex_);
        progress_.push_back(progress);
    }
    std::vector<UpdateProgress> Progress() const {
        std::lock_guard lock(mutex_);
        return progress_;
    }

    // How the update is to prove what it wrote; the check value unless a test asks for more.
    ImageVerification UpdateVerification() const override { return verification_; }
    void VerifyWith(ImageVerification verification) { verification_ = verification; }

    // Forgets everything recorded so far.
    void Clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
        button_posts_ = 0;
        questions_.clear();
        progress_.clear();
    }
    bool DialogOpened() const { return dialog_opened_; }

    // The whole log text so far.
    std::string Log() const {
        std::lock_guard lock(mutex_);
        std::string log;
        for (const Event &event : events_) {
            if (!event.is_buttons) log += event.text;
        }
        return log;
    }

    std::vector<Event> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

    std::vector<ButtonState> ButtonStates() const {
        std::lock_guard lock(mutex_);
        std::vector<ButtonState> states;
        for (const Event &event : events_) {
            if (event.is_buttons) states.push_back(event.buttons);
        }
        return states;
    }

    // Blocks until a button state has been posted `count` times in all, or the timeout passes.
    bool WaitForButtons(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return button_posts_ >= count; });
    }

    // Blocks until the whole log text contains `text`, or the timeout passes.
    bool WaitForLog(const std::string &text, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            std::string log;
            for (const Event &event : events_) {
                if (!event.is_buttons) log += event.text;
            }
            return log.find(text) != std::string::npos;
        });
    }

    // The text logged after the last button change (what a worker said at its end).
    std::string LogSinceLastButtons() const {
        std::lock_guard lock(mutex_);
        std::string log;
        for (const Event &event : events_) {
            if (event.is_buttons)
                log.clear();
            else
                log += event.text;
        }
        return log;
    }

  private:
    // What the sinks handed out reach: this window until its destructor lets go.
    struct SinkTarget {
        std::mutex mutex;
        RecordingWindow *window = nullptr;
    };

    void Record(Event event) {
        std::lock_guard lock(mutex_);
        if (event.is_buttons) ++button_posts_;
        events_.push_back(std::move(event));
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
    std::size_t button_posts_ = 0;
    std::function<void()> on_dialog_;
    std::function<AddressAnswer(const AddressQuestion &)> answer_;
    std::vector<AddressQuestion> questions_;
    std::vector<UpdateProgress> progress_;
    bool dialog_opened_ = false;
    // Set before an update starts, read by its worker.
    std::atomic<ImageVerification> verification_{ImageVerification::kCheckValue};
    std::shared_ptr<SinkTarget> target_ = MakeTarget();

    std::shared_ptr<SinkTarget> MakeTarget() {
        auto target = std::make_shared<SinkTarget>();
        target->window = this;
        return target;
    }
};

}  // namespace tornelvox::testing
