#include "cli/adapter_update.h"

#include <algorithm>
#include <memory>

#include "cli/cli_front_end.h"
#include "cli/commands.h"
#include "firmware/address_backup.h"
#include "firmware/firmware_update.h"
#include "workflow/check_flow.h"
#include "workflow/update_flow.h"

namespace tornelvox::cli {

namespace {

// The workflows' front end for one adapter of the run: its log and progress go to the run.
class AdapterFrontEnd : public FrontEnd {
  public:
    AdapterFrontEnd(AdapterReport &report, AddressChoice choice, ImageVerification verification)
        : report_(report), choice_(choice), verification_(verification) {}

    void AddMessage(const std::string &text) override { report_.Log(text); }
    void PostButtons(ButtonState state) override { (void)state; }
    void OpenSettingsDialog() override {}
    AddressAnswer AskForAddress(const AddressQuestion &question) override {
        std::string said;
        const AddressAnswer answer = AnswerWithoutAsking(question, choice_, said);
        if (!said.empty()) report_.Say(said);
        return answer;
    }
    void ReportProgress(const UpdateProgress &progress) override { report_.Progress(progress); }
    ImageVerification UpdateVerification() const override { return verification_; }

  private:
    AdapterReport &report_;
    const AddressChoice choice_;
    const ImageVerification verification_;
};

// Routes the session's log to the front end while the update runs, and nowhere after it: the
// front end refers to the run's report, which ends with the update.
class RoutedMessages {
  public:
    RoutedMessages(AdapterSession &session, std::shared_ptr<FrontEnd> front_end)
        : session_(session) {
        RouteMessagesTo(session_, std::move(front_end));
    }
    RoutedMessages(const RoutedMessages &) = delete;
    RoutedMessages &operator=(const RoutedMessages &) = delete;
    ~RoutedMessages() { RouteMessagesTo(session_, nullptr); }

  private:
    AdapterSession &session_;
};

AdapterEnd Cancelled(AdapterReport &report, AdapterResult result) {
    report.Say("Cancelled.\n");
    return {ExitStatus::kCancelled, std::move(result)};
}

}  // namespace

AdapterEnd UpdateAdapter(const std::string &port, const AdapterUpdateOptions &options,
                         AdapterReport &report) {
    AddressChoice choice;
    choice.new_address = options.new_address;
    if (!options.address.empty()) {
        choice.given = ParseBtAddress(options.address);
        if (!choice.given) {
            report.Say("--address " + options.address + " is not a BT address.\n");
            return {ExitStatus::kBadUsage, {}};
        }
    }
    auto session = std::make_shared<AdapterSession>();
    if (!options.device_dir.empty()) session->DeviceDirectory = options.device_dir;
    auto front_end = std::make_shared<AdapterFrontEnd>(
        report, choice,
        options.verify_all ? ImageVerification::kWholeImage : ImageVerification::kCheckValue);
    const RoutedMessages routed(*session, front_end);

    AdapterResult result;
    if (report.StopRequested()) return Cancelled(report, result);
    const CheckResult check = RunCheckAt(*session, port);
    if (!check.found) return {ExitStatus::kNotFound, result};
    if (check.version_read) result.version_before = VersionText(session->CurVerNum);
    if (check.version_read && session->CurVerNum >= VerNum && !options.force) {
        report.Say(NothingToUpdateText(session->ComPortName, result.version_before));
        result.version_after = result.version_before;
        return {ExitStatus::kSuccess, result};
    }

    // The Update action as the worker expects it; a stop clears the run flag, which the worker
    // looks at between its steps, and it goes on to its cancel end.
    session->ThreadRunning.store(true);
    // The stop may come after this update has ended and its session has gone.
    const auto cancel = [weak = std::weak_ptr<AdapterSession>(session)] {
        if (const auto running = weak.lock()) running->ThreadRunning.store(false);
    };
    if (!report.OnStop(cancel)) {
        return Cancelled(report, result);
    }
    RunUpdateWorker(*session, front_end);
    const UpdateEnd end = session->LastUpdateEnd.load();
    const ExitStatus status = StatusOfUpdateEnd(end, report.StopRequested());
    if (end == UpdateEnd::kSuccess) {
        BtAddress written{};
        std::copy(std::begin(session->BT_ADD), std::end(session->BT_ADD), written.begin());
        result.address = FormatBtAddress(written);
        result.version_after = VersionText(session->CurVerNum);
    }
    if (status == ExitStatus::kCancelled) return Cancelled(report, result);
    return {status, result};
}

}  // namespace tornelvox::cli
