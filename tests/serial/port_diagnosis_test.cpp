// Why a node could not be opened: holders found in a folder standing for /proc, permissions
// checked by a child process without privileges, the brltty hint and the plain error texts.
#include "serial/port_diagnosis.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/link_session.h"

namespace tornelvox {
namespace {

namespace fs = std::filesystem;

// Every explanation is whole log lines: each starts with a tab and ends with a newline.
void ExpectLogLines(const std::string &text) {
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n') << text;
    for (std::size_t start = 0; start < text.size();) {
        EXPECT_EQ(text[start], '\t') << "line at " << start << " of:\n" << text;
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

void ExpectMentions(const std::string &text, const std::vector<std::string> &expected,
                    const std::vector<std::string> &absent) {
    for (const std::string &part : expected) {
        EXPECT_NE(text.find(part), std::string::npos) << "missing \"" << part << "\" in:\n" << text;
    }
    for (const std::string &part : absent) {
        EXPECT_EQ(text.find(part), std::string::npos) << "unexpected \"" << part << "\" in:\n"
                                                      << text;
    }
}

class TempFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tornelvox-diagXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        node_ = folder_ + "/ttyUSB0";
        std::ofstream(node_).put('\0');
    }
    void TearDown() override {
        if (!folder_.empty()) fs::remove_all(folder_);
    }
    std::string folder_;
    std::string node_;
    LinkSession session;
};

// How a process's descriptor table refers to the node, if at all.
enum class Holds { kNothing, kNode, kAlias };

struct Process {
    std::string pid;   // kOwnPid: this test process
    std::string comm;  // empty: no comm file
    Holds holds;
};

const std::string kOwnPid = "own";

struct HolderCase {
    const char *name;
    int error;
    std::vector<Process> processes;
    std::vector<std::string> expected;
    std::vector<std::string> absent;
    bool modem_manager_advice;
};

class PortDiagnosisHolders : public TempFolder {
  protected:
    void SetUp() override {
        TempFolder::SetUp();
        proc_ = folder_ + "/proc";
        alias_ = folder_ + "/usb-adapter-if00";
        other_ = folder_ + "/log.txt";
        std::ofstream(other_) << "x";
        fs::create_symlink(node_, alias_);
        fs::create_directories(proc_ + "/sys");  // not a process: skipped
        std::ofstream(proc_ + "/uptime") << "1.0\n";
        session.ProcRoot = proc_;
    }
    // A process folder with a comm file and descriptors on an unrelated file, a vanished file
    // and, as asked, the node itself or a link leading to it.
    void AddProcess(const Process &process) {
        const std::string pid = process.pid == kOwnPid ? std::to_string(getpid()) : process.pid;
        const std::string folder = proc_ + "/" + pid;
        fs::create_directories(folder + "/fd");
        if (!process.comm.empty()) std::ofstream(folder + "/comm") << process.comm << "\n";
        fs::create_symlink(other_, folder + "/fd/1");
        fs::create_symlink(folder_ + "/deleted", folder + "/fd/2");
        if (process.holds == Holds::kNode) fs::create_symlink(node_, folder + "/fd/7");
        if (process.holds == Holds::kAlias) fs::create_symlink(alias_, folder + "/fd/7");
    }
    std::string proc_;
    std::string alias_;
    std::string other_;
};

TEST_F(PortDiagnosisHolders, NamesTheProgramsHoldingTheNodeOrSaysWhyNoneAreSeen) {
    const std::vector<std::string> kModemManagerSteps = {
        "sudo systemctl stop ModemManager", "sudo systemctl disable --now ModemManager",
        "unplug the adapter and plug it in again"};
    const HolderCase cases[] = {
        {"one holder",
         EWOULDBLOCK,
         {{"4101", "minicom", Holds::kNode}, {"4102", "bash", Holds::kNothing}},
         {"is open in another program. Close it first", "held by minicom (process 4101)\n"},
         {"bash", "system service", "ModemManager"},
         false},
        {"two holders, one through a link to the node",
         EBUSY,
         {{"4101", "minicom", Holds::kNode},
          {"4102", "bash", Holds::kNothing},
          {"4103", "screen", Holds::kAlias}},
         {"Close them first", "held by minicom (process 4101)\n",
          "held by screen (process 4103)\n"},
         {"bash", "system service"},
         false},
        {"holder without a readable name",
         EBUSY,
         {{"4104", "", Holds::kNode}},
         {"held by process 4104\n"},
         {"system service"},
         false},
        {"ModemManager holds it",
         EBUSY,
         {{"812", "ModemManager", Holds::kNode}},
         {"held by ModemManager (process 812)\n"},
         {"system service"},
         true},
        {"no holder visible, ModemManager running",
         EAGAIN,
         {{"812", "ModemManager", Holds::kNothing}, {"4102", "bash", Holds::kNothing}},
         {"a system service may hold it"},
         {"held by"},
         true},
        {"no holder visible, no ModemManager",
         EBUSY,
         {{"4102", "bash", Holds::kNothing}},
         {"a system service may hold it"},
         {"held by", "ModemManager"},
         false},
        {"this process is not a holder",
         EBUSY,
         {{kOwnPid, "serial_tests", Holds::kNode}},
         {"a system service may hold it"},
         {"held by", "serial_tests"},
         false},
    };
    for (const HolderCase &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(proc_);
        fs::create_directories(proc_);
        for (const Process &process : c.processes) AddProcess(process);
        const std::string text = ExplainOpenFailure(session, node_, c.error);
        ExpectLogLines(text);
        ExpectMentions(text, c.expected, c.absent);
        EXPECT_NE(text.find(node_), std::string::npos) << text;
        if (c.modem_manager_advice) {
            ExpectMentions(text, kModemManagerSteps, {});
        } else {
            ExpectMentions(text, {}, {"systemctl"});
        }
    }
}

TEST_F(PortDiagnosisHolders, NoProcFolderMeansNoHolderCanBeSeen) {
    session.ProcRoot = folder_ + "/absent";
    const std::string text = ExplainOpenFailure(session, node_, EBUSY);
    ExpectLogLines(text);
    ExpectMentions(text, {"a system service may hold it"}, {"held by", "ModemManager"});
}

// A real process that holds a terminal and has renamed itself: a process names itself as it
// likes, escape sequences and line breaks included, and the name must not reach the log as it is.
TEST(PortDiagnosisHolderName, AProcessNamedWithControlsIsShownEscaped) {
    const LinkSession session;
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string node = ptsname(master);
    // Clear screen, CSI raw and in UTF-8, a line break that would start a forged log line.
    static const char kName[] = "\x1b[2J\x9b\xc2\x9b\n\tforged";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int held = open(node.c_str(), O_RDWR | O_NOCTTY);
        prctl(PR_SET_NAME, kName, 0, 0, 0);
        const char done = held >= 0 ? 'y' : 'n';
        if (write(ready[1], &done, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char held = 'n';
    EXPECT_EQ(read(ready[0], &held, 1), 1);
    close(ready[0]);

    const std::string text = held == 'y' ? ExplainOpenFailure(session, node, EBUSY) : std::string();
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(master);

    ASSERT_EQ(held, 'y');
    ExpectLogLines(text);
    ExpectMentions(text,
                   {"held by \\x1B[2J\\x9B\\xC2\\x9B\\x0A\\x09forged (process " +
                    std::to_string(child) + ")\n"},
                   {"\x1b", "\x9b", "\n\tforged"});
}

// Permission cases need a process that is refused access: a child that drops root's
// privileges for those of the unprivileged user `nobody` and then opens the node.
struct PermissionCase {
    const char *name;
    gid_t node_group;
    mode_t node_mode;
    gid_t process_group;  // the child's only group
    std::vector<std::string> expected;
    std::vector<std::string> absent;
};

class PortDiagnosisPermissions : public TempFolder {
  protected:
    void SetUp() override {
        if (getuid() != 0) GTEST_SKIP() << "needs root to run a child as another user";
        const passwd *nobody = getpwnam("nobody");  // NOLINT(concurrency-mt-unsafe): test setup
        if (nobody == nullptr) GTEST_SKIP() << "no user nobody";
        nobody_uid_ = nobody->pw_uid;
        nobody_group_ = nobody->pw_gid;
        const group *dialout = getgrnam("dialout");  // NOLINT(concurrency-mt-unsafe): test setup
        if (dialout == nullptr) GTEST_SKIP() << "no group dialout";
        dialout_ = dialout->gr_gid;
        for (int i = 0; dialout->gr_mem[i] != nullptr; ++i) {
            if (std::string(dialout->gr_mem[i]) == "nobody") GTEST_SKIP() << "nobody in dialout";
        }
        const group *nogroup = getgrgid(nobody_group_);  // NOLINT(concurrency-mt-unsafe)
        if (nogroup == nullptr) GTEST_SKIP() << "nobody's group has no name";
        nobody_group_name_ = nogroup->gr_name;
        TempFolder::SetUp();
        fs::permissions(folder_,
                        fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    }
    // The explanation a child running as nobody with only `process_group` gets for the node;
    // "opened" if it was not refused, "no drop" if privileges could not be dropped.
    std::string ExplainInChild(gid_t process_group) {
        int channel[2];
        if (pipe(channel) != 0) return "no pipe";
        const pid_t child = fork();
        if (child == 0) {
            close(channel[0]);
            std::string text = "no drop";
            if (setgroups(0, nullptr) == 0 && setgid(process_group) == 0 &&
                setuid(nobody_uid_) == 0) {
                const int fd = open(node_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
                text = fd >= 0 ? "opened" : ExplainOpenFailure(session, node_, errno);
            }
            const ssize_t written = write(channel[1], text.data(), text.size());
            _exit(written == static_cast<ssize_t>(text.size()) ? 0 : 1);
        }
        close(channel[1]);
        std::string text;
        char buffer[4096];
        ssize_t length = 0;
        while (child > 0 && (length = read(channel[0], buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<std::size_t>(length));
        }
        close(channel[0]);
        int status = 0;
        if (child > 0) waitpid(child, &status, 0);
        return text;
    }
    uid_t nobody_uid_ = 0;
    gid_t nobody_group_ = 0;
    gid_t dialout_ = 0;
    std::string nobody_group_name_;
};

TEST_F(PortDiagnosisPermissions, NamesTheGroupAndHowToJoinIt) {
    constexpr gid_t kUnnamedGroup = 54321;
    ASSERT_EQ(getgrgid(kUnnamedGroup), nullptr);  // NOLINT(concurrency-mt-unsafe)
    const PermissionCase cases[] = {
        {"not in the node's group",
         dialout_,
         0660,
         nobody_group_,
         {"belongs to group dialout, and user nobody is not in that group",
          "sudo usermod -aG dialout nobody\n", "log out and log in again"},
         {"newgrp"}},
        {"node's group has no name",
         kUnnamedGroup,
         0660,
         nobody_group_,
         {"belongs to group 54321,", "sudo usermod -aG 54321 nobody\n"},
         {}},
        {"in the group database, not in this session",
         nobody_group_,
         0660,
         dialout_,
         {"user nobody is in that group, but this login session does not have it yet",
          "newgrp " + nobody_group_name_ + ")", "Log out and log in again"},
         {"usermod"}},
        {"group has no access either",
         dialout_,
         0600,
         nobody_group_,
         {"is not readable and writable for user nobody (owner root, group dialout, mode 0600)"},
         {"usermod", "newgrp"}},
    };
    for (const PermissionCase &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(chown(node_.c_str(), 0, c.node_group), 0);
        ASSERT_EQ(chmod(node_.c_str(), c.node_mode), 0);
        const std::string text = ExplainInChild(c.process_group);
        if (text == "no drop") GTEST_SKIP() << "privileges cannot be dropped here";
        ExpectLogLines(text);
        ExpectMentions(text, c.expected, c.absent);
        EXPECT_NE(text.find("Permission denied: " + node_), std::string::npos) << text;
    }
}

// A member whose process has the group is refused only by access control lists or security
// policies, which plain permissions cannot arrange; the decision is checked directly.
TEST(PortDiagnosisGroupAdvice, FollowsMembershipInDatabaseAndProcess) {
    struct Case {
        bool in_database;
        bool in_process;
        std::vector<std::string> expected;
        std::vector<std::string> absent;
    };
    const Case cases[] = {
        {false, false, {"sudo usermod -aG dialout ana\n", "log out and log in again"}, {"newgrp"}},
        {true, false, {"does not have it yet", "newgrp dialout"}, {"usermod"}},
        {true, true, {"access control list", "security policy"}, {"usermod", "newgrp"}},
        {false, true, {"access control list", "security policy"}, {"usermod", "newgrp"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.in_database << c.in_process);
        const std::string text =
            GroupAccessAdvice("/dev/ttyUSB0", "dialout", "ana", c.in_database, c.in_process);
        ExpectLogLines(text);
        ExpectMentions(text, c.expected, c.absent);
    }
}

TEST(PortDiagnosisOtherErrors, SayTheNodeIsGoneOrGiveTheSystemText) {
    const LinkSession session;
    const std::pair<int, std::string> cases[] = {
        {ENOENT, "\t   Not found: /dev/ttyUSB7 is gone; the adapter was unplugged."},
        {EIO, "\t   Cannot open /dev/ttyUSB7: Input/output error\n"},
        {ENXIO, "\t   Cannot open /dev/ttyUSB7: No such device or address\n"},
    };
    for (const auto &[error, start] : cases) {
        const std::string text = ExplainOpenFailure(session, "/dev/ttyUSB7", error);
        ExpectLogLines(text);
        EXPECT_EQ(text.rfind(start, 0), 0u) << text;
    }
}

class PortDiagnosisBrltty : public TempFolder {};

TEST_F(PortDiagnosisBrltty, HintOnlyWhenTheProgramIsInstalled) {
    const std::string program = node_;  // any regular file stands for the program
    const std::string missing = folder_ + "/missing";
    const std::string directory = folder_;
    const std::pair<std::string, bool> cases[] = {
        {program, true},  {missing + ":" + program, true},
        {missing, false}, {directory, false},
        {"", false},      {":", false},
    };
    for (const auto &[paths, installed] : cases) {
        SCOPED_TRACE(paths);
        session.BrlttyProgramPaths = paths;
        const std::string hint = BrlttyHint(session);
        if (!installed) {
            EXPECT_EQ(hint, "");
            continue;
        }
        ExpectLogLines(hint);
        ExpectMentions(hint,
                       {"brltty is installed", "claim some USB serial adapters",
                        "sudo systemctl mask brltty-udev.service brltty.service\n",
                        "plug it in again", "removing the brltty package"},
                       {});
    }
}

}  // namespace
}  // namespace tornelvox
