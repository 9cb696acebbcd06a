// The main window: the message log, the Check, Update, Setting, Cancel and Close buttons, and
// under them the line that says which candidate serial devices are connected.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "serial/node_watch.h"
#include "workflow/adapter_session.h"
#include "workflow/device_status.h"
#include "workflow/front_end.h"

namespace Ui {
class ViewController;
}

class QSocketNotifier;
class QTimer;

namespace tornelvox {

// How long the device line waits after a change in the device folders before it lists them: a
// burst of changes (a device's node and its links) is listed once.
inline constexpr int kDeviceListDelayMs = 150;

class LogViewMenu;
class ViewControllerLink;

class ViewController : public QWidget {
    Q_OBJECT

  public:
    // A window on a fresh session of its own.
    explicit ViewController(QWidget *parent = nullptr);
    // A window that drives session's adapter (the demo mode's, a test's).
    explicit ViewController(std::shared_ptr<AdapterSession> session, QWidget *parent = nullptr);
    ~ViewController() override;

    // The session of the one adapter this window drives; workers started from the window hold
    // it too.
    AdapterSession &Session() const { return *session_; }
    const std::shared_ptr<AdapterSession> &SharedSession() const { return session_; }

    // The update worker's body (the Update action runs it on a detached thread): up to ten
    // attempts, then the restored buttons. Returns 1 after a successful update.
    int tornelvox_main();
    // Installs this window as the log's destination, makes the log read-only and hides the
    // buttons not yet offered. Run once, when the window's widgets exist.
    void viewDidLoad();
    // Sets the window title, with the note SetTitleNote gave at its end. Run each time the
    // window is shown.
    void viewDidAppear();
    // Words the title carries after the program's name and version (the demo mode's
    // " (emulated adapter)"); applied at once when the window is shown.
    void SetTitleNote(const QString &note);
    // Any thread, once the window exists: queues one append of text onto the interface thread
    // and returns without waiting for it.
    void AddMessage(const std::string &text);
    // The Check action: search, port opening, version query, advice, Update and Setting shown.
    // Runs on a worker thread; Check, Update and Setting are disabled until it ends.
    void CheckDevice();
    // The settings-apply worker's body: waits for the dialog, writes the changed settings.
    void PollMessage();
    // The Update action: locks the buttons and starts the update worker.
    void UpdateFirmware();
    // The Setting action: reads the settings and opens the dialog, or refuses old firmware.
    // The reading runs on a worker thread; Check, Update and Setting are disabled meanwhile.
    void actDeviceSetting();
    // The Close action: ends the process at once with status 0; during an update only once the
    // user has confirmed that the adapter is left without working firmware.
    void Close();
    // The Cancel action: stops the update worker and returns at once; a helper thread waits
    // until the worker has reached an end, and no new update starts before it has.
    void Cancel();
    // True while a Check, a settings read or a Cancel's wait runs off the interface thread.
    bool BackgroundActionRunning() const { return background_action_ || cancel_pending_; }

    // This window as the core's workflows hold it; valid after the window is gone.
    std::shared_ptr<FrontEnd> Link() const;

    // Applies a button state at once on the interface thread; from any other thread queues it
    // behind the messages already queued.
    void PostButtons(ButtonState state);
    // Opens a fresh settings dialog, modal over this window, and returns at once.
    void ShowSettingsDialog();
    // Any thread: queues the address question onto the interface thread, where it is shown
    // modally and its answer handed to `answer`; returns at once.
    void AskForAddress(const AddressQuestion &question,
                       std::shared_ptr<std::promise<AddressAnswer>> answer);
    // Any thread: queues one progress report of the running update onto the interface thread.
    void ShowProgress(const UpdateProgress &progress);

    // Lists the candidate nodes now and shows them in the device line. The line also follows
    // the device folders by itself; this is for a change the folders' watch cannot see.
    void RefreshDevices();

  protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

  private:
    void AppendMessage(const QString &text);
    void ApplyButtons(ButtonState state);
    void ApplyProgress(const UpdateProgress &progress);
    // Locks Check, Update and Setting for an action that runs off the interface thread; false
    // when one runs already. EndBackgroundAction gives them back (restore_buttons) or leaves
    // that to the worker the action started.
    bool BeginBackgroundAction();
    void EndBackgroundAction(bool restore_buttons);
    // Runs work on a detached thread; without a thread, runs it here.
    static void RunOffInterfaceThread(std::function<void()> work);
    // True when the program may end now: no update runs, or the user confirmed.
    bool CloseConfirmed();
    // Watches the session's device folders, unless they are the ones watched already.
    void WatchDeviceFolders();
    // The watch's descriptor is readable: takes its changes and lists the folders soon.
    void DeviceFoldersChanged();
    // A Check ended, or an update: the line takes the firmware it read.
    void NoteFirmware(const FirmwareSeen &firmware);
    void ShowDeviceStatus();

    std::shared_ptr<AdapterSession> session_;
    std::unique_ptr<Ui::ViewController> ui_;
    std::shared_ptr<ViewControllerLink> link_;
    LogViewMenu *log_menu_ = nullptr;  // the log's context menu
    // Interface thread only.
    bool background_action_ = false;         // a Check or a settings read runs on a worker
    bool cancel_pending_ = false;            // a Cancel waits for the update worker's end
    QPointer<QWidget> focus_before_action_;  // gets the focus back when the Check ends
    QString title_note_;
    // The device line; interface thread only. Listing the folders and the device tree opens no
    // node, so nothing is ever sent to a device because it was plugged in.
    NodeWatch node_watch_;
    std::vector<std::string> watched_folders_;
    QSocketNotifier *watch_notifier_ = nullptr;
    QTimer *device_list_timer_ = nullptr;
    DeviceStatus device_status_;
    bool update_started_ = false;  // an update was started from the window and has not ended
    // The settings dialog closed while the buttons were locked: Setting gets the focus when they
    // are handed back.
    bool focus_setting_when_restored_ = false;
};

}  // namespace tornelvox
