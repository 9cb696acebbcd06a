// update --all with a stand-in for each adapter's update, whose behaviour the port's name
// chooses ("/fake/fail-2" fails): the outcomes, the tables, the exit rule, stopping, failure
// isolation on the adapters' threads, the JSON lines and the log files.
#include "cli/update_all.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace tornelvox::cli {
namespace {

using update_all::ExitCode;
using RunStatus = update_all::ExitStatus;

// An output stream that keeps what is written and shows each complete line to a watcher, so a
// test can act at a point of the run (open a gate, ask for a stop) without timing it. The run
// writes under its lock, from the adapters' threads too.
class WatchedOutput : public std::streambuf {
  public:
    std::function<void(const std::string &line)> watch;
    std::string text;

  protected:
    int overflow(int c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        text += static_cast<char>(c);
        if (c != '\n') {
            line_ += static_cast<char>(c);
        } else {
            if (watch) watch(line_);
            line_.clear();
        }
        return c;
    }

  private:
    std::string line_;
};

// An escape sequence, CSI as UTF-8 (C2 9B) and DEL, as an adapter's bytes may carry them.
const std::string kHostile =
    "\x1b[2J\xc2\x9b"
    "31m\x7f";

// A flag an adapter's stand-in sleeps on until it is set or a limit passes.
class Gate {
  public:
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }
    bool WaitOpen(std::chrono::seconds limit) {
        std::unique_lock lock(mutex_);
        return opened_.wait_for(lock, limit, [this] { return open_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

// Stands in for one adapter's update. What it does comes from the port's name up to its first
// '-':
//
//   success       progress through every stage, a success with its address and versions
//   fail          fails writing, with the reason in its log
//   needs_answer  refused: the address question is never answered
//   slow          succeeds once the fixture's gate opens (waits up to 30 s)
//   hang          waits up to 30 s for the stop's cancel, then ends cancelled
//   throw         throws a std::exception midway; throw_other throws an int
//   bytes         logs bytes that are not UTF-8, then succeeds
//   hostile       fails with control characters (escape sequences, C1 controls raw and in UTF-8)
//                 in its log, its words and its result
class FakeUpdates {
  public:
    Gate gate;

    AdapterEnd operator()(const std::string &port, const AdapterUpdateOptions &options,
                          AdapterReport &report) {
        {
            std::lock_guard lock(mutex_);
            options_[port] = options;
        }
        const std::string name = port.substr(port.rfind('/') + 1);
        const std::string behaviour = name.substr(0, name.find('-'));
        if (behaviour == "success") return Succeed(report);
        if (behaviour == "fail") {
            report.Progress({1, UpdateStage::kErasing, 1, 2});
            report.Log("Update failed: the adapter did not answer the page write\n");
            return {ExitStatus::kUpdateFailed, {"", "3.02", ""}};
        }
        if (behaviour == "needs_answer") {
            report.Say("The update must know which BT address the adapter at " + port +
                       " is to keep.\nRun it again with --address or --new-address.\n");
            report.Log("The adapter's own Bluetooth address could not be read.\n");
            report.Log("No answer to the address question: nothing erased\n");
            return {ExitStatus::kRefused, {"", "3.02", ""}};
        }
        if (behaviour == "slow") {
            if (gate.WaitOpen(std::chrono::seconds(30))) return Succeed(report);
            report.Log("The gate never opened\n");
            return {ExitStatus::kUpdateFailed, {}};
        }
        if (behaviour == "hang") return WaitForStop(report);
        if (behaviour == "throw") {
            report.Progress({1, UpdateStage::kWriting, 2, 4});
            report.Log("Writing page 3\n");
            throw std::runtime_error("a library ran out of room");
        }
        if (behaviour == "throw_other") throw 42;
        if (behaviour == "bytes") {
            report.Log("\xff\xfe raw bytes\n");
            return Succeed(report);
        }
        if (behaviour == "hostile") {
            report.Log("the adapter said " + kHostile + "\n");
            report.Say("asked " + kHostile + "\n");
            report.Log("Update failed: " + kHostile + "\n");
            return {ExitStatus::kUpdateFailed, {kHostile, kHostile, ""}};
        }
        report.Log("unknown behaviour " + behaviour + "\n");
        return {ExitStatus::kBadUsage, {}};
    }

    AdapterUpdateOptions OptionsOf(const std::string &port) {
        std::lock_guard lock(mutex_);
        return options_[port];
    }

  private:
    static AdapterEnd Succeed(AdapterReport &report) {
        for (int done = 0; done <= 2; ++done) report.Progress({1, UpdateStage::kErasing, done, 2});
        for (int done = 0; done <= 4; ++done) {
            report.Progress({1, UpdateStage::kWriting, done, 4});
            report.Log(".");
        }
        report.Progress({1, UpdateStage::kVerifying, 1, 1});
        report.Log("\nUpdate succeeded\n");
        return {ExitStatus::kSuccess, {"06:04:03:00:01:00", "3.02", "6.03"}};
    }

    static AdapterEnd WaitForStop(AdapterReport &report) {
        auto stopped = std::make_shared<Gate>();
        if (!report.OnStop([stopped] { stopped->Open(); })) {
            report.Log("Stopped before it began\n");
            return {ExitStatus::kCancelled, {}};
        }
        report.Log("waiting\n");
        report.Progress({1, UpdateStage::kErasing, 0, 2});
        if (!stopped->WaitOpen(std::chrono::seconds(30))) {
            report.Log("Nobody stopped me\n");
            return {ExitStatus::kUpdateFailed, {}};
        }
        report.Log("Update cancelled\n");
        return {ExitStatus::kCancelled, {}};
    }

    std::mutex mutex_;
    std::map<std::string, AdapterUpdateOptions> options_;
};

class UpdateAllTest : public ::testing::Test {
  protected:
    UpdateAllTest() : out_(&output_) {
        char pattern[] = "/tmp/update-all-test-XXXXXX";
        dir_ = mkdtemp(pattern);
        request_.update = [this](const std::string &port, const AdapterUpdateOptions &options,
                                 AdapterReport &report) { return fakes_(port, options, report); };
        request_.log_dir = dir_ + "/logs";
        request_.out = &out_;
        request_.err = &err_;
    }
    ~UpdateAllTest() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    int Run(const std::vector<std::string> &behaviours) {
        request_.ports.clear();
        for (const std::string &behaviour : behaviours) request_.ports.push_back(Port(behaviour));
        return RunUpdateAll(request_);
    }

    static std::string Port(const std::string &behaviour) { return "/fake/" + behaviour; }

    std::string Output() const { return output_.text; }

    // The final table's line for the port.
    std::string TableLine(const std::string &behaviour) const {
        const std::string text = output_.text;
        const std::size_t table = text.find("\nPORT ");
        if (table == std::string::npos) return {};
        const std::size_t at = text.find("\n" + Port(behaviour) + " ", table);
        if (at == std::string::npos) return {};
        return text.substr(at + 1, text.find('\n', at + 1) - at - 1);
    }

    std::string LogOf(const std::string &behaviour) const {
        std::ifstream file(request_.log_dir + "/fake_" + behaviour + ".log");
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    std::vector<nlohmann::json> JsonLines() const {
        std::vector<nlohmann::json> lines;
        std::istringstream text(output_.text);
        for (std::string line; std::getline(text, line);) {
            lines.push_back(nlohmann::json::parse(line, nullptr, false));
        }
        return lines;
    }

    std::string dir_;
    FakeUpdates fakes_;
    WatchedOutput output_;
    std::ostream out_;
    std::ostringstream err_;
    UpdateAllRequest request_;
};

TEST_F(UpdateAllTest, AllSucceedAndTheFinalTableNamesEveryPort) {
    EXPECT_EQ(Run({"success-1", "success-2", "success-3"}), ExitCode(RunStatus::kSuccess));

    EXPECT_NE(Output().find("PORT"), std::string::npos) << Output();
    for (const char *port : {"success-1", "success-2", "success-3"}) {
        const std::string line = TableLine(port);
        EXPECT_NE(line.find("06:04:03:00:01:00"), std::string::npos) << Output();
        EXPECT_NE(line.find("3.02"), std::string::npos) << line;
        EXPECT_NE(line.find("6.03"), std::string::npos) << line;
        EXPECT_NE(line.find("success"), std::string::npos) << line;
    }
    EXPECT_NE(Output().find(request_.log_dir), std::string::npos) << Output();
}

TEST_F(UpdateAllTest, OneFailingAndOneRefusedLeaveTheOthersToSucceed) {
    EXPECT_EQ(Run({"success-1", "fail-1", "needs_answer-1", "success-2"}),
              ExitCode(RunStatus::kUpdateFailed));

    EXPECT_NE(TableLine("success-1").find("success"), std::string::npos) << Output();
    EXPECT_NE(TableLine("success-2").find("success"), std::string::npos) << Output();
    EXPECT_NE(TableLine("fail-1").find(
                  "failed: Update failed: the adapter did not answer the page write"),
              std::string::npos)
        << Output();
    EXPECT_NE(TableLine("needs_answer-1")
                  .find("refused: No answer to the address question: nothing erased"),
              std::string::npos)
        << Output();
}

// An update that throws, a std::exception or anything else, ends that adapter's update alone: it
// has failed, with the error and its log's last words, and the others go on to succeed.
TEST_F(UpdateAllTest, AnExceptionEndsItsAdapterAlone) {
    EXPECT_EQ(Run({"success-1", "throw-1", "throw_other-1", "success-2"}),
              ExitCode(RunStatus::kUpdateFailed));

    EXPECT_NE(TableLine("success-1").find("success"), std::string::npos) << Output();
    EXPECT_NE(TableLine("success-2").find("success"), std::string::npos) << Output();
    EXPECT_NE(TableLine("throw-1").find("failed: its update stopped on an error: a library ran "
                                        "out of room; its log last said: Writing page 3"),
              std::string::npos)
        << Output();
    EXPECT_NE(TableLine("throw_other-1")
                  .find("failed: its update stopped on an error: an exception of unknown type"),
              std::string::npos)
        << Output();
    const std::string log = LogOf("throw-1");
    EXPECT_NE(log.find("Writing page 3\nupdate --all: failed: its update stopped on an error: a "
                       "library ran out of room"),
              std::string::npos)
        << log;
}

// How each kind of end is named, and what a run of them exits with.
TEST_F(UpdateAllTest, EachEndIsNamedAndTheExitFollowsTheRule) {
    struct Case {
        std::vector<std::string> behaviours;
        std::string odd_one;   // the adapter whose table line is checked
        std::string expected;  // in its table line
        RunStatus exit;
    };
    const std::vector<Case> cases = {
        {{"success-1", "needs_answer-1"},
         "needs_answer-1",
         "refused: No answer",
         RunStatus::kRefused},
        {{"needs_answer-1", "fail-1"}, "fail-1", "failed: Update failed", RunStatus::kUpdateFailed},
        {{"success-1", "throw-1"},
         "throw-1",
         "failed: its update stopped on an error",
         RunStatus::kUpdateFailed},
        {{"bytes-1"}, "bytes-1", "success", RunStatus::kSuccess},
    };
    for (const Case &c : cases) {
        output_.text.clear();
        EXPECT_EQ(Run(c.behaviours), ExitCode(c.exit)) << c.odd_one << "\n" << Output();
        EXPECT_NE(TableLine(c.odd_one).find(c.expected), std::string::npos) << c.odd_one << "\n"
                                                                            << Output();
    }
}

TEST_F(UpdateAllTest, ASlowAdapterDoesNotHoldBackTheOthers) {
    // The slow adapter finishes only after the other two results have been passed on: a run that
    // waited for it (or held their lines back) leaves its gate shut, and it fails.
    request_.json = true;
    int others_done = 0;
    output_.watch = [&](const std::string &line) {
        const auto object = nlohmann::json::parse(line, nullptr, false);
        if (object.value("type", "") == "result" && object.contains("port") &&
            object["port"] != Port("slow-1") && ++others_done == 2) {
            fakes_.gate.Open();
        }
    };

    EXPECT_EQ(Run({"slow-1", "success-1", "success-2"}), ExitCode(RunStatus::kSuccess)) << Output();

    std::vector<std::string> result_order;
    for (const auto &line : JsonLines()) {
        if (line.value("type", "") == "result" && line.contains("port")) {
            result_order.push_back(line["port"]);
        }
    }
    ASSERT_EQ(result_order.size(), 3u) << Output();
    EXPECT_EQ(result_order.back(), Port("slow-1")) << Output();
}

// A stop cancels every adapter's update, and each goes on to its own cancel end; a stop asked for
// before an update began cancels it before it begins.
TEST_F(UpdateAllTest, AStopCancelsEveryAdapter) {
    request_.json = true;
    request_.stop = std::make_shared<UpdateAllStop>();
    int waiting = 0;
    output_.watch = [&](const std::string &line) {
        if (line.find("\"text\":\"waiting\\n\"") != std::string::npos && ++waiting == 3) {
            request_.stop->Request();
        }
    };

    EXPECT_EQ(Run({"hang-1", "hang-2", "hang-3"}), ExitCode(RunStatus::kCancelled)) << Output();

    const nlohmann::json result = JsonLines().back();
    EXPECT_EQ(result.value("status", ""), "cancelled") << Output();
    ASSERT_EQ(result["adapters"].size(), 3u);
    for (const auto &adapter : result["adapters"]) {
        EXPECT_EQ(adapter.value("status", ""), "cancelled") << adapter.dump();
        EXPECT_EQ(adapter.value("reason", ""), "Update cancelled") << adapter.dump();
    }
    for (const char *behaviour : {"hang-1", "hang-2", "hang-3"}) {
        EXPECT_NE(LogOf(behaviour).find("waiting\nUpdate cancelled\n"), std::string::npos)
            << LogOf(behaviour);
    }

    output_.text.clear();
    output_.watch = nullptr;
    EXPECT_EQ(Run({"hang-1", "success-1"}), ExitCode(RunStatus::kCancelled)) << Output();
    const nlohmann::json again = JsonLines().back();
    EXPECT_EQ(again["adapters"][0].value("reason", ""), "Stopped before it began") << Output();
}

TEST_F(UpdateAllTest, JsonLinesAllParseAndCarryTheirPort) {
    request_.json = true;

    EXPECT_EQ(Run({"success-1", "bytes-1", "fail-1"}), ExitCode(RunStatus::kUpdateFailed));

    const auto lines = JsonLines();
    ASSERT_GT(lines.size(), 3u);
    int results = 0;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        ASSERT_FALSE(lines[i].is_discarded()) << "line " << i << " of\n" << Output();
        ASSERT_TRUE(lines[i].contains("port")) << lines[i].dump();
        const std::string port = lines[i]["port"];
        EXPECT_TRUE(port == Port("success-1") || port == Port("bytes-1") || port == Port("fail-1"))
            << port;
        if (lines[i].value("type", "") == "result") ++results;
    }
    EXPECT_EQ(results, 3) << Output();  // each adapter's own, as it ended
    // Bytes that are not UTF-8 are read as Latin-1, and the line is ASCII.
    EXPECT_NE(Output().find("\\u00ff\\u00fe raw bytes"), std::string::npos) << Output();

    const nlohmann::json &result = lines.back();
    EXPECT_EQ(result.value("type", ""), "result");
    EXPECT_EQ(result.value("status", ""), "failed");
    EXPECT_EQ(result.value("exit", -1), ExitCode(RunStatus::kUpdateFailed));
    EXPECT_EQ(result.value("log_dir", ""), request_.log_dir);
    EXPECT_EQ(result["adapters"].size(), 3u);
}

// The bytes of the stand-in's hostile texts that must never pass as they are: ESC, CSI (raw,
// or the second byte of its UTF-8 form C2 9B), NEL (C2 85), DEL and BEL. The live table's own
// sequences (erase a line, go up N lines) are taken out of a terminal's output first.
std::string ForbiddenByteIn(std::string text, bool terminal) {
    if (terminal) {
        for (std::size_t at = 0; (at = text.find("\x1b[", at)) != std::string::npos;) {
            std::size_t end = at + 2;
            while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
            if (end < text.size() && (text[end] == 'K' || text[end] == 'F')) {
                text.erase(at, end + 1 - at);
            } else {
                ++at;
            }
        }
    }
    const std::string forbidden = "\x1b\x9b\x85\x7f\x07";
    const std::size_t at = text.find_first_of(forbidden);
    if (at == std::string::npos) return {};
    char shown[64];
    std::snprintf(shown, sizeof shown, "byte %02X at %zu",
                  static_cast<unsigned>(static_cast<unsigned char>(text[at])), at);
    return shown;
}

TEST_F(UpdateAllTest, ControlsFromAnAdapterAreEscapedInTheOutputAndTheLog) {
    struct Mode {
        const char *name;
        bool json;
        bool terminal;
    };
    // ESC [2J, CSI in UTF-8, "31m", DEL, as the adapter's texts carried them, made visible.
    const std::string shown = "\\x1B[2J\\xC2\\x9B31m\\x7F";
    for (const Mode mode :
         {Mode{"plain", false, false}, Mode{"terminal", false, true}, Mode{"json", true, false}}) {
        SCOPED_TRACE(mode.name);
        output_.text.clear();
        request_.json = mode.json;
        request_.terminal = mode.terminal;

        EXPECT_EQ(Run({"hostile-1"}), ExitCode(RunStatus::kUpdateFailed));

        EXPECT_EQ(ForbiddenByteIn(Output(), mode.terminal), "") << Output();
        if (mode.json) {
            // ASCII only, every control as \u00NN, C1 controls included.
            for (const char c : Output()) {
                ASSERT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << Output();
            }
            EXPECT_NE(Output().find("the adapter said \\u001b[2J\\u009b31m\\u007f"),
                      std::string::npos)
                << Output();
            for (const auto &line : JsonLines()) EXPECT_FALSE(line.is_discarded()) << Output();
        } else {
            EXPECT_NE(Output().find(shown), std::string::npos) << Output();
        }
        // The log keeps the texts' line breaks and shows every control.
        const std::string log = LogOf("hostile-1");
        EXPECT_EQ(ForbiddenByteIn(log, false), "") << log;
        EXPECT_NE(log.find("the adapter said " + shown + "\n"), std::string::npos) << log;
        EXPECT_NE(log.find("\nasked " + shown + "\n"), std::string::npos) << log;
    }
}

TEST_F(UpdateAllTest, EachLogFileHoldsItsOwnAdaptersLog) {
    request_.options.force = true;
    request_.options.new_address = true;
    request_.options.verify_all = true;
    request_.options.device_dir = "/some/dir";

    Run({"success-1", "fail-1", "needs_answer-1"});

    // Each adapter's update is given the run's options as they are.
    for (const char *behaviour : {"success-1", "fail-1", "needs_answer-1"}) {
        const AdapterUpdateOptions given = fakes_.OptionsOf(Port(behaviour));
        EXPECT_TRUE(given.force && given.new_address && given.verify_all) << behaviour;
        EXPECT_EQ(given.device_dir, "/some/dir") << behaviour;
        EXPECT_EQ(given.address, "") << behaviour;
    }
    const std::string success = LogOf("success-1");
    EXPECT_NE(success.find("Update succeeded\n"), std::string::npos) << success;
    EXPECT_EQ(std::count(success.begin(), success.end(), '.'), 5) << success;  // every dot kept
    EXPECT_EQ(success.find("page write"), std::string::npos) << success;

    const std::string fail = LogOf("fail-1");
    EXPECT_NE(fail.find("Update failed: the adapter did not answer the page write"),
              std::string::npos)
        << fail;
    EXPECT_EQ(fail.find("Update succeeded"), std::string::npos) << fail;

    // What the program said beside its log, such as how to answer its question, is kept too.
    const std::string refused = LogOf("needs_answer-1");
    EXPECT_NE(refused.find("\nRun it again with --address or --new-address.\n"), std::string::npos)
        << refused;
}

TEST_F(UpdateAllTest, NothingStartsWithoutAPortOrWithOneAddressForMany) {
    EXPECT_EQ(Run({}), ExitCode(RunStatus::kAdapterNotFound));
    EXPECT_NE(Output().find("No adapter found"), std::string::npos) << Output();

    request_.options.address = "11:22:33:44:55:66";
    EXPECT_EQ(Run({"success-1", "success-2"}), ExitCode(RunStatus::kBadUsage));
    EXPECT_NE(err_.str().find("the same Bluetooth address"), std::string::npos) << err_.str();
    EXPECT_FALSE(std::filesystem::exists(request_.log_dir + "/fake_success-1.log"));
}

unsigned Mode(const std::string &path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// The logs and every folder made for them are the user's alone, also when the folder was there
// before with looser rights.
TEST_F(UpdateAllTest, LogsAreTheUsersAlone) {
    request_.log_dir = dir_ + "/state/tornelvox-utility/update-all-logs";
    ASSERT_EQ(Run({"success-1"}), ExitCode(RunStatus::kSuccess)) << err_.str();
    EXPECT_EQ(Mode(dir_ + "/state"), 0700u);
    EXPECT_EQ(Mode(dir_ + "/state/tornelvox-utility"), 0700u);
    EXPECT_EQ(Mode(request_.log_dir), 0700u);
    EXPECT_EQ(Mode(request_.log_dir + "/fake_success-1.log"), 0600u);

    chmod(request_.log_dir.c_str(), 0755);
    chmod((request_.log_dir + "/fake_success-1.log").c_str(), 0644);
    ASSERT_EQ(Run({"success-1"}), ExitCode(RunStatus::kSuccess)) << err_.str();
    EXPECT_EQ(Mode(request_.log_dir), 0700u);
    EXPECT_EQ(Mode(request_.log_dir + "/fake_success-1.log"), 0600u);
    EXPECT_NE(LogOf("success-1").find("Update succeeded"), std::string::npos);
}

// What another local user can leave where the logs go before a run.
struct PlantedLogCase {
    const char *name;
    // Prepares the log folder (log_dir, under dir) as that user (uid) would; victim is a file
    // of the one who runs the updates.
    std::function<void(const std::string &dir, const std::string &log_dir, uid_t uid,
                       const std::string &victim)>
        plant;
    const char *said;  // part of the reason given
};

void PrintTo(const PlantedLogCase &c, std::ostream *os) {
    *os << c.name;
}

class PlantedLogs : public UpdateAllTest, public ::testing::WithParamInterface<PlantedLogCase> {};

// The run writes no file through anything they left, says why its logs are not kept, and the
// updates themselves go on. Only root can give a file to another user, and root's files are the
// ones at stake.
TEST_P(PlantedLogs, NoFileIsWrittenThroughThem) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make files another user owns";
    const passwd *nobody = getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "no user nobody on this machine";
    const std::string victim = dir_ + "/victim";
    std::ofstream(victim) << "a file only root may write\n";
    request_.log_dir = dir_ + "/shared/logs";
    ASSERT_EQ(mkdir((dir_ + "/shared").c_str(), 0755), 0);
    GetParam().plant(dir_, request_.log_dir, nobody->pw_uid, victim);

    EXPECT_EQ(Run({"success-1"}), ExitCode(RunStatus::kSuccess)) << err_.str();
    std::ifstream in(victim);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "a file only root may write\n");
    EXPECT_NE(err_.str().find(GetParam().said), std::string::npos) << err_.str();
}

void Own(const std::string &path, uid_t uid) {
    ASSERT_EQ(lchown(path.c_str(), uid, static_cast<gid_t>(-1)), 0) << path;
}

// A folder every user may write, as a shared temporary folder is, in which they made a link.
void TheirFolder(const std::string &path, uid_t uid, const std::string &victim) {
    ASSERT_EQ(mkdir(path.c_str(), 0777), 0) << path;
    chmod(path.c_str(), 0777);
    Own(path, uid);
    const std::string link = path + "/fake_success-1.log";
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    Own(link, uid);
}

INSTANTIATE_TEST_SUITE_P(
    AnotherUser, PlantedLogs,
    ::testing::Values(
        PlantedLogCase{"MadeTheFolderFirst",
                       [](const std::string &, const std::string &log_dir, uid_t uid,
                          const std::string &victim) { TheirFolder(log_dir, uid, victim); },
                       "belongs to user nobody"},
        PlantedLogCase{
            "MadeTheFolderAbove",
            [](const std::string &dir, const std::string &log_dir, uid_t uid,
               const std::string &victim) {
                Own(dir + "/shared", uid);
                ASSERT_EQ(mkdir(log_dir.c_str(), 0700), 0);
                ASSERT_EQ(symlink(victim.c_str(), (log_dir + "/fake_success-1.log").c_str()), 0);
            },
            "belongs to user nobody"},
        PlantedLogCase{"LinkedTheFolder",
                       [](const std::string &dir, const std::string &log_dir, uid_t uid,
                          const std::string &victim) {
                           TheirFolder(dir + "/theirs", uid, victim);
                           ASSERT_EQ(symlink((dir + "/theirs").c_str(), log_dir.c_str()), 0);
                           Own(log_dir, uid);
                       },
                       "is a link"},
        PlantedLogCase{"LinkedALogInOurFolder",
                       [](const std::string &, const std::string &log_dir, uid_t uid,
                          const std::string &victim) {
                           ASSERT_EQ(mkdir(log_dir.c_str(), 0700), 0);
                           const std::string link = log_dir + "/fake_success-1.log";
                           ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
                           Own(link, uid);
                       },
                       "is a link"}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tornelvox::cli
