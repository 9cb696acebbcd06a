// The window program as a process of its own, run by an ordinary user (nobody, when the tests run
// as root): in the demo mode it links its emulated adapter in the user's runtime folder, never
// under /dev, says where once its window is up, and ends with status 0 on SIGTERM, SIGINT or
// SIGHUP, the link and folder gone, keeping SIGHUP ignored under nohup; without --emulated its
// arguments change nothing.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/child_process.h"

namespace tornelvox::testing {
namespace {

namespace fs = std::filesystem;
using cli_test::Child;
using cli_test::Finished;
using std::chrono::milliseconds;

constexpr milliseconds kStartLimit{30000};
constexpr milliseconds kEndLimit{20000};

// True when the signal is in the process's set named by field ("SigCgt": it has a handler for
// it, "SigIgn": it ignores it), as /proc shows it.
bool InSignalSet(pid_t pid, const std::string &field, int signal_number) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) != 0) continue;
        const unsigned long long set = std::stoull(line.substr(field.size() + 1), nullptr, 16);
        return (set >> (signal_number - 1) & 1U) != 0;
    }
    return false;
}

bool CatchesSigterm(pid_t pid) {
    return InSignalSet(pid, "SigCgt", SIGTERM);
}

class DemoProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        char folder[] = "/tmp/tvx-XXXXXX";  // short: the node's path must fit a port's name
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        uid_ = getuid();
        if (geteuid() == 0) {
            const passwd *nobody = getpwnam("nobody");
            if (nobody == nullptr) GTEST_SKIP() << "no ordinary user to run the program as";
            uid_ = nobody->pw_uid;
            gid_ = nobody->pw_gid;
            const group *nogroup = getgrnam("nogroup");
            if (nogroup != nullptr) gid_ = nogroup->gr_gid;
            run_as_ = {"/usr/bin/setpriv", "--reuid=" + std::to_string(uid_),
                       "--regid=" + std::to_string(gid_), "--clear-groups", "--"};
        }
        // A copy the user can run, whoever owns the build folder.
        program_ = folder_ + "/tornelvox-utility";
        fs::copy_file(TORNELVOX_UTILITY_PATH, program_);
        fs::permissions(program_, fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read |
                                      fs::perms::others_exec);
        for (const char *sub : {"", "/run", "/home"}) {
            const std::string path = folder_ + sub;
            if (*sub != '\0') {
                ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
            }
            ASSERT_EQ(chown(path.c_str(), uid_, gid_), 0);
        }
        ASSERT_EQ(chmod(folder_.c_str(), 0755), 0);
    }
    void TearDown() override { fs::remove_all(folder_); }

    // nohup: started with SIGHUP ignored, as nohup starts a program.
    std::unique_ptr<Child> Start(const std::vector<std::string> &arguments, bool runtime_folder,
                                 bool nohup = false) {
        std::vector<std::string> argv = run_as_;
        if (nohup) argv.push_back("/usr/bin/nohup");
        argv.push_back(program_);
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return std::make_unique<Child>(
            argv, std::vector<std::string>{
                      "QT_QPA_PLATFORM=offscreen", "HOME=" + folder_ + "/home",
                      "XDG_STATE_HOME=" + folder_ + "/home/state", "TMPDIR=" + folder_,
                      "XDG_RUNTIME_DIR=" + (runtime_folder ? folder_ + "/run" : "")});
    }

    std::string folder_;
    std::string program_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    std::vector<std::string> run_as_;
};

// Every stop signal ends the program with status 0 and takes the link with it, a hangup as well
// (the terminal that ran it was closed); started under nohup, the program leaves SIGHUP ignored.
TEST_F(DemoProcess, LinksItsAdapterInTheRuntimeFolderAndEndsOnAStopSignal) {
    const std::string runtime_folder = folder_ + "/run/tornelvox-utility";
    const struct {
        const char *name;
        bool runtime_folder;  // XDG_RUNTIME_DIR set
        std::string folder;   // where the link must be
        int signal_number;    // sent to end it
        bool nohup;           // started with SIGHUP ignored
    } cases[] = {
        {"runtime folder", true, runtime_folder, SIGTERM, false},
        {"no runtime folder", false, folder_ + "/tornelvox-utility-" + std::to_string(uid_),
         SIGTERM, false},
        {"hangup", true, runtime_folder, SIGHUP, false},
        {"interrupt", true, runtime_folder, SIGINT, false},
        {"nohup", true, runtime_folder, SIGTERM, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto program = Start({"--emulated", "--full-speed"}, c.runtime_folder, c.nohup);
        ASSERT_TRUE(program->Started());
        const std::optional<std::string> line = program->ReadLine(kStartLimit);
        ASSERT_TRUE(line.has_value()) << program->Wait(kEndLimit).err;
        const std::string link = c.folder + "/cu.usbserial-EMULATED";
        EXPECT_EQ(*line, "Emulated adapter at " + link);
        struct stat info {};
        ASSERT_EQ(lstat(link.c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode));
        ASSERT_EQ(lstat(c.folder.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0700u);
        EXPECT_EQ(info.st_uid, uid_);

        // Its handlers are in place once it has said where its adapter is.
        EXPECT_EQ(InSignalSet(program->Pid(), "SigIgn", SIGHUP), c.nohup);
        EXPECT_EQ(InSignalSet(program->Pid(), "SigCgt", SIGHUP), !c.nohup);

        program->Signal(c.signal_number);
        const Finished finished = program->Wait(kEndLimit);
        EXPECT_TRUE(finished.exited) << finished.err;
        EXPECT_EQ(finished.status, 0) << finished.err;
        EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
        EXPECT_FALSE(fs::exists(c.folder));
    }
}

// Without --emulated the program reads nothing of its command line: no demo, no runtime folder,
// nothing on stdout, and SIGTERM still ends it with status 0.
TEST_F(DemoProcess, WithoutTheDemoArgumentsChangeNothing) {
    auto program =
        Start({"--full-speed", "--emulated-version=0x302", "-emulated", "--bogus"}, true);
    ASSERT_TRUE(program->Started());
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (!CatchesSigterm(program->Pid()) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(20));
    }
    ASSERT_TRUE(CatchesSigterm(program->Pid())) << program->Wait(kEndLimit).err;
    program->Signal(SIGTERM);
    const Finished finished = program->Wait(kEndLimit);
    EXPECT_TRUE(finished.exited) << finished.err;
    EXPECT_EQ(finished.status, 0) << finished.err;
    EXPECT_EQ(finished.out, "");
    EXPECT_FALSE(fs::exists(folder_ + "/run/tornelvox-utility"));
}

}  // namespace
}  // namespace tornelvox::testing
