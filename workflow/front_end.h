// What the workflows ask of the front end that drives them (the main window, the command-line
// program, a test): the message log, button changes, the settings dialog, the address question
// and the update's progress.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "firmware/image_read_back.h"
#include "firmware/update_progress.h"
#include "serial/bt_address.h"

namespace tornelvox {

struct AdapterSession;

// One address the user may give the adapter when the update has none it can trust.
struct AddressCandidate {
    BtAddress address{};
    std::string origin;            // where it comes from, in words ("address backup", ...)
    std::string saved_at;          // local time it was saved, for a backup record; else empty
    std::string port;              // port it was read on, for a backup record; else empty
    bool same_usb_device = false;  // the backup's USB serial number is this port's device's
    // For a backup record: what the port's device was when it was saved, in DeviceDescription's
    // words ("FTDI FT232R USB UART, serial A50285BI"); for a record older than those words, its
    // USB serial number in the same words ("USB device, serial A50285BI"); else empty.
    std::string device = {};
};

// The question an update asks before it would erase an adapter whose own address it could not
// read, or that may not be the adapter it began with: which address the adapter is to keep.
struct AddressQuestion {
    std::string port;                          // the adapter's port
    std::string reason;                        // why the update cannot go on by itself, in words
    std::vector<AddressCandidate> candidates;  // newest and most likely first
    enum class Kind {
        kAddressNotRead,    // no address of this adapter could be read (or two differ)
        kAdapterMayDiffer,  // the adapter was unplugged, and nothing tells whether the one at
                            // the port now is the same: the update's address is offered marked
                            // as the one from before the unplug
        kAnotherAdapter,    // another adapter is at the port now: its own address (if it has
                            // one) comes first, then the first adapter's, marked as such
    };
    // Answers given in advance (the command line's --address, --new-address) were meant for
    // the adapter the update began with, and answer only kAddressNotRead.
    Kind kind = Kind::kAddressNotRead;
};

struct AddressAnswer {
    enum class Kind {
        kNoAnswer,        // nobody answered (none could ask, the question was closed or timed out)
        kRefused,         // the user chose not to go on
        kCandidate,       // the user picked candidates[index]
        kBuiltInAddress,  // the user chose the built-in default: a new address for the adapter
        kGivenAddress,    // the user gave an address of their own (address), offered or not
    };
    Kind kind = Kind::kNoAnswer;
    std::size_t index = 0;
    BtAddress address{};  // for kGivenAddress
};

// The button states the workflows move a front end between (Close never changes).
enum class ButtonState {
    LockedForUpdate,    // Check, Update, Setting disabled; Cancel shown
    LockedForSettings,  // Check, Update, Setting disabled; Cancel hidden
    Restored,           // Check, Update, Setting enabled; Cancel hidden
};

// How far the running update has come: attempt 1 to 10, and the flash programming's report.
// A retried attempt starts again from erasing.
struct UpdateProgress {
    int attempt = 1;
    UpdateStage stage = UpdateStage::kErasing;
    int done = 0;                                     // steps of this stage finished
    int total = 0;                                    // steps of this stage in all
    int verifying_total = kCheckValueVerifyingSteps;  // steps the verifying stage has
    // Seconds this attempt's programming has left, as the update worker estimates them from
    // what each remaining step costs (see TimeLeftEstimate); negative while unknown.
    double seconds_left = -1.0;
};

class FrontEnd {
  public:
    virtual ~FrontEnd() = default;

    // One text of the message log, as ShowMsg formatted it. Any thread; must not block on the
    // line. Reached through ShowMsg once RouteMessagesTo names this front end for a session.
    virtual void AddMessage(const std::string &text) { (void)text; }

    // Applies a button state. Workers call it from their own thread: a window queues the change
    // onto its interface thread behind the messages already logged, and returns without waiting.
    virtual void PostButtons(ButtonState state) = 0;

    // Shows the settings dialog, which fills in the applied values. Called on the thread that
    // started the Setting action. It may return at once or after the dialog has closed; the
    // dialog clears the session's bDeviceSettingRunning when it closes.
    virtual void OpenSettingsDialog() = 0;

    // Asks the user which address the adapter is to keep. Called on the update worker's thread;
    // blocks until the user answers, the question is closed, or the front end gives up waiting.
    // A front end that cannot ask answers kNoAnswer, which erases nothing.
    virtual AddressAnswer AskForAddress(const AddressQuestion &question) {
        (void)question;
        return {};
    }

    // The update's progress, after each step of flash programming. Called on the update
    // worker's thread; must return at once.
    virtual void ReportProgress(const UpdateProgress &progress) { (void)progress; }

    // How the update is to prove what it wrote: by the check value (the default), or by reading
    // the whole image back as well, which the user asks for. Called on the update worker's
    // thread before each attempt's programming.
    virtual ImageVerification UpdateVerification() const { return ImageVerification::kCheckValue; }
};

// Sends every message session logs with ShowMsg to front_end's AddMessage, from any thread;
// nullptr sends them nowhere. The session's sink holds front_end for as long as it is routed
// there.
void RouteMessagesTo(AdapterSession &session, std::shared_ptr<FrontEnd> front_end);

}  // namespace tornelvox
