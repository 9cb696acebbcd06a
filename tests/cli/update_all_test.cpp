// update --all against a fake `tornelvox update` whose behaviour each port's name chooses
// (fake_update_child.cpp): the outcomes, the tables, the exit rule, stopping, the JSON lines and
// the log files.
#include "cli/update_all.h"

#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace tornelvox::cli {
namespace {

using update_all::ExitCode;
using update_all::ExitStatus;

// An output stream that keeps what is written and shows each complete line to a watcher, so a
// test can act at a point of the run (open a gate, ask for a stop) without timing it.
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

class UpdateAllTest : public ::testing::Test {
  protected:
    UpdateAllTest() : out_(&output_) {
        char pattern[] = "/tmp/update-all-test-XXXXXX";
        dir_ = mkdtemp(pattern);
        gate_ = dir_ + "/gate";
        setenv("FAKE_UPDATE_GATE", gate_.c_str(), 1);
        request_.program = FAKE_UPDATE_CHILD;
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
    std::string gate_;
    WatchedOutput output_;
    std::ostream out_;
    std::ostringstream err_;
    UpdateAllRequest request_;
};

TEST_F(UpdateAllTest, AllSucceedAndTheFinalTableNamesEveryPort) {
    EXPECT_EQ(Run({"success-1", "success-2", "success-3"}), ExitCode(ExitStatus::kSuccess));

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
              ExitCode(ExitStatus::kUpdateFailed));

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

// How each kind of end is named, and what a run of them exits with.
TEST_F(UpdateAllTest, EachEndIsNamedAndTheExitFollowsTheRule) {
    struct Case {
        std::vector<std::string> behaviours;
        std::string odd_one;   // the adapter whose table line is checked
        std::string expected;  // in its table line
        ExitStatus exit;
    };
    const std::vector<Case> cases = {
        {{"success-1", "needs_answer-1"},
         "needs_answer-1",
         "refused: No answer",
         ExitStatus::kRefused},
        {{"needs_answer-1", "fail-1"},
         "fail-1",
         "failed: Update failed",
         ExitStatus::kUpdateFailed},
        {{"success-1", "signal-1"},
         "signal-1",
         "failed: tornelvox update was killed by signal 9",
         ExitStatus::kUpdateFailed},
        {{"silent-1"},
         "silent-1",
         "failed: tornelvox update ended (exit code 0) without a result line",
         ExitStatus::kUpdateFailed},
        {{"garbage-1"}, "garbage-1", "success", ExitStatus::kSuccess},
    };
    for (const Case &c : cases) {
        output_.text.clear();
        EXPECT_EQ(Run(c.behaviours), ExitCode(c.exit)) << c.odd_one << "\n" << Output();
        EXPECT_NE(TableLine(c.odd_one).find(c.expected), std::string::npos) << c.odd_one << "\n"
                                                                            << Output();
    }
}

TEST_F(UpdateAllTest, ASlowAdapterDoesNotHoldBackTheOthers) {
    // The slow child finishes only after the other two results have been passed on: a run that
    // waited for it (or held their lines back) leaves its gate shut, and it fails.
    request_.json = true;
    int others_done = 0;
    output_.watch = [&](const std::string &line) {
        const auto object = nlohmann::json::parse(line, nullptr, false);
        if (object.value("type", "") == "result" && object.contains("port") &&
            object["port"] != Port("slow-1") && ++others_done == 2) {
            std::ofstream(gate_).put('1');
        }
    };

    EXPECT_EQ(Run({"slow-1", "success-1", "success-2"}), ExitCode(ExitStatus::kSuccess))
        << Output();

    std::vector<std::string> result_order;
    for (const auto &line : JsonLines()) {
        if (line.value("type", "") == "result" && line.contains("port")) {
            result_order.push_back(line["port"]);
        }
    }
    ASSERT_EQ(result_order.size(), 3u) << Output();
    EXPECT_EQ(result_order.back(), Port("slow-1")) << Output();
}

TEST_F(UpdateAllTest, AStopCancelsEveryChild) {
    request_.json = true;
    std::atomic<bool> stop{false};
    int wake[2];
    ASSERT_EQ(pipe(wake), 0);
    request_.stop = &stop;
    request_.stop_fd = wake[0];
    int waiting = 0;
    output_.watch = [&](const std::string &line) {
        if (line.find("\"text\":\"waiting\\n\"") != std::string::npos && ++waiting == 3) {
            stop.store(true);
            ASSERT_EQ(write(wake[1], "x", 1), 1);
        }
    };

    EXPECT_EQ(Run({"hang-1", "hang-2", "hang-3"}), ExitCode(ExitStatus::kCancelled)) << Output();

    const nlohmann::json result = JsonLines().back();
    EXPECT_EQ(result.value("status", ""), "cancelled") << Output();
    ASSERT_EQ(result["adapters"].size(), 3u);
    for (const auto &adapter : result["adapters"]) {
        EXPECT_EQ(adapter.value("status", ""), "cancelled") << adapter.dump();
    }
    close(wake[0]);
    close(wake[1]);
}

TEST_F(UpdateAllTest, AChildThatIgnoresTheStopIsKilledAfterTheGrace) {
    request_.json = true;
    std::atomic<bool> stop{false};
    request_.stop = &stop;  // no pipe: the flag alone is enough
    request_.stop_grace = std::chrono::milliseconds(100);
    output_.watch = [&](const std::string &line) {
        if (line.find("\"text\":\"waiting\\n\"") != std::string::npos) stop.store(true);
    };

    EXPECT_EQ(Run({"stubborn-1"}), ExitCode(ExitStatus::kCancelled)) << Output();

    const nlohmann::json adapter = JsonLines().back()["adapters"][0];
    EXPECT_EQ(adapter.value("status", ""), "failed") << Output();
    EXPECT_EQ(adapter.value("reason", "")
                  .rfind("did not end within 1 s of being asked to stop; killed", 0),
              0u)
        << Output();
}

TEST_F(UpdateAllTest, AChildSilentPastTheLimitIsStoppedAndFails) {
    request_.silence_limit = std::chrono::milliseconds(100);

    EXPECT_EQ(Run({"hang-1"}), ExitCode(ExitStatus::kUpdateFailed)) << Output();

    EXPECT_NE(TableLine("hang-1").find("failed: printed nothing for 1 s; stopped"),
              std::string::npos)
        << Output();
}

// Ctrl-Z stops the run and its children (one process group, as a shell runs a job) for longer
// than the silence limit, and fg lets them go on: time spent stopped is no silence, and every
// update goes on to succeed.
TEST_F(UpdateAllTest, TimeSpentStoppedIsNoSilence) {
    request_.json = true;
    request_.silence_limit = std::chrono::milliseconds(1000);
    const auto stopped_for = std::chrono::milliseconds(2500);
    request_.ports = {Port("ticking-1"), Port("ticking-2")};
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t runner = fork();
    ASSERT_GE(runner, 0);
    if (runner == 0) {
        setpgid(0, 0);
        close(out[0]);
        dup2(out[1], STDOUT_FILENO);
        request_.out = &std::cout;
        const int code = RunUpdateAll(request_);
        std::cout.flush();
        _exit(code);
    }
    setpgid(runner, runner);  // whichever side comes first
    close(out[1]);
    FILE *from_runner = fdopen(out[0], "r");
    ASSERT_NE(from_runner, nullptr);
    std::string text;
    const auto next_line = [&]() -> std::optional<std::string> {
        char *line = nullptr;
        std::size_t size = 0;
        const ssize_t got = getline(&line, &size, from_runner);
        std::optional<std::string> read;
        if (got > 0) read = std::string(line, static_cast<std::size_t>(got));
        free(line);
        if (read) text += *read;
        return read;
    };
    std::set<std::string> ticking;
    while (ticking.size() < request_.ports.size()) {
        const std::optional<std::string> line = next_line();
        if (!line) break;
        const nlohmann::json object = nlohmann::json::parse(*line, nullptr, false);
        if (object.value("type", "") == "progress") ticking.insert(object.value("port", ""));
    }
    EXPECT_EQ(ticking.size(), request_.ports.size()) << text;

    ASSERT_EQ(kill(-runner, SIGTSTP), 0);
    int status = 0;
    ASSERT_EQ(waitpid(runner, &status, WUNTRACED), runner);
    ASSERT_TRUE(WIFSTOPPED(status));
    std::this_thread::sleep_for(stopped_for);
    std::ofstream(gate_).put('1');
    ASSERT_EQ(kill(-runner, SIGCONT), 0);

    while (next_line()) {
    }
    fclose(from_runner);
    ASSERT_EQ(waitpid(runner, &status, 0), runner);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), ExitCode(ExitStatus::kSuccess)) << text;
    const nlohmann::json result =
        nlohmann::json::parse(text.substr(text.rfind('\n', text.size() - 2) + 1), nullptr, false);
    ASSERT_TRUE(result.contains("adapters")) << text;
    for (const auto &adapter : result["adapters"]) {
        EXPECT_EQ(adapter.value("status", ""), "success") << adapter.dump();
    }
}

// Each child starts with the stop signals' default actions, none blocked, whatever this process
// set itself (the command line blocks them and ignores SIGPIPE); only a hangup the program was
// started with ignored (nohup) stays ignored.
TEST_F(UpdateAllTest, EachChildTakesTheStopSignalsAsTheProgramWasStartedToTakeThem) {
    const struct {
        const char *name;
        bool hangup_ignored;       // the request's: as the program was started
        void (*handler)(int);      // SIGHUP's disposition in this process as the child starts
        const char *child_hangup;  // the child's line for SIGHUP
    } cases[] = {
        {"started under nohup", true, SIG_IGN, "SIGHUP ignored, not blocked"},
        {"started plain", false, SIG_DFL, "SIGHUP default, not blocked"},
        {"ignored since", false, SIG_IGN, "SIGHUP default, not blocked"},
    };
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    for (const int signal_number : {SIGHUP, SIGINT, SIGTERM})
        sigaddset(&stop_signals, signal_number);
    sigset_t mask_before;
    ASSERT_EQ(sigprocmask(SIG_BLOCK, &stop_signals, &mask_before), 0);
    struct sigaction hangup_before {};
    struct sigaction pipe_before {};
    sigaction(SIGHUP, nullptr, &hangup_before);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &pipe_before);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        request_.hangup_ignored = c.hangup_ignored;
        struct sigaction hangup {};
        hangup.sa_handler = c.handler;
        sigaction(SIGHUP, &hangup, nullptr);

        EXPECT_EQ(Run({"dispositions-1"}), ExitCode(ExitStatus::kSuccess)) << Output();

        const std::string log = LogOf("dispositions-1");
        for (const char *line : {c.child_hangup, "SIGINT default, not blocked",
                                 "SIGTERM default, not blocked", "SIGPIPE default, not blocked"}) {
            EXPECT_NE(log.find("\n" + std::string(line) + "\n"), std::string::npos) << line << "\n"
                                                                                    << log;
        }
    }
    sigaction(SIGHUP, &hangup_before, nullptr);
    sigaction(SIGPIPE, &pipe_before, nullptr);
    sigprocmask(SIG_SETMASK, &mask_before, nullptr);
}

TEST_F(UpdateAllTest, JsonLinesAllParseAndCarryTheirPort) {
    request_.json = true;

    EXPECT_EQ(Run({"success-1", "garbage-1", "fail-1"}), ExitCode(ExitStatus::kUpdateFailed));

    const auto lines = JsonLines();
    ASSERT_GT(lines.size(), 3u);
    int invalid = 0;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        ASSERT_FALSE(lines[i].is_discarded()) << "line " << i << " of\n" << Output();
        ASSERT_TRUE(lines[i].contains("port")) << lines[i].dump();
        const std::string port = lines[i]["port"];
        EXPECT_TRUE(port == Port("success-1") || port == Port("garbage-1") ||
                    port == Port("fail-1"))
            << port;
        if (lines[i].value("type", "") == "invalid_output") {
            ++invalid;
            EXPECT_EQ(port, Port("garbage-1"));
        }
    }
    EXPECT_EQ(invalid, 6) << Output();  // every garbage line, none of the valid ones
    EXPECT_NE(Output().find("\\\\xFF\\\\xFE raw bytes"), std::string::npos) << Output();
    EXPECT_NE(Output().find("a line too long to read"), std::string::npos) << Output();

    const nlohmann::json &result = lines.back();
    EXPECT_EQ(result.value("type", ""), "result");
    EXPECT_EQ(result.value("status", ""), "failed");
    EXPECT_EQ(result.value("exit", -1), ExitCode(ExitStatus::kUpdateFailed));
    EXPECT_EQ(result.value("log_dir", ""), request_.log_dir);
    EXPECT_EQ(result["adapters"].size(), 3u);
}

// The bytes of the fake child's hostile texts that must never pass as they are: ESC, CSI (raw,
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

TEST_F(UpdateAllTest, ControlsFromAChildAreEscapedInTheOutputAndTheLog) {
    struct Mode {
        const char *name;
        bool json;
        bool terminal;
    };
    // ESC [2J, CSI in UTF-8, "31m", DEL, as the child printed them, made visible.
    const std::string shown = "\\x1B[2J\\xC2\\x9B31m\\x7F";
    for (const Mode mode :
         {Mode{"plain", false, false}, Mode{"terminal", false, true}, Mode{"json", true, false}}) {
        SCOPED_TRACE(mode.name);
        output_.text.clear();
        request_.json = mode.json;
        request_.terminal = mode.terminal;

        EXPECT_EQ(Run({"hostile-1"}), ExitCode(ExitStatus::kUpdateFailed));

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
        // The log keeps the child's line breaks and shows every control.
        const std::string log = LogOf("hostile-1");
        EXPECT_EQ(ForbiddenByteIn(log, false), "") << log;
        EXPECT_NE(log.find("the adapter said " + shown + "\n"), std::string::npos) << log;
        EXPECT_NE(log.find("\nasked " + shown + "\n"), std::string::npos) << log;
        EXPECT_NE(log.find("\nstderr \\x1B]0;title\\x07 \\x9B raw\n"), std::string::npos) << log;
    }
}

TEST_F(UpdateAllTest, EachLogFileHoldsItsOwnChildsLog) {
    request_.forwarded.force = true;
    request_.forwarded.new_address = true;
    request_.forwarded.verify_all = true;
    request_.forwarded.device_dir = "/some/dir";

    Run({"success-1", "fail-1", "needs_answer-1"});

    const std::string success = LogOf("success-1");
    EXPECT_NE(success.find("args: update --port /fake/success-1 --json --yes --force "
                           "--new-address --verify-all --device-dir /some/dir\n"),
              std::string::npos)
        << success;
    EXPECT_NE(success.find("Update succeeded\n"), std::string::npos) << success;
    EXPECT_EQ(std::count(success.begin(), success.end(), '.'), 5) << success;  // every dot kept
    EXPECT_NE(success.find("\na line on stderr from /fake/success-1\n"), std::string::npos)
        << success;
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
    EXPECT_EQ(Run({}), ExitCode(ExitStatus::kAdapterNotFound));
    EXPECT_NE(Output().find("No adapter found"), std::string::npos) << Output();

    request_.forwarded.address = "11:22:33:44:55:66";
    EXPECT_EQ(Run({"success-1", "success-2"}), ExitCode(ExitStatus::kBadUsage));
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
    ASSERT_EQ(Run({"success-1"}), ExitCode(ExitStatus::kSuccess)) << err_.str();
    EXPECT_EQ(Mode(dir_ + "/state"), 0700u);
    EXPECT_EQ(Mode(dir_ + "/state/tornelvox-utility"), 0700u);
    EXPECT_EQ(Mode(request_.log_dir), 0700u);
    EXPECT_EQ(Mode(request_.log_dir + "/fake_success-1.log"), 0600u);

    chmod(request_.log_dir.c_str(), 0755);
    chmod((request_.log_dir + "/fake_success-1.log").c_str(), 0644);
    ASSERT_EQ(Run({"success-1"}), ExitCode(ExitStatus::kSuccess)) << err_.str();
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

    EXPECT_EQ(Run({"success-1"}), ExitCode(ExitStatus::kSuccess)) << err_.str();
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
