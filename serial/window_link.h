// What the core asks of the main window besides the message log: button changes posted to the
// interface thread, and the opening of the settings dialog.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace tornelvox {

// A Bluetooth address as the name page stores it: byte 0 is the least significant.
using BtAddress = std::array<unsigned char, 6>;

// One address the user may give the adapter when the update has none it can trust.
struct AddressCandidate {
    BtAddress address{};
    std::string origin;            // where it comes from, in words ("address backup", ...)
    std::string saved_at;          // local time it was saved, for a backup record; else empty
    std::string port;              // port it was read on, for a backup record; else empty
    bool same_usb_device = false;  // the backup's USB serial number is this port's device's
};

// The question an update asks before it would erase an adapter whose own address it could not
// read: which address the adapter is to keep.
struct AddressQuestion {
    std::string port;                          // the adapter's port
    std::string reason;                        // why the update cannot go on by itself, in words
    std::vector<AddressCandidate> candidates;  // newest and most likely first
};

struct AddressAnswer {
    enum class Kind {
        kNoAnswer,        // nobody answered (no window, the question was closed or timed out)
        kRefused,         // the user chose not to go on
        kCandidate,       // the user picked candidates[index]
        kBuiltInAddress,  // the user chose the built-in default: a new address for the adapter
    };
    Kind kind = Kind::kNoAnswer;
    std::size_t index = 0;
};

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

    // Asks the user which address the adapter is to keep. Called on the update worker's thread;
    // blocks until the user answers, the question is closed, or the window gives up waiting.
    // A front end that cannot ask answers kNoAnswer, which erases nothing.
    virtual AddressAnswer AskForAddress(const AddressQuestion &question) {
        (void)question;
        return {};
    }
};

}  // namespace tornelvox
