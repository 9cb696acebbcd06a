#include "cli/update_all.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

#include "cli/adapter_log.h"
#include "cli/json_text.h"
#include "cli/progress_meter.h"
#include "firmware/state_folder.h"
#include "serial/outside_text.h"
#include "workflow/progress_estimate.h"

namespace tornelvox::cli {

namespace {

using Clock = std::chrono::steady_clock;
using update_all::StatusWord;
using RunStatus = update_all::ExitStatus;

static_assert(update_all::ExitCode(RunStatus::kSuccess) == static_cast<int>(ExitStatus::kSuccess));
static_assert(update_all::ExitCode(RunStatus::kAdapterNotFound) ==
              static_cast<int>(ExitStatus::kNotFound));
static_assert(update_all::ExitCode(RunStatus::kUpdateFailed) ==
              static_cast<int>(ExitStatus::kUpdateFailed));
static_assert(update_all::ExitCode(RunStatus::kCancelled) ==
              static_cast<int>(ExitStatus::kCancelled));
static_assert(update_all::ExitCode(RunStatus::kRefused) == static_cast<int>(ExitStatus::kRefused));
static_assert(update_all::ExitCode(RunStatus::kBadUsage) ==
              static_cast<int>(ExitStatus::kBadUsage));

// The live table is drawn at most this often.
constexpr auto kRedrawInterval = std::chrono::milliseconds(250);

struct AdapterRun {
    AdapterRow row;
    AdapterLog log;
    Clock::time_point started;
    std::thread thread;
    // Plain lines: what was last said of the progress.
    int said_attempt = -1;
    std::string said_stage;
    int said_quarter = -1;
};

class UpdateAllRun;

// An adapter's reports, taken on its thread into the run.
class Reporter : public AdapterReport {
  public:
    Reporter(UpdateAllRun &run, AdapterRun &adapter) : run_(run), adapter_(adapter) {}

    void Log(const std::string &text) override;
    void Say(const std::string &text) override;
    void Progress(const UpdateProgress &progress) override;
    bool OnStop(std::function<void()> cancel) override;
    bool StopRequested() const override;

  private:
    UpdateAllRun &run_;
    AdapterRun &adapter_;
};

class UpdateAllRun {
  public:
    explicit UpdateAllRun(const UpdateAllRequest &request)
        : request_(request),
          out_(request.out != nullptr ? *request.out : std::cout),
          err_(request.err != nullptr ? *request.err : std::cerr),
          stop_(request.stop != nullptr ? request.stop : std::make_shared<UpdateAllStop>()) {}
    UpdateAllRun(const UpdateAllRun &) = delete;
    UpdateAllRun &operator=(const UpdateAllRun &) = delete;
    // Should the run end by an exception, it still waits for every adapter's thread.
    ~UpdateAllRun() {
        for (auto &run : runs_) {
            if (run->thread.joinable()) run->thread.join();
        }
    }

    int Run();

  private:
    friend class Reporter;

    void OpenLogs();
    void StartThreads();
    void RunAdapter(AdapterRun &adapter);
    void Finish(AdapterRun &adapter, const AdapterEnd &end, const std::string *error);
    void WaitForEnds();
    void SayProgress(AdapterRun &adapter);
    void SayEnd(const AdapterRun &adapter);
    void Emit(const nlohmann::json &object);
    void DrawLive(Clock::time_point now, bool force);
    int Conclude();

    const UpdateAllRequest &request_;
    std::ostream &out_;
    std::ostream &err_;
    const std::shared_ptr<UpdateAllStop> stop_;
    std::vector<std::unique_ptr<AdapterRun>> runs_;
    // Guards every row and log, the output and what follows; the adapters' threads report
    // under it.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t ended_ = 0;
    bool dirty_ = false;
    Clock::time_point last_draw_{};
    std::size_t drawn_lines_ = 0;
};

void Reporter::Log(const std::string &text) {
    std::lock_guard lock(run_.mutex_);
    adapter_.log.Add(text);
    if (run_.request_.json) {
        run_.Emit({{"type", "log"}, {"text", ValidUtf8(text)}, {"port", adapter_.row.port}});
    }
}

void Reporter::Say(const std::string &text) {
    std::lock_guard lock(run_.mutex_);
    std::istringstream said(text);
    for (std::string line; std::getline(said, line);) adapter_.log.AddLine(line);
    if (run_.request_.json) {
        run_.Emit({{"type", "message"}, {"text", ValidUtf8(text)}, {"port", adapter_.row.port}});
    }
}

void Reporter::Progress(const UpdateProgress &progress) {
    std::lock_guard lock(run_.mutex_);
    AdapterRow &row = adapter_.row;
    row.progress = {progress.attempt, StageName(progress.stage), progress.done, progress.total};
    row.progress_seen = true;
    if (run_.request_.json) {
        run_.Emit({{"type", "progress"},
                   {"attempt", progress.attempt},
                   {"stage", StageName(progress.stage)},
                   {"done", progress.done},
                   {"total", progress.total},
                   {"seconds_left", SecondsLeftJson(progress)},
                   {"port", row.port}});
    } else if (run_.request_.terminal) {
        run_.dirty_ = true;
        run_.changed_.notify_all();
    } else {
        run_.SayProgress(adapter_);
    }
}

bool Reporter::OnStop(std::function<void()> cancel) {
    return run_.stop_->OnStop(std::move(cancel));
}

bool Reporter::StopRequested() const {
    return run_.stop_->Requested();
}

void UpdateAllRun::Emit(const nlohmann::json &object) {
    out_ << JsonLine(object);
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

void UpdateAllRun::RunAdapter(AdapterRun &adapter) {
    Reporter reporter(*this, adapter);
    AdapterEnd end;
    std::string error;
    bool threw = false;
    // The thread's edge: whatever the update throws ends this adapter's update alone.
    try {
        end = request_.update(adapter.row.port, request_.options, reporter);
    } catch (const std::exception &exception) {
        threw = true;
        error = exception.what();
    } catch (...) {
        threw = true;
        error = "an exception of unknown type";
    }
    Finish(adapter, end, threw ? &error : nullptr);
}

void UpdateAllRun::StartThreads() {
    for (auto &run : runs_) {
        AdapterRun &adapter = *run;
        adapter.started = Clock::now();
        try {
            adapter.thread = std::thread([this, &adapter] { RunAdapter(adapter); });
        } catch (const std::system_error &error) {
            const std::string why = std::string("could not start its thread: ") + error.what();
            Finish(adapter, AdapterEnd{}, &why);
        }
    }
}

void UpdateAllRun::Finish(AdapterRun &adapter, const AdapterEnd &end, const std::string *error) {
    std::lock_guard lock(mutex_);
    AdapterRow &row = adapter.row;
    row.seconds = std::chrono::duration<double>(Clock::now() - adapter.started).count();
    row.result = end.result;
    const std::string last_line = adapter.log.LastSubstantiveLine();
    row.outcome = AdapterOutcome::kFailed;
    if (error != nullptr) {
        row.reason = "its update stopped on an error: " + *error;
        if (!last_line.empty()) row.reason += "; its log last said: " + last_line;
    } else if (end.status == ExitStatus::kSuccess) {
        row.outcome = AdapterOutcome::kSuccess;
    } else {
        // Its log's last words say why better than the status.
        if (end.status == ExitStatus::kCancelled) row.outcome = AdapterOutcome::kCancelled;
        if (end.status == ExitStatus::kRefused) row.outcome = AdapterOutcome::kRefused;
        row.reason = last_line.empty() ? std::string(StatusName(end.status)) : last_line;
    }
    adapter.log.AddLine("update --all: " + std::string(OutcomeWord(row.outcome)) +
                            (row.reason.empty() ? "" : ": " + row.reason),
                        false);
    if (request_.json && error == nullptr) {
        nlohmann::json line = {{"type", "result"},
                               {"status", StatusName(end.status)},
                               {"exit", ToInt(end.status)},
                               {"port", row.port}};
        if (!row.result.address.empty()) line["address"] = row.result.address;
        if (!row.result.version_before.empty()) {
            line["version_before"] = row.result.version_before;
        }
        if (!row.result.version_after.empty()) line["version_after"] = row.result.version_after;
        Emit(line);
    }
    if (!request_.json && !request_.terminal) SayEnd(adapter);
    ++ended_;
    dirty_ = true;
    changed_.notify_all();
}

void UpdateAllRun::WaitForEnds() {
    std::unique_lock lock(mutex_);
    const bool live = request_.terminal && !request_.json;
    while (ended_ < runs_.size()) {
        if (!live) {
            changed_.wait(lock, [this] { return ended_ == runs_.size(); });
            break;
        }
        // Sleeps until something changed, then draws no more often than kRedrawInterval.
        changed_.wait(lock, [this] { return dirty_ || ended_ == runs_.size(); });
        const auto due = last_draw_ + kRedrawInterval;
        if (Clock::now() < due) {
            changed_.wait_until(lock, due, [this] { return ended_ == runs_.size(); });
        }
        DrawLive(Clock::now(), false);
    }
}

void UpdateAllRun::SayProgress(AdapterRun &adapter) {
    const AdapterProgress &progress = adapter.row.progress;
    const int quarter = Percent(progress) / 25;
    if (progress.attempt == adapter.said_attempt && progress.stage == adapter.said_stage &&
        quarter == adapter.said_quarter) {
        return;
    }
    adapter.said_attempt = progress.attempt;
    adapter.said_stage = progress.stage;
    adapter.said_quarter = quarter;
    out_ << PrintableText(adapter.row.port) << ": attempt " << progress.attempt << ", "
         << PrintableText(progress.stage.substr(0, 40)) << " " << Percent(progress) << " %\n";
    out_.flush();
}

void UpdateAllRun::SayEnd(const AdapterRun &adapter) {
    out_ << PrintableText(adapter.row.port) << ": " << ResultInWords(adapter.row) << "\n";
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

int UpdateAllRun::Conclude() {
    std::lock_guard lock(mutex_);
    std::vector<AdapterRow> rows;
    for (const auto &run : runs_) rows.push_back(run->row);
    const RunStatus status = CombinedStatus(rows, stop_->Requested());
    if (request_.json) {
        nlohmann::json adapters = nlohmann::json::array();
        for (const AdapterRow &row : rows) {
            nlohmann::json adapter = {
                {"port", row.port}, {"status", OutcomeWord(row.outcome)}, {"seconds", row.seconds}};
            if (!row.reason.empty()) adapter["reason"] = ValidUtf8(row.reason);
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
                  {"status", StatusWord(RunStatus::kAdapterNotFound)},
                  {"exit", update_all::ExitCode(RunStatus::kAdapterNotFound)}});
        } else {
            out_ << message << "\n";
        }
        return update_all::ExitCode(RunStatus::kAdapterNotFound);
    }
    if (!request_.options.address.empty() && request_.ports.size() > 1) {
        err_ << "update --all: --address " << request_.options.address << " would give all "
             << request_.ports.size()
             << " adapters the same Bluetooth address. Update them one at a time with --port.\n";
        return update_all::ExitCode(RunStatus::kBadUsage);
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
    {
        std::lock_guard lock(mutex_);
        DrawLive(Clock::now(), true);
    }
    StartThreads();
    WaitForEnds();
    for (auto &run : runs_) {
        if (run->thread.joinable()) run->thread.join();
    }
    return Conclude();
}

}  // namespace

void UpdateAllStop::Request() {
    std::lock_guard lock(mutex_);
    requested_ = true;
    for (const auto &cancel : cancels_) cancel();
    cancels_.clear();
}

bool UpdateAllStop::Requested() const {
    std::lock_guard lock(mutex_);
    return requested_;
}

bool UpdateAllStop::OnStop(std::function<void()> cancel) {
    std::lock_guard lock(mutex_);
    if (requested_) {
        if (cancel) cancel();
        return false;
    }
    if (cancel) cancels_.push_back(std::move(cancel));
    return true;
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
    if (all_succeeded) return RunStatus::kSuccess;
    if (stop_requested) return RunStatus::kCancelled;
    if (any(AdapterOutcome::kFailed) || any(AdapterOutcome::kRunning)) {
        return RunStatus::kUpdateFailed;
    }
    if (any(AdapterOutcome::kCancelled)) return RunStatus::kCancelled;
    return RunStatus::kRefused;
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
