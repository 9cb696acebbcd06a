// The update worker: whole attempts of boot loader entry, name page read and programming, up to
// ten, and the Update and Cancel actions that start and stop it.
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "firmware/address_backup.h"
#include "firmware/firmware_update.h"
#include "serial/node_identity.h"
#include "serial/node_return.h"
#include "workflow/time_left_estimate.h"
#include "workflow/update_flow.h"

namespace tornelvox {

void SleepBeforeRetry(unsigned seconds) {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

namespace {

constexpr int kMaxAttempts = 10;
constexpr int kAttemptsWithNameRead = 5;  // later attempts keep the address already held
constexpr unsigned kPauseSeconds = 3;
constexpr std::size_t kBackupRecordsOffered = 8;
// Attempts in a row that must find no valid name page before the user is asked: one empty read
// may be a garbled reply.
constexpr int kAttemptsBeforeAsking = 2;

void CountWorkerEnd(AdapterSession &session) {
    {
        std::lock_guard lock(session.WorkerEndsMutex);
        ++session.WorkerEndsCount;
    }
    session.WorkerEndsChanged.notify_all();
}

// Marks the worker as ended for a waiting Cancel, then hands the buttons back. ThreadRunning is
// cleared before the buttons are posted, not after: once the Update button is enabled again a
// new Update may set the flag, and a late clear from this worker would cancel that new update.
// The posting is asynchronous, so what the user sees is the same either way.
int EndRun(AdapterSession &session, FrontEnd &front_end, UpdateEnd end) {
    session.FlashProgressSink = nullptr;
    session.ReopenAfterHangup.store(true);
    session.LastUpdateEnd.store(end);
    session.UpdateFirmwareRunning.store(false);
    session.UpdateFirmwareRunning.notify_all();
    session.ThreadRunning.store(false);
    front_end.PostButtons(ButtonState::Restored);
    return end == UpdateEnd::kSuccess ? 1 : 0;
}

int SuccessEnd(AdapterSession &session, FrontEnd &front_end) {
    ShowMsg(session, " Reboot MCU \n");
    ReBootSystem(session);
    ClosePort(session);
    ShowMsg(session, "\n            Success                           \n\n");
    session.CurVerNum = VerNum;
    session.QueriedAdapter.version_read = true;
    return EndRun(session, front_end, UpdateEnd::kSuccess);
}

int FailureEnd(AdapterSession &session, FrontEnd &front_end) {
    ShowMsg(session, "\n          WARMING !!! FAILED !!!                      \n");
    ShowMsg(session, "  Please remove the device then plug-in and try again.  \n\n");
    session.CurVerNum = 0;
    session.QueriedAdapter.version_read = false;
    return EndRun(session, front_end, UpdateEnd::kFailure);
}

int CancelEnd(AdapterSession &session, FrontEnd &front_end, UpdateEnd end = UpdateEnd::kCancelled,
              bool erased = false) {
    if (end == UpdateEnd::kCancelled) {
        // The user stopped it: the last line says what that left on the adapter.
        if (erased) {
            ShowMsg(session,
                    " The update was cancelled. Erasing had begun: the adapter needs a complete "
                    "update before it works again.\n\n");
        } else {
            ShowMsg(session, " The update was cancelled before anything was erased.\n\n");
        }
    }
    session.CurVerNum = 0;
    session.QueriedAdapter.version_read = false;
    return EndRun(session, front_end, end);
}

// A build without the vendor's image never writes it to a real adapter: it refuses before the
// first frame, or, after the line hung up, before anything more reaches whatever answers now.
// CurVerNum stays as it is.
int RefusedEnd(AdapterSession &session, FrontEnd &front_end) {
    ShowMsg(
        session,
        " This build carries no vendor firmware image: it updates only the emulated adapter.\n");
    ShowMsg(session,
            " To update this adapter, build the utility with the vendor's image (see \"The "
            "firmware image\" in the README).\n\n");
    return EndRun(session, front_end, UpdateEnd::kRefused);
}

// The saved time of a backup record in the user's local time, "2026-12-10 17:34".
std::string LocalTime(const std::string &utc) {
    std::tm parsed{};
    const char *end = strptime(utc.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parsed);
    if (end == nullptr || *end != '\0') return utc;
    const std::time_t when = timegm(&parsed);
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) return utc;
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

// What a backup record says its port's device was, in the words the program names devices
// with. A record saved before the description was kept has at most the USB serial number.
std::string RecordedDevice(const AddressRecord &record) {
    if (!record.device.empty()) return record.device;
    if (record.usb_serial.empty()) return "";
    NodeIdentity old_record;
    old_record.listed = true;
    old_record.usb = true;
    old_record.serial = record.usb_serial;
    return DeviceDescription(old_record);
}

// One update: what it knows of the adapter's address so far.
struct UpdateRun {
    AdapterSession &session;
    FrontEnd &front_end;
    // The address to write back without asking: read from this adapter in an earlier attempt
    // of this update, or chosen by the user in this update.
    std::optional<BtAddress> trusted = {};
    std::string trusted_name = {};  // the name read with it
    bool trusted_chosen = false;    // chosen by the user rather than read
    bool backup_failure_told = false;
    int attempts_without_page = 0;  // attempts that found no valid name page
    int attempt = 1;                // the attempt running now, from 1
    bool erasing_begun = false;     // an erase step was sent: the firmware may be gone
    // The USB serial number of the adapter this update writes; empty when its device has none.
    std::string usb_serial = {};
    // The line hung up or the node vanished since the adapter at the port was last known to be
    // this update's: the next attempt reads the name page and establishes which adapter
    // answers before anything is erased.
    bool identity_in_doubt = false;
    bool name_page_written = false;  // a name page was (or may have been) written to it
    // The addresses this update has put in the backup, with the serial number they were read
    // under, so that a retry does not save them again.
    std::vector<std::pair<BtAddress, std::string>> saved = {};
};

enum class AttemptEnd { kSucceeded, kFailed, kNoAddress };

// Which adapter answers at the port after an unplug, as far as can be told.
enum class Identity { kSame, kAnother, kUnknown };

BtAddress HeldAddress(const AdapterSession &session) {
    BtAddress held{};
    std::memcpy(held.data(), session.BT_ADD, held.size());
    return held;
}

void Hold(AdapterSession &session, const BtAddress &address) {
    std::memcpy(session.BT_ADD, address.data(), sizeof session.BT_ADD);
}

// The addresses the user may pick: those found on the adapter, the one this update or an
// earlier one holds, then the backup's, newest first. Only for an adapter whose own address is
// unknown is a backup record of its USB device marked, which a front end may choose in advance;
// after an unplug nothing is.
AddressQuestion BuildQuestion(const UpdateRun &run, AddressQuestion::Kind kind,
                              const std::string &reason) {
    const AdapterSession &session = run.session;
    using Kind = AddressQuestion::Kind;
    AddressQuestion question;
    question.kind = kind;
    question.port = session.ComPortName;
    question.reason = reason;
    // A backup record repeats an address already offered from the adapter or from memory.
    auto offered = [&question](const BtAddress &address, const std::string &port) {
        for (const AddressCandidate &candidate : question.candidates) {
            if (candidate.address == address && (candidate.port == port || candidate.port.empty()))
                return true;
        }
        return false;
    };
    for (const StoredNamePage &page : session.LastNamePageSearch.valid) {
        char origin[80];
        std::snprintf(origin, sizeof origin,
                      kind == Kind::kAnotherAdapter
                          ? "stored on the adapter now at the port, at %05X"
                          : "stored on the adapter at %05X",
                      static_cast<unsigned>(page.at));
        question.candidates.push_back({page.address, origin, "", "", false});
    }
    if (kind == Kind::kAddressNotRead) {
        const BtAddress held = HeldAddress(session);
        if (held != kBuiltInBtAddress && !offered(held, "")) {
            question.candidates.push_back(
                {held, "held from an earlier update in this run (may be another adapter's)", "", "",
                 false});
        }
    } else if (run.trusted && !offered(*run.trusted, "")) {
        const char *origin =
            kind == Kind::kAnotherAdapter
                ? "the first adapter's, at the port before the unplug: not this adapter's"
                : (run.trusted_chosen ? "this update's adapter's before the unplug, chosen in "
                                        "this update"
                                      : "this update's adapter's before the unplug, read from it "
                                        "in this update");
        question.candidates.push_back({*run.trusted, origin, "", "", false});
    }
    const std::string serial = UsbSerialNumber(session.SysfsRoot, session.ComPortName);
    for (const AddressRecord &record : ReadAddressRecords(session.AddressBackupSubfolder, 64)) {
        if (question.candidates.size() >= kBackupRecordsOffered + 3) break;
        if (offered(record.address, record.port)) continue;
        question.candidates.push_back(
            {record.address, "address backup", LocalTime(record.time), record.port,
             kind == Kind::kAddressNotRead && !serial.empty() && record.usb_serial == serial,
             RecordedDevice(record)});
    }
    return question;
}

// Asks which address the adapter is to keep. True when the user chose one (BT_ADD then holds
// it); false when nobody answered or the user refused.
bool AskForAddress(UpdateRun &run, const std::string &reason,
                   AddressQuestion::Kind kind = AddressQuestion::Kind::kAddressNotRead) {
    AdapterSession &session = run.session;
    const AddressQuestion question = BuildQuestion(run, kind, reason);
    const AddressAnswer answer = run.front_end.AskForAddress(question);
    switch (answer.kind) {
        case AddressAnswer::Kind::kCandidate:
            if (answer.index < question.candidates.size()) {
                const AddressCandidate &chosen = question.candidates[answer.index];
                Hold(session, chosen.address);
                ShowMsg(session, " Using the BT address %s (%s).\n",
                        FormatBtAddress(chosen.address).c_str(), chosen.origin.c_str());
                break;
            }
            [[fallthrough]];
        case AddressAnswer::Kind::kNoAnswer:
        case AddressAnswer::Kind::kRefused:
            ShowMsg(session, " No BT address was chosen: nothing was erased.\n");
            return false;
        case AddressAnswer::Kind::kBuiltInAddress:
            Hold(session, kBuiltInBtAddress);
            ShowMsg(session,
                    " Using the built-in BT address %s: the adapter gets a new address, and "
                    "phones paired with it must pair again.\n",
                    FormatBtAddress(kBuiltInBtAddress).c_str());
            break;
        case AddressAnswer::Kind::kGivenAddress:
            Hold(session, answer.address);
            ShowMsg(session, " Using the BT address %s, given on the command line.\n",
                    FormatBtAddress(answer.address).c_str());
            break;
    }
    run.trusted = HeldAddress(session);
    run.trusted_name.clear();
    run.trusted_chosen = true;
    return true;
}

// Takes what GetID found. False when the attempt cannot go on by itself.
void TrustReadAddress(UpdateRun &run) {
    AdapterSession &session = run.session;
    const BtAddress read = HeldAddress(session);
    if (run.trusted && *run.trusted != read) {
        // What an earlier attempt of this update read (or the user chose) is the adapter's
        // own; a page read now may be one this update wrote wrongly.
        Hold(session, *run.trusted);
        ShowMsg(session, " Keeping the BT address %s of this update's first read.\n",
                FormatBtAddress(*run.trusted).c_str());
        return;
    }
    if (run.trusted) return;
    run.trusted = read;
    run.trusted_name =
        session.LastNamePageSearch.valid.empty() ? "" : session.LastNamePageSearch.valid[0].name;
    run.trusted_chosen = false;
}

// Appends an address to the backup, flushed, unless this update saved it before for the same
// USB device. A failure is told once; the update goes on.
void SaveAddress(UpdateRun &run, const BtAddress &address, const std::string &name,
                 const char *source) {
    AdapterSession &session = run.session;
    const NodeIdentity device = IdentifyNode(session.SysfsRoot, session.ComPortName);
    const std::string &serial = device.serial;
    for (const auto &[saved, saved_serial] : run.saved) {
        if (saved == address && saved_serial == serial) return;
    }
    AddressRecord record;
    record.time = UtcTimestamp();
    record.address = address;
    record.name = name;
    record.port = session.ComPortName;
    record.usb_serial = serial;
    record.source = source;
    record.device = DeviceDescription(device);
    std::string error;
    if (AppendAddressRecord(session.AddressBackupSubfolder, record, error)) {
        run.saved.emplace_back(address, serial);
        return;
    }
    if (run.backup_failure_told) return;
    run.backup_failure_told = true;
    ShowMsg(session,
            " Could not save the BT address backup (%s). The update goes on with the address in "
            "memory.\n",
            error.c_str());
}

// Every address the last name page read found goes to the backup at once, whatever this
// update later makes of it: it may be another adapter's, whose own is then in no other place.
void SaveReadAddresses(UpdateRun &run) {
    AdapterSession &session = run.session;
    for (const StoredNamePage &page : session.LastNamePageSearch.valid) {
        SaveAddress(run, page.address, page.name, "read");
    }
}

// Appends the address about to be written to the backup before anything is erased.
void BackUpAddress(UpdateRun &run) {
    AdapterSession &session = run.session;
    SaveAddress(run, HeldAddress(session), run.trusted_name,
                run.trusted_chosen ? "chosen" : "read");
}

// After an unplug: is the adapter at the port now the one this update began with? Its USB serial
// number decides where either adapter's device has one; otherwise a valid name page with
// another address than this update's, on an adapter this update has not written a name page
// to, is another adapter's, and one with this update's address is the same adapter's.
Identity AdapterAtPort(const UpdateRun &run, bool page_found, const std::string &serial_now) {
    const AdapterSession &session = run.session;
    if (!run.usb_serial.empty() || !serial_now.empty()) {
        return serial_now == run.usb_serial ? Identity::kSame : Identity::kAnother;
    }
    if (!run.trusted) return Identity::kSame;  // nothing of an earlier adapter to mix up
    if (!page_found) return Identity::kUnknown;
    if (session.LastNamePageSearch.valid[0].address == *run.trusted) return Identity::kSame;
    return run.name_page_written ? Identity::kUnknown : Identity::kAnother;
}

// After an unplug, with the name page just read: nothing when the adapter at the port is this
// update's, which goes on as ever; otherwise how the attempt ends. Another adapter, or one that
// cannot be told apart, is asked about before anything is erased.
std::optional<AttemptEnd> EstablishAdapter(UpdateRun &run, bool page_found) {
    AdapterSession &session = run.session;
    using Kind = AddressQuestion::Kind;
    // Nothing read: the next attempt reads again before it may erase.
    if (!session.LastNamePageSearch.read) return AttemptEnd::kFailed;
    const std::string serial_now = UsbSerialNumber(session.SysfsRoot, session.ComPortName);
    const Identity identity = AdapterAtPort(run, page_found, serial_now);
    if (identity == Identity::kSame) {
        run.identity_in_doubt = false;
        return std::nullopt;
    }
    bool chosen = false;
    if (identity == Identity::kAnother) {
        const std::string now =
            session.LastNamePageSearch.valid.empty()
                ? std::string("it has no stored BT address")
                : "its BT address is " +
                      FormatBtAddress(session.LastNamePageSearch.valid[0].address);
        const std::string first = run.trusted ? "has " + FormatBtAddress(*run.trusted)
                                              : std::string("had no address read");
        ShowMsg(session,
                " Another adapter is at %s now: %s; the adapter this update began with %s. Nothing "
                "is erased unless you say which address this adapter is to keep.\n",
                session.ComPortName, now.c_str(), first.c_str());
        chosen = AskForAddress(run,
                               "Another adapter is at the port now, not the one this update "
                               "began with. Choose the address this adapter is to keep: its own "
                               "if it has one.",
                               Kind::kAnotherAdapter);
        if (chosen) {
            // The update goes on with this adapter, which it has not written anything to yet.
            run.usb_serial = serial_now;
            run.name_page_written = false;
            run.erasing_begun = false;
            run.attempts_without_page = 0;
        }
    } else {
        ShowMsg(session,
                " Cannot tell whether the adapter at %s is the one this update began with: neither "
                "a USB serial number nor its name page tells.\n",
                session.ComPortName);
        chosen = AskForAddress(run,
                               "The adapter was unplugged during the update, and nothing tells "
                               "whether the adapter at the port now is the same one.",
                               Kind::kAdapterMayDiffer);
    }
    if (!chosen) return AttemptEnd::kNoAddress;
    run.identity_in_doubt = false;
    return AttemptEnd::kSucceeded;
}

// The address of an attempt that reads the name page: kSucceeded when BT_ADD holds the address
// to write back.
AttemptEnd AddressFromNamePage(UpdateRun &run) {
    AdapterSession &session = run.session;
    const bool page_found = GetID(session, 1) != 0;
    SaveReadAddresses(run);
    if (run.identity_in_doubt) {
        const std::optional<AttemptEnd> end = EstablishAdapter(run, page_found);
        if (end) return *end;
    }
    if (page_found) {
        TrustReadAddress(run);
        return AttemptEnd::kSucceeded;
    }
    if (session.LastNamePageSearch.Conflict()) {
        for (const StoredNamePage &page : session.LastNamePageSearch.valid) {
            if (!run.trusted || page.address != *run.trusted) continue;
            Hold(session, *run.trusted);  // one of them is what this update read before
            return AttemptEnd::kSucceeded;
        }
        return AskForAddress(run, "The adapter holds two different stored BT addresses.")
                   ? AttemptEnd::kSucceeded
                   : AttemptEnd::kNoAddress;
    }
    // A failed page read, or no page now. When this update read the adapter's address before
    // it erased, the attempt fails as ever and a later one writes that address back; a first
    // empty read may have been garbled on the line, and the next attempt reads again. Only
    // when two attempts in a row found no page and nothing is held is the user asked.
    const bool ask = session.LastNamePageSearch.read && !run.trusted &&
                     ++run.attempts_without_page >= kAttemptsBeforeAsking;
    if (!ask) return AttemptEnd::kFailed;
    return AskForAddress(run,
                         "The adapter holds no stored BT address; an earlier update may not "
                         "have finished.")
               ? AttemptEnd::kSucceeded
               : AttemptEnd::kNoAddress;
}

// The address of a later attempt, which does not read the name page.
AttemptEnd AddressHeldForLaterAttempt(UpdateRun &run) {
    AdapterSession &session = run.session;
    if (run.trusted) {
        Hold(session, *run.trusted);
        return AttemptEnd::kSucceeded;
    }
    return AskForAddress(run, "No BT address was read from this adapter in this update.")
               ? AttemptEnd::kSucceeded
               : AttemptEnd::kNoAddress;
}

AttemptEnd RunAttempt(UpdateRun &run, int failed_attempts) {
    AdapterSession &session = run.session;
    // The long exchanges of this attempt before programming (the name page read) tell the time
    // left estimate what a page costs on this line.
    session.LongExchangeTiming = {};
    if (!Set2Boot(session)) return AttemptEnd::kFailed;
    // Later attempts write the address held without reading, unless the adapter was unplugged
    // since the last read: then it is read again, and which adapter answers is established.
    const AttemptEnd address = failed_attempts < kAttemptsWithNameRead || run.identity_in_doubt
                                   ? AddressFromNamePage(run)
                                   : AddressHeldForLaterAttempt(run);
    if (address != AttemptEnd::kSucceeded) return address;
    BackUpAddress(run);
    // Whether this attempt's programming failed on an erase step, which may have erased before
    // it failed. FailCode keeps the last failure's reason until another replaces it.
    const int fail_code_before = session.FailCode;
    session.FailCode = kFailNone;
    const bool programmed = ProgramDevice(session, run.front_end.UpdateVerification()) != 0;
    if (!programmed && session.FailCode == kFailEraseStep) run.erasing_begun = true;
    // A name page write that got no good reply may still have been written.
    if (!programmed && session.FailCode == kFailNamePage) run.name_page_written = true;
    if (session.FailCode == kFailNone) session.FailCode = fail_code_before;
    return programmed ? AttemptEnd::kSucceeded : AttemptEnd::kFailed;
}

void SayDeviceBack(AdapterSession &session, const std::string &node) {
    ShowMsg(session,
            " A device is back at %s; the next attempt checks that it is the same adapter.\n",
            node.c_str());
}

// The pause before the next attempt. When the adapter's node was gone as the attempt ended, a
// helper watches for it meanwhile and says at once when a device is back at it. Nothing is sent
// to that device here: the next attempt establishes which adapter it is.
void PauseBeforeRetry(AdapterSession &session, bool node_gone) {
    const std::string node = session.ComPortName;
    if (!node_gone || NodePresent(node)) {
        if (node_gone) SayDeviceBack(session, node);  // back before the pause began
        session.RetryPause(kPauseSeconds);
        return;
    }
    std::atomic<bool> said{false};
    const auto say_once = [&] {
        if (!said.exchange(true)) SayDeviceBack(session, node);
    };
    const int stop_fd = eventfd(0, EFD_CLOEXEC);
    std::thread watcher;
    if (stop_fd >= 0) {
        try {
            watcher = std::thread([&, stop_fd] {
                // A pause the tests replace may take longer; the look after it covers the rest.
                if (WaitForNodeReturn(node, stop_fd, std::chrono::seconds(kPauseSeconds)) ==
                    NodeReturn::kBack) {
                    say_once();
                }
            });
        } catch (const std::system_error &) {
            // No helper: the look after the pause still says it before the next attempt.
        }
    }
    session.RetryPause(kPauseSeconds);
    if (watcher.joinable()) {
        const std::uint64_t one = 1;
        while (write(stop_fd, &one, sizeof one) < 0 && errno == EINTR) {
        }
        watcher.join();
    }
    if (stop_fd >= 0) close(stop_fd);
    if (NodePresent(node)) say_once();
}

}  // namespace

const BtAddress kBuiltInBtAddress = {0x00, 0x01, 0x00, 0x03, 0x04, 0x06};

int RunUpdateWorker(AdapterSession &session, const std::shared_ptr<FrontEnd> &front_end) {
    session.UpdateFirmwareRunning.store(true);
    if (!ImageMayUpdateAdapter(session)) return RefusedEnd(session, *front_end);
    session.CheckValueMismatchStood = false;
    // An adapter that hangs up in the middle of an attempt may have restarted: its page writes
    // are never resumed on a reopened port. The attempt fails, and the next one starts over.
    session.ReopenAfterHangup.store(false);
    ShowMsg(session, "\n Start the programming: \n");
    UpdateRun run{session, *front_end};
    run.usb_serial = UsbSerialNumber(session.SysfsRoot, session.ComPortName);
    // Each step of programming reaches the front end with the attempt it belongs to and the time
    // its programming has left. Programming that starts again (the next attempt) starts the
    // estimate over, from the line's rate and whatever the attempt measured of it so far.
    std::optional<TimeLeftEstimate> time_left;
    std::chrono::steady_clock::time_point programming_start{};
    session.FlashProgressSink = [&run, &time_left, &programming_start](const FlashProgress &step) {
        const std::chrono::steady_clock::time_point now = run.session.ProgressClock();
        if (!time_left || (step.stage == UpdateStage::kErasing && step.done == 0)) {
            time_left.emplace(run.session.LineBaud, run.session.LongExchangeTiming);
            programming_start = now;
        }
        // A step done, or a later stage: the flash has been erased, in part or in whole.
        if (step.stage != UpdateStage::kErasing || step.done > 0) run.erasing_begun = true;
        // Writing reports the name page as its last step but one (page 0 comes last).
        if ((step.stage == UpdateStage::kWriting && step.done >= step.total - 1) ||
            step.stage == UpdateStage::kVerifying) {
            run.name_page_written = true;
        }
        UpdateProgress progress{run.attempt, step.stage, step.done, step.total,
                                step.verifying_total};
        progress.seconds_left = time_left->Report(
            progress, std::chrono::duration<double>(now - programming_start).count());
        run.front_end.ReportProgress(progress);
    };
    int failed_attempts = 0;
    bool disconnection_told = false;
    for (;;) {
        const unsigned hangups_before = session.HangupsSeen.load();
        AttemptEnd attempt = AttemptEnd::kFailed;
        if (ImageMayUpdateAdapter(session)) {
            attempt = RunAttempt(run, failed_attempts);
        } else if (IdentifyAdapterQuietly(session)) {
            // The line hung up since the adapter was last known, and something answers now: it
            // gets a frame more only if it says again that it is the emulated adapter.
            if (!ImageMayUpdateAdapter(session)) return RefusedEnd(session, *front_end);
            attempt = RunAttempt(run, failed_attempts);
        }  // else nothing answers: the attempt fails as any attempt on a missing adapter
        if (attempt == AttemptEnd::kSucceeded) return SuccessEnd(session, *front_end);
        if (attempt == AttemptEnd::kNoAddress)
            return CancelEnd(session, *front_end, UpdateEnd::kRefused);

        // A fresh port for the next attempt: whatever the adapter sent late is discarded.
        ClosePort(session);
        ++failed_attempts;
        const bool reopened = InitPort(session);
        const bool node_gone = !reopened && session.OpenError == ENOENT;
        const bool disconnected = session.HangupsSeen.load() != hangups_before || node_gone;
        // Whoever answers at the port next may be another adapter.
        if (disconnected) run.identity_in_doubt = true;
        if (disconnected && !disconnection_told) {
            disconnection_told = true;
            ShowMsg(session,
                    " The adapter was disconnected. Plug it back in at %s, and the next attempt "
                    "goes on.\n",
                    session.ComPortName);
        }
        // Only this update's own check value errors end it at once: a kFailCheckValueMismatch left
        // by an earlier update, or by a first check that the second cleared, does not.
        if (failed_attempts >= kMaxAttempts || session.CheckValueMismatchStood) {
            return FailureEnd(session, *front_end);
        }
        ShowMsg(session, " Try again. Try count = %d\n", failed_attempts);
        run.attempt = failed_attempts + 1;
        PauseBeforeRetry(session, node_gone);
        if (!session.ThreadRunning.load()) {
            return CancelEnd(session, *front_end, UpdateEnd::kCancelled, run.erasing_begun);
        }
    }
}

void StartUpdateWorker(const std::shared_ptr<AdapterSession> &session,
                       std::shared_ptr<FrontEnd> front_end) {
    session->ThreadRunning.store(true);
    front_end->PostButtons(ButtonState::LockedForUpdate);
    try {
        // The thread holds its own references to the session and the front end, so both
        // outlive the worker's last posted change even if their owner lets go first.
        std::thread([session, front_end]() mutable {
            RunUpdateWorker(*session, front_end);
            front_end.reset();
            CountWorkerEnd(*session);
        }).detach();
    } catch (const std::system_error &) {
        // No thread could be started: nothing runs, so the buttons go back at once.
        session->ThreadRunning.store(false);
        front_end->PostButtons(ButtonState::Restored);
    }
}

void CancelUpdate(AdapterSession &session) {
    session.ThreadRunning.store(false);
    // Sleeps until the worker clears the flag and wakes it; no polling.
    while (session.UpdateFirmwareRunning.load()) session.UpdateFirmwareRunning.wait(true);
}

unsigned UpdateWorkersEnded(const AdapterSession &session) {
    std::lock_guard lock(session.WorkerEndsMutex);
    return session.WorkerEndsCount;
}

bool WaitForUpdateWorkersEnded(AdapterSession &session, unsigned count,
                               std::chrono::milliseconds timeout) {
    std::unique_lock lock(session.WorkerEndsMutex);
    return session.WorkerEndsChanged.wait_for(lock, timeout,
                                              [&] { return session.WorkerEndsCount >= count; });
}

}  // namespace tornelvox
