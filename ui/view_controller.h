// The main window: the message log and the Check, Update, Setting, Cancel and Close buttons.
#pragma once

#include <QWidget>
#include <future>
#include <memory>
#include <string>

#include "workflow/front_end.h"

namespace Ui {
class ViewController;
}

namespace tornelvox {

class ViewControllerLink;

class ViewController : public QWidget {
    Q_OBJECT

  public:
    explicit ViewController(QWidget *parent = nullptr);
    ~ViewController() override;

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
    void CheckDevice();
    // The settings-apply worker's body: waits for the dialog, writes the changed settings.
    void PollMessage();
    // The Update action: locks the buttons and starts the update worker.
    void UpdateFirmware();
    // The Setting action: reads the settings and opens the dialog, or refuses old firmware.
    void actDeviceSetting();
    // The Close action: ends the process at once with status 0; during an update only once the
    // user has confirmed that the adapter is left without working firmware.
    void Close();
    // The Cancel action: stops the update worker and waits until it has reached an end.
    void Cancel();

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

  protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

  private:
    void AppendMessage(const QString &text);
    void ApplyButtons(ButtonState state);
    // True when the program may end now: no update runs, or the user confirmed.
    bool CloseConfirmed();

    std::unique_ptr<Ui::ViewController> ui_;
    std::shared_ptr<ViewControllerLink> link_;
    QString title_note_;
};

}  // namespace tornelvox
