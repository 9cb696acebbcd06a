// The command-line program as the workflows' front end: the log and the progress go to the
// output, the address question is answered by the command line or asked on the terminal.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "cli/button_commands.h"
#include "cli/output.h"
#include "workflow/front_end.h"

namespace tornelvox::cli {

// How the command line answers the address question, if it does.
struct AddressChoice {
    std::optional<BtAddress> given;  // --address
    bool new_address = false;        // --new-address
};

// The answer the command line gives without asking anyone: --address or --new-address for an
// adapter whose address could not be read. Otherwise no answer, which erases nothing, and said
// holds the words that tell the user what to do.
AddressAnswer AnswerWithoutAsking(const AddressQuestion &question, const AddressChoice &choice,
                                  std::string &said);

// One address the terminal's question offers, as its line shows it after the choice's number:
// "40:9E:21:5C:03:A7  address backup, saved 2026-12-10 16:34, on /dev/ttyUSB0 (FTDI FT232R USB
// UART, serial A50285BI)".
std::string CandidateText(const AddressCandidate &candidate);

class CliFrontEnd : public FrontEnd {
  public:
    CliFrontEnd(Output &output, AddressChoice choice, int cancel_wake_fd,
                ImageVerification verification = ImageVerification::kCheckValue);

    // From now on, after each line of the log that advises a button, says the command that does
    // the same (not with --json: a script has its own commands).
    void SayButtonCommands(ButtonCommandContext context);

    void AddMessage(const std::string &text) override;
    void PostButtons(ButtonState state) override;
    void OpenSettingsDialog() override;
    AddressAnswer AskForAddress(const AddressQuestion &question) override;
    void ReportProgress(const UpdateProgress &progress) override;
    ImageVerification UpdateVerification() const override { return verification_; }

  private:
    AddressAnswer AskOnTerminal(const AddressQuestion &question);

    Output &output_;
    const AddressChoice choice_;
    const int cancel_wake_fd_;
    const ImageVerification verification_;  // --verify-all
    std::mutex lines_mutex_;
    std::optional<ButtonCommandContext> button_commands_;
    std::string unfinished_line_;  // the log's last line so far, while it has no line break
    bool long_line_ = false;       // that line is too long to advise a button
};

}  // namespace tornelvox::cli
