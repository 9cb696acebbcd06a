#include "ui/window_link_impl.h"

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

void ViewControllerLink::Detach() {
    std::lock_guard lock(mutex_);
    window_ = nullptr;
}

}  // namespace tornelvox
