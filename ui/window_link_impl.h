// The main window as the core's workflows reach it: log texts and button changes posted to the
// interface thread, and the opening of the settings dialog.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "workflow/front_end.h"

namespace tornelvox {

class ViewController;

// How long an update waits for the user to answer its address question. The adapter waits in
// its boot loader meanwhile, with nothing erased.
inline constexpr std::chrono::minutes kAddressQuestionLimit{30};

// Workers keep a copy of this link for as long as they run, also after the window is gone or
// while the process ends: once the window has detached itself, every call does nothing.
class ViewControllerLink : public FrontEnd {
  public:
    explicit ViewControllerLink(ViewController *window) : window_(window) {}

    // Any thread: queues the text onto the interface thread, behind everything queued before.
    void AddMessage(const std::string &text) override;
    // Any thread: on the interface thread the state applies at once; from a worker it is
    // queued through the same queue as the log texts, so it lands after the worker's messages.
    void PostButtons(ButtonState state) override;
    // Opens the settings dialog over the window and returns at once: on the interface thread
    // at once, from a worker queued behind the messages it logged.
    void OpenSettingsDialog() override;
    // The update worker's thread: shows the question over the window and waits for the
    // answer, at most kAddressQuestionLimit; no window, or no answer by then, is kNoAnswer.
    AddressAnswer AskForAddress(const AddressQuestion &question) override;
    // Any thread: queues the report onto the interface thread and returns at once.
    void ReportProgress(const UpdateProgress &progress) override;

    // Any thread: queues act onto the interface thread, behind everything queued before; it
    // runs only if the window still exists then.
    void PostToWindow(std::function<void(ViewController &)> act);

    // Called by the window's destructor on the interface thread. Waits for a post that another
    // thread is making at that moment; Qt drops the window's posts still queued when it goes.
    void Detach();

  private:
    std::mutex mutex_;
    ViewController *window_;
};

}  // namespace tornelvox
