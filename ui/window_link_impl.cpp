#include "ui/window_link_impl.h"

#include <QThread>
#include <future>

#include "ui/view_controller.h"

namespace tornelvox {

void ViewControllerLink::AddMessage(const std::string &text) {
    std::lock_guard lock(mutex_);
    if (window_ != nullptr) window_->AddMessage(text);
}

void ViewControllerLink::PostButtons(ButtonState state) {
    std::lock_guard lock(mutex_);
    if (window_ != nullptr) window_->PostButtons(state);
}

void ViewControllerLink::OpenSettingsDialog() {
    ViewController *window;
    {
        std::lock_guard lock(mutex_);
        window = window_;
    }
    if (window == nullptr) return;
    if (QThread::currentThread() == window->thread()) {
        // Only the interface thread detaches the window: it cannot go meanwhile.
        window->ShowSettingsDialog();
        return;
    }
    PostToWindow([](ViewController &shown_over) { shown_over.ShowSettingsDialog(); });
}

void ViewControllerLink::ReportProgress(const UpdateProgress &progress) {
    std::lock_guard lock(mutex_);
    if (window_ != nullptr) window_->ShowProgress(progress);
}

void ViewControllerLink::PostToWindow(std::function<void(ViewController &)> act) {
    std::lock_guard lock(mutex_);
    if (window_ == nullptr) return;
    ViewController *window = window_;
    // Qt drops the call if the window is destroyed before it runs.
    QMetaObject::invokeMethod(
        window, [window, act = std::move(act)] { act(*window); }, Qt::QueuedConnection);
}

AddressAnswer ViewControllerLink::AskForAddress(const AddressQuestion &question) {
    auto answer = std::make_shared<std::promise<AddressAnswer>>();
    std::future<AddressAnswer> answered = answer->get_future();
    {
        std::lock_guard lock(mutex_);
        if (window_ == nullptr) return {};
        window_->AskForAddress(question, answer);
    }
    answer.reset();  // only the queued question holds it now: a dropped question breaks it
    if (answered.wait_for(kAddressQuestionLimit) != std::future_status::ready) return {};
    try {
        return answered.get();
    } catch (const std::future_error &) {
        return {};  // the window went before the question was shown
    }
}

void ViewControllerLink::Detach() {
    std::lock_guard lock(mutex_);
    window_ = nullptr;
}

}  // namespace tornelvox
