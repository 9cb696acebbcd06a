#include "cli/update_all.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>

#include "cli/adapter_log.h"
#include "cli/awake_clock.h"
#include "cli/child_process.h"
#include "cli/child_report.h"
#include "cli/line_splitter.h"
#include "firmware/state_folder.h"
#include "serial/outside_text.h"

namespace tornelvox::cli {

namespace {

using Clock = std::chrono::steady_clock;
using Awake = AwakeClock::Awake;
using update_all::ExitStatus;
using update_all::StatusWord;

// A child's line is kept up to this many bytes; a longer one is reported as cut.
constexpr std::size_t kMaxLine = 64 * 1024;
// The live table is drawn at most this often.
constexpr auto kRedrawInterval = std::chrono::milliseconds(250);
// The stop flag is looked at at least this often.
constexpr auto kLongestWait = std::chrono::milliseconds(1000);
// A child whose pipes have closed is looked for this often until it is reaped.
constexpr auto kReapInterval = std::chrono::milliseconds(20);

// Why a child was sent SIGTERM, if it was.
enum class Termination { kNone, kStop, kSilence };

struct AdapterRun {
    AdapterRow row;
    ChildProcess child;
    AdapterLog log;
    LineSplitter out_lines{kMaxLine};
    LineSplitter err_lines{kMaxLine};
    bool saw_result = false;
    Termination termination = Termination::kNone;
    bool killed = false;
    Clock::time_point started;
    // On the awake clock: time the run spent stopped is no child's silence.
    Awake last_output{};
    Awake terminated_at{};
    // Plain lines: what was last said of the progress.
    int said_attempt = -1;
    std::string said_stage;
    int said_quarter = -1;
};

std::string SecondsText(std::chrono::milliseconds duration) {
    return std::to_string((duration.count() + 999) / 1000) + " s";
}

class UpdateAllRun {
  public:
    explicit UpdateAllRun(const UpdateAllRequest &request)
        : request_(request),
          out_(request.out != nullptr ? *request.out : std::cout),
          err_(request.err != nullptr ? *request.err : std::cerr) {}

    int Run();

  private:
    void OpenLogs();
    void StartChildren();
    void Loop();
    std::chrono::milliseconds NextWait(Clock::time_point now, Awake awake) const;
    void ReadPipe(AdapterRun &run, bool error_pipe, Awake awake);
    void OnOutputLine(AdapterRun &run, std::string_view line, bool cut);
    void OnErrorLine(AdapterRun &run, std::string_view line, bool cut);
    void RequestStop(Awake awake);
    void EnforceLimits(Awake awake);
    void ReapEnded(Clock::time_point now);
    void Finish(AdapterRun &run, const ChildEnd &end, Clock::time_point now);
    void SayProgress(AdapterRun &run);
    void SayEnd(const AdapterRun &run);
    void Emit(nlohmann::json object);
    void DrawLive(Clock::time_point now, bool force);
    int Conclude();
    bool AnyRunning() const;
    bool StopAsked() const {
        return request_.stop != nullptr && request_.stop->load(std::memory_order_acquire);
    }

    const UpdateAllRequest &request_;
    std::ostream &out_;
    std::ostream &err_;
    std::vector<std::unique_ptr<AdapterRun>> runs_;
    AwakeClock awake_{Clock::now()};
    bool stopping_ = false;
    bool dirty_ = false;
    Clock::time_point last_draw_{};
    std::size_t drawn_lines_ = 0;
};

bool UpdateAllRun::AnyRunning() const {
    return std::any_of(runs_.begin(), runs_.end(),
                       [](const auto &run) { return run->child.Running(); });
}

void UpdateAllRun::Emit(nlohmann::json object) {
    out_ << ChildJsonLine(object) << '\n';
    out_.flush();
}

void UpdateAllRun::OpenLogs() {
    if (request_.log_dir.empty()) return;
    std::string error;
    const int folder = OpenPrivateFolder(request_.log_dir, MissingFolders::kMake, error);
    if (folder < 0) {
        err_ << "update --all: " << error << "; the adapters' logs are not kept\n";
        return;
    }
    std::set<std::string> names;
    for (auto &run : runs_) {
        std::string name = LogFileName(run->row.port);
        for (int n = 2; names.count(name) != 0; ++n) {
            name = LogFileName(run->row.port + "-" + std::to_string(n));
        }
        names.insert(name);
        std::string why;
        if (!run->log.Open(folder, name, why)) {
            err_ << "update --all: cannot write " << request_.log_dir << "/" << name << ": " << why
                 << "\n";
        }
    }
    close(folder);
}

void UpdateAllRun::StartChildren() {
    for (auto &run : runs_) {
        run->started = Clock::now();
        run->last_output = awake_.Look(run->started);
        std::string why;
        if (run->child.Start(ChildCommand(request_, run->row.port), why, request_.hangup_ignored)) {
            continue;
        }
        run->row.outcome = AdapterOutcome::kFailed;
        run->row.reason = why;
        run->log.AddLine("update --all: " + why);
        if (request_.json) {
            Emit({{"type", "log"}, {"port", run->row.port}, {"text", why}});
        } else if (!request_.terminal) {
            SayEnd(*run);
        }
    }
}

void UpdateAllRun::OnOutputLine(AdapterRun &run, std::string_view line, bool cut) {
    ChildLine read = ReadChildLine(line, cut);
    if (read.kind == ChildLine::Kind::kInvalid) {
        const std::string note = "tornelvox update printed " + read.text;
        run.log.AddLine("update --all: " + note, false);
        if (request_.json) {
            Emit({{"type", "invalid_output"}, {"port", run.row.port}, {"text", note}});
        }
        return;
    }
    switch (read.kind) {
        case ChildLine::Kind::kLog:
            run.log.Add(read.text);
            break;
        case ChildLine::Kind::kProgress:
            run.row.progress = read.progress;
            run.row.progress_seen = true;
            dirty_ = true;
            if (!request_.json && !request_.terminal) SayProgress(run);
            break;
        case ChildLine::Kind::kResult:
            run.row.result = read.result;
            run.saw_result = true;
            break;
        case ChildLine::Kind::kOther:
            // The program's own words (such as how to answer a question it could not ask)
            // belong in the adapter's log beside the log's lines.
            if (read.object.value("type", "") == "message" && read.object.contains("text") &&
                read.object["text"].is_string()) {
                std::istringstream said(read.object["text"].get<std::string>());
                for (std::string said_line; std::getline(said, said_line);) {
                    run.log.AddLine(said_line);
                }
            }
            break;
        default:
            break;
    }
    if (request_.json) {
        read.object["port"] = run.row.port;
        Emit(std::move(read.object));
    }
}

void UpdateAllRun::OnErrorLine(AdapterRun &run, std::string_view line, bool cut) {
    run.log.AddLine(std::string(line) + (cut ? "..." : ""));
}

void UpdateAllRun::ReadPipe(AdapterRun &run, bool error_pipe, Awake awake) {
    const int fd = error_pipe ? run.child.ErrorFd() : run.child.OutputFd();
    char buffer[8192];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
    LineSplitter &lines = error_pipe ? run.err_lines : run.out_lines;
    const auto handle = [this, &run, error_pipe](std::string_view line, bool cut) {
        if (error_pipe) {
            OnErrorLine(run, line, cut);
        } else {
            OnOutputLine(run, line, cut);
        }
    };
    if (got <= 0) {
        lines.Finish(handle);
        if (error_pipe) {
            run.child.CloseError();
        } else {
            run.child.CloseOutput();
        }
        return;
    }
    run.last_output = awake;
    lines.Feed(std::string_view(buffer, static_cast<std::size_t>(got)), handle);
}

void UpdateAllRun::RequestStop(Awake awake) {
    stopping_ = true;
    for (auto &run : runs_) {
        if (!run->child.Running() || run->termination == Termination::kStop) continue;
        run->child.Signal(SIGTERM);
        run->termination = Termination::kStop;
        run->terminated_at = awake;
    }
}

void UpdateAllRun::EnforceLimits(Awake awake) {
    for (auto &run : runs_) {
        if (!run->child.Running()) continue;
        if (run->termination == Termination::kNone &&
            awake - run->last_output >= request_.silence_limit) {
            run->child.Signal(SIGTERM);
            run->termination = Termination::kSilence;
            run->terminated_at = awake;
        }
        if (run->termination != Termination::kNone && !run->killed &&
            awake - run->terminated_at >= request_.stop_grace) {
            run->child.Signal(SIGKILL);
            run->killed = true;
        }
    }
}

void UpdateAllRun::ReapEnded(Clock::time_point now) {
    for (auto &run : runs_) {
        if (!run->child.Running() || run->child.OutputFd() >= 0 || run->child.ErrorFd() >= 0) {
            continue;
        }
        if (const auto end = run->child.TryReap()) Finish(*run, *end, now);
    }
}

void UpdateAllRun::Finish(AdapterRun &run, const ChildEnd &end, Clock::time_point now) {
    AdapterRow &row = run.row;
    row.seconds = std::chrono::duration<double>(now - run.started).count();
    const std::string last_line = run.log.LastSubstantiveLine();
    // The status the child's exit code stands for, when it exited with one it uses.
    const std::optional<ExitStatus> exit_status =
        end.by_signal ? std::nullopt : update_all::StatusFromExitCode(end.code);
    const bool known = exit_status.has_value();
    const ExitStatus status = exit_status.value_or(ExitStatus::kUpdateFailed);
    const bool silenced = run.termination == Termination::kSilence;
    const std::string silence = "printed nothing for " + SecondsText(request_.silence_limit);
    row.outcome = AdapterOutcome::kFailed;
    if (run.killed) {
        row.reason = (silenced ? silence + "; " : std::string()) + "did not end within " +
                     SecondsText(request_.stop_grace) + " of being asked to stop; killed";
    } else if (silenced) {
        row.reason = silence + "; stopped";
    } else if (end.by_signal && run.termination == Termination::kStop && end.code == SIGTERM) {
        row.outcome = AdapterOutcome::kCancelled;
        row.reason = "ended by the stop before it reported";
    } else if (end.by_signal) {
        row.reason = "tornelvox update was " + DescribeEnd(end);
    } else if (!run.saw_result) {
        row.reason = "tornelvox update ended (" + DescribeEnd(end) + ") without a result line";
    } else if (!known) {
        row.reason = "tornelvox update ended with " + DescribeEnd(end) + ", which it never uses";
    } else if (status == ExitStatus::kSuccess) {
        row.outcome = AdapterOutcome::kSuccess;
    } else {
        // The child reported its end: its log's last words say why better than the status.
        if (status == ExitStatus::kCancelled) row.outcome = AdapterOutcome::kCancelled;
        if (status == ExitStatus::kRefused) row.outcome = AdapterOutcome::kRefused;
        row.reason = last_line.empty() ? std::string(StatusWord(status)) : last_line;
    }
    const bool reported = known && run.saw_result && run.termination == Termination::kNone;
    if (row.outcome == AdapterOutcome::kFailed && !reported && !last_line.empty()) {
        row.reason += "; its log last said: " + last_line;
    }
    run.log.AddLine("update --all: " + std::string(OutcomeWord(row.outcome)) +
                        (row.reason.empty() ? "" : ": " + row.reason),
                    false);
    dirty_ = true;
    if (!request_.json && !request_.terminal) SayEnd(run);
}

void UpdateAllRun::SayProgress(AdapterRun &run) {
    const ChildProgress &progress = run.row.progress;
    const int quarter = Percent(progress) / 25;
    if (progress.attempt == run.said_attempt && progress.stage == run.said_stage &&
        quarter == run.said_quarter) {
        return;
    }
    run.said_attempt = progress.attempt;
    run.said_stage = progress.stage;
    run.said_quarter = quarter;
    out_ << PrintableText(run.row.port) << ": attempt " << progress.attempt << ", "
         << PrintableText(progress.stage.substr(0, 40)) << " " << Percent(progress) << " %\n";
    out_.flush();
}

void UpdateAllRun::SayEnd(const AdapterRun &run) {
    out_ << PrintableText(run.row.port) << ": " << ResultInWords(run.row) << "\n";
    out_.flush();
}

void UpdateAllRun::DrawLive(Clock::time_point now, bool force) {
    if (!request_.terminal || request_.json) return;
    if (!force && (!dirty_ || now - last_draw_ < kRedrawInterval)) return;
    std::vector<AdapterRow> rows;
    for (const auto &run : runs_) rows.push_back(run->row);
    const std::vector<std::string> lines = LiveTable(rows);
    if (drawn_lines_ > 0) out_ << "\x1b[" << drawn_lines_ << "F";  // back to the table's start
    for (const std::string &line : lines) out_ << "\x1b[2K" << line << '\n';
    out_.flush();
    drawn_lines_ = lines.size();
    dirty_ = false;
    last_draw_ = now;
}

std::chrono::milliseconds UpdateAllRun::NextWait(Clock::time_point now, Awake awake) const {
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kLongestWait);
    const auto within = [&wait](Clock::duration left) {
        wait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(left),
                          std::chrono::milliseconds(0), wait);
    };
    if (dirty_ && request_.terminal && !request_.json) within(last_draw_ + kRedrawInterval - now);
    for (const auto &run : runs_) {
        if (!run->child.Running()) continue;
        if (run->child.OutputFd() < 0 && run->child.ErrorFd() < 0) within(kReapInterval);
        if (run->termination == Termination::kNone) {
            within(run->last_output + request_.silence_limit - awake);
        } else if (!run->killed) {
            within(run->terminated_at + request_.stop_grace - awake);
        }
    }
    return wait;
}

void UpdateAllRun::Loop() {
    std::vector<pollfd> fds;
    std::vector<std::pair<AdapterRun *, bool>> owners;  // each fd's adapter; true: stderr
    while (AnyRunning()) {
        const auto now = Clock::now();
        const Awake awake = awake_.Look(now);
        if (!stopping_ && StopAsked()) RequestStop(awake);
        EnforceLimits(awake);
        ReapEnded(now);
        DrawLive(now, false);
        if (!AnyRunning()) break;

        fds.clear();
        owners.clear();
        const bool watch_stop_fd = !stopping_ && request_.stop_fd >= 0;
        if (watch_stop_fd) fds.push_back({request_.stop_fd, POLLIN, 0});
        for (auto &run : runs_) {
            for (const bool error_pipe : {false, true}) {
                const int fd = error_pipe ? run->child.ErrorFd() : run->child.OutputFd();
                if (fd < 0) continue;
                fds.push_back({fd, POLLIN, 0});
                owners.emplace_back(run.get(), error_pipe);
            }
        }
        const std::chrono::milliseconds wait = NextWait(now, awake);
        awake_.Expect(wait);
        const int ready = poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
        if (ready <= 0) continue;  // the wait ended, or a signal came: look at the flags again
        const Awake woken = awake_.Look(Clock::now());
        std::size_t first = 0;
        if (watch_stop_fd) {
            first = 1;
            if (fds[0].revents != 0) RequestStop(woken);
        }
        for (std::size_t i = first; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            ReadPipe(*owners[i - first].first, owners[i - first].second, woken);
        }
    }
}

int UpdateAllRun::Conclude() {
    std::vector<AdapterRow> rows;
    for (const auto &run : runs_) rows.push_back(run->row);
    const ExitStatus status = CombinedStatus(rows, stopping_);
    if (request_.json) {
        nlohmann::json adapters = nlohmann::json::array();
        for (const AdapterRow &row : rows) {
            nlohmann::json adapter = {
                {"port", row.port}, {"status", OutcomeWord(row.outcome)}, {"seconds", row.seconds}};
            if (!row.reason.empty()) adapter["reason"] = row.reason;
            if (!row.result.address.empty()) adapter["address"] = row.result.address;
            if (!row.result.version_before.empty()) {
                adapter["version_before"] = row.result.version_before;
            }
            if (!row.result.version_after.empty()) {
                adapter["version_after"] = row.result.version_after;
            }
            adapters.push_back(std::move(adapter));
        }
        Emit({{"type", "result"},
              {"status", StatusWord(status)},
              {"exit", update_all::ExitCode(status)},
              {"log_dir", request_.log_dir},
              {"adapters", std::move(adapters)}});
    } else {
        DrawLive(Clock::now(), true);
        out_ << "\n" << FinalTable(rows);
        if (!request_.log_dir.empty())
            out_ << "Each adapter's log is in " << request_.log_dir << "\n";
        out_.flush();
    }
    return update_all::ExitCode(status);
}

int UpdateAllRun::Run() {
    if (request_.ports.empty()) {
        const std::string message =
            "No adapter found: no serial device node answered as a Tornelvox adapter.";
        if (request_.json) {
            Emit({{"type", "log"}, {"text", message}});
            Emit({{"type", "result"},
                  {"status", StatusWord(ExitStatus::kAdapterNotFound)},
                  {"exit", update_all::ExitCode(ExitStatus::kAdapterNotFound)}});
        } else {
            out_ << message << "\n";
        }
        return update_all::ExitCode(ExitStatus::kAdapterNotFound);
    }
    if (!request_.forwarded.address.empty() && request_.ports.size() > 1) {
        err_ << "update --all: --address " << request_.forwarded.address << " would give all "
             << request_.ports.size()
             << " adapters the same Bluetooth address. Update them one at a time with --port.\n";
        return update_all::ExitCode(ExitStatus::kBadUsage);
    }
    for (const std::string &port : request_.ports) {
        auto run = std::make_unique<AdapterRun>();
        run->row.port = port;
        runs_.push_back(std::move(run));
    }
    OpenLogs();
    if (!request_.json) {
        out_ << "Updating " << runs_.size() << (runs_.size() == 1 ? " adapter" : " adapters");
        if (!request_.log_dir.empty()) out_ << "; each one's log goes to " << request_.log_dir;
        out_ << "\n";
        out_.flush();
    }
    StartChildren();
    DrawLive(Clock::now(), true);
    Loop();
    return Conclude();
}

}  // namespace

std::vector<std::string> ChildCommand(const UpdateAllRequest &request, const std::string &port) {
    std::vector<std::string> command = {request.program, "update", "--port", port,
                                        "--json",        "--yes"};
    const ForwardedOptions &options = request.forwarded;
    if (options.force) command.push_back("--force");
    if (!options.address.empty()) {
        command.push_back("--address");
        command.push_back(options.address);
    }
    if (options.new_address) command.push_back("--new-address");
    if (options.verify_all) command.push_back("--verify-all");
    if (!options.device_dir.empty()) {
        command.push_back("--device-dir");
        command.push_back(options.device_dir);
    }
    return command;
}

update_all::ExitStatus CombinedStatus(const std::vector<AdapterRow> &rows, bool stop_requested) {
    const auto any = [&rows](AdapterOutcome outcome) {
        return std::any_of(rows.begin(), rows.end(),
                           [outcome](const AdapterRow &row) { return row.outcome == outcome; });
    };
    const bool all_succeeded =
        !rows.empty() && std::all_of(rows.begin(), rows.end(), [](const AdapterRow &row) {
            return row.outcome == AdapterOutcome::kSuccess;
        });
    if (all_succeeded) return ExitStatus::kSuccess;
    if (stop_requested) return ExitStatus::kCancelled;
    if (any(AdapterOutcome::kFailed) || any(AdapterOutcome::kRunning)) {
        return ExitStatus::kUpdateFailed;
    }
    if (any(AdapterOutcome::kCancelled)) return ExitStatus::kCancelled;
    return ExitStatus::kRefused;
}

int RunUpdateAll(const UpdateAllRequest &request) {
    try {
        UpdateAllRun run(request);
        return run.Run();
    } catch (const std::exception &error) {
        try {
            (request.err != nullptr ? *request.err : std::cerr)
                << "update --all stopped: " << error.what() << "\n";
        } catch (...) {
        }
    } catch (...) {
    }
    return update_all::ExitCode(update_all::ExitStatus::kUpdateFailed);
}

}  // namespace tornelvox::cli
