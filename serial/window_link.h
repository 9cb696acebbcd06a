// What the core asks of the main window besides the message log: button changes posted to the
// interface thread, and the opening of the settings dialog.
#pragma once

namespace tornelvox {

// The button states the workflows move the main window between (Close never changes).
enum class ButtonState {
    LockedForUpdate,    // Check, Update, Setting disabled; Cancel shown
    LockedForSettings,  // Check, Update, Setting disabled; Cancel hidden
    Restored,           // Check, Update, Setting enabled; Cancel hidden
};

class WindowLink {
  public:
    virtual ~WindowLink() = default;

    // Applies a button state. Workers call it from their own thread: the window queues the change
    // onto the interface thread's first-in, first-out queue behind the messages already logged,
    // and returns without waiting. Called on the interface thread it may apply at once.
    virtual void PostButtons(ButtonState state) = 0;

    // Shows the settings dialog over the main window. Interface thread only. It may return at
    // once or after the dialog has closed; the dialog clears bDeviceSettingRunning when it closes.
    virtual void OpenSettingsDialog() = 0;
};

}  // namespace tornelvox
