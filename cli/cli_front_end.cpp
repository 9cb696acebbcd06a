#include "cli/cli_front_end.h"

#include <cstdlib>

#include "cli/terminal_prompt.h"
#include "firmware/address_backup.h"
#include "workflow/update_flow.h"

namespace tornelvox::cli {

namespace {

// How long the address question waits for an answer before it counts as unanswered.
constexpr std::chrono::seconds kAnswerLimit{600};
// A line longer than this advises no button and is not kept while it is unfinished.
constexpr std::size_t kLongestAdviceLine = 256;

}  // namespace

CliFrontEnd::CliFrontEnd(Output &output, AddressChoice choice, int cancel_wake_fd,
                         ImageVerification verification)
    : output_(output),
      choice_(choice),
      cancel_wake_fd_(cancel_wake_fd),
      verification_(verification) {}

void CliFrontEnd::SayButtonCommands(ButtonCommandContext context) {
    if (output_.Mode() == OutputMode::kJson) return;
    std::lock_guard lock(lines_mutex_);
    button_commands_ = std::move(context);
}

void CliFrontEnd::AddMessage(const std::string &text) {
    std::lock_guard lock(lines_mutex_);
    if (!button_commands_) {
        output_.Log(text);
        return;
    }
    // The text goes out up to the end of each advice line, the command after it.
    std::size_t logged = 0;
    std::size_t line_start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         end = text.find('\n', line_start)) {
        unfinished_line_.append(text, line_start, end - line_start);
        const std::string command =
            long_line_ ? std::string()
                       : CommandInsteadOfButton(unfinished_line_, *button_commands_);
        unfinished_line_.clear();
        long_line_ = false;
        line_start = end + 1;
        if (command.empty()) continue;
        output_.Log(text.substr(logged, line_start - logged));
        output_.Say(command);
        logged = line_start;
    }
    unfinished_line_.append(text, line_start);
    if (unfinished_line_.size() > kLongestAdviceLine) {
        unfinished_line_.clear();
        long_line_ = true;
    }
    if (logged < text.size()) output_.Log(text.substr(logged));
}

void CliFrontEnd::PostButtons(ButtonState state) {
    (void)state;  // no buttons: one command runs at a time
}

void CliFrontEnd::OpenSettingsDialog() {
    // The settings command fills in the applied values itself.
}

void CliFrontEnd::ReportProgress(const UpdateProgress &progress) {
    output_.Progress(progress);
}

AddressAnswer AnswerWithoutAsking(const AddressQuestion &question, const AddressChoice &choice,
                                  std::string &said) {
    AddressAnswer answer;
    if (question.kind != AddressQuestion::Kind::kAddressNotRead) {
        // The adapter was unplugged during the update, and the one at the port now may be
        // another: --address and --new-address were meant for the first one, and a script must
        // never write that adapter's address into this one.
        said = "The adapter at " + question.port +
               " was unplugged during the update: " + question.reason +
               "\nNothing was erased on it. An address given with --address or --new-address is "
               "meant for the adapter the update began with and is not used for this one. Check "
               "which adapter is at the port, then run the update again.\n";
        return answer;
    }
    if (choice.given) {
        answer.kind = AddressAnswer::Kind::kGivenAddress;
        answer.address = *choice.given;
        return answer;
    }
    if (choice.new_address) {
        answer.kind = AddressAnswer::Kind::kBuiltInAddress;
        return answer;
    }
    said = "The update must know which BT address the adapter at " + question.port +
           " is to keep: " + question.reason +
           "\nRun it again with --address XX:XX:XX:XX:XX:XX (the adapter's own, see --help) or "
           "--new-address.\n";
    return answer;
}

AddressAnswer CliFrontEnd::AskForAddress(const AddressQuestion &question) {
    const bool can_ask = output_.Mode() != OutputMode::kJson && CanAsk();
    // Only a person on the terminal answers for an adapter that may be another than the one the
    // update began with; answers given in advance come before asking otherwise.
    const bool answered_in_advance = question.kind == AddressQuestion::Kind::kAddressNotRead &&
                                     (choice_.given.has_value() || choice_.new_address);
    if (can_ask && !answered_in_advance) return AskOnTerminal(question);
    std::string said;
    const AddressAnswer answer = AnswerWithoutAsking(question, choice_, said);
    if (!said.empty()) output_.Say(said);
    return answer;
}

std::string CandidateText(const AddressCandidate &candidate) {
    std::string text = FormatBtAddress(candidate.address) + "  " + candidate.origin;
    if (!candidate.saved_at.empty()) text += ", saved " + candidate.saved_at;
    if (!candidate.port.empty()) text += ", on " + candidate.port;
    if (!candidate.device.empty()) text += " (" + candidate.device + ")";
    if (candidate.same_usb_device) text += " (this USB device)";
    return text;
}

AddressAnswer CliFrontEnd::AskOnTerminal(const AddressQuestion &question) {
    std::string text = "\nWhich BT address is the adapter at " + question.port + " to keep?\n" +
                       question.reason + "\n";
    std::size_t number = 1;
    for (const AddressCandidate &candidate : question.candidates) {
        text += "  " + std::to_string(number++) + ") " + CandidateText(candidate) + "\n";
    }
    const std::size_t built_in = number++;
    const std::size_t refuse = number;
    text += "  " + std::to_string(built_in) + ") " + FormatBtAddress(kBuiltInBtAddress) +
            "  the built-in address: a new address, its phones must pair again\n";
    text += "  " + std::to_string(refuse) + ") none: stop, erase nothing\n";
    output_.Say(text);
    for (;;) {
        output_.Say("Choose 1 to " + std::to_string(refuse) + ": ");
        const std::optional<std::string> line = ReadAnswer(cancel_wake_fd_, kAnswerLimit);
        output_.AnswerTyped();
        if (!line) return {};
        char *end = nullptr;
        const unsigned long chosen = std::strtoul(line->c_str(), &end, 10);
        if (line->empty() || end == nullptr || *end != '\0' || chosen < 1 || chosen > refuse) {
            continue;
        }
        AddressAnswer answer;
        if (chosen == refuse) {
            answer.kind = AddressAnswer::Kind::kRefused;
        } else if (chosen == built_in) {
            answer.kind = AddressAnswer::Kind::kBuiltInAddress;
        } else {
            answer.kind = AddressAnswer::Kind::kCandidate;
            answer.index = chosen - 1;
        }
        return answer;
    }
}

}  // namespace tornelvox::cli
