#include "ui/window_link_impl.h"

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
    // Only the interface thread opens the dialog, and only it detaches the window.
    if (window != nullptr) window->ShowSettingsDialog();
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
