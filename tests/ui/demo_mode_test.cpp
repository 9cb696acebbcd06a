// The window program's demo mode: its options, which are read only when --emulated is given;
// Check, Update and Setting against the demo's adapter in the window, with the search looking in
// the runtime folder first and the address backup kept apart; and the whole program started in
// the demo mode, stopped by each stop signal during an update.
#include "ui/demo_mode.h"

#include <gmock/gmock.h>
#include <signal.h>
#include <sys/stat.h>

#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <vector>

#include "tests/ui/ui_fixture.h"
#include "ui/app_delegate.h"
#include "ui/demo_options.h"
#include "ui/device_setting_view_controller.h"
#include "ui/runtime_folder.h"

namespace tornelvox::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ExitedWithCode;

DemoOptionsRead Read(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "tornelvox-utility");
    std::vector<char *> argv;
    for (std::string &argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return ReadDemoOptions(static_cast<int>(arguments.size()), argv.data());
}

TEST(DemoOptions, ReadOnlyWhenTheDemoIsAskedFor) {
    const struct {
        std::vector<std::string> arguments;
        bool emulated;
        std::uint32_t version;
        bool full_speed;
        bool error;
    } cases[] = {
        {{}, false, 0x302, false, false},
        // Without --emulated nothing is read: not even the demo's own other option, nor a
        // wrong one.
        {{"--full-speed"}, false, 0x302, false, false},
        {{"--bogus", "-emulated", "--emulatedx", "--emulated-version=0x1", "--help"},
         false,
         0x302,
         false,
         false},
        {{"--emulated"}, true, 0x302, false, false},
        {{"--emulated=0x203", "--full-speed"}, true, 0x203, true, false},
        {{"--full-speed", "--emulated", "0x603"}, true, 0x603, true, false},
        {{"--emulated", "--anything", "-x", "file"}, true, 0x302, false, false},
        {{"--emulated=zz"}, false, 0x302, false, true},
        {{"--emulated=0x1000"}, false, 0x302, false, true},
    };
    for (const auto &c : cases) {
        std::string row;
        for (const std::string &argument : c.arguments) row += argument + " ";
        const DemoOptionsRead read = Read(c.arguments);
        EXPECT_EQ(read.options.emulated, c.emulated) << row;
        EXPECT_EQ(read.options.version, c.version) << row;
        EXPECT_EQ(read.options.full_speed, c.full_speed) << row;
        EXPECT_EQ(!read.error.empty(), c.error) << row << read.error;
    }
}

// The runtime folder: made private, or refused when it is not this user's own folder.
TEST(RuntimeFolder, IsMadePrivateOrRefused) {
    char scratch[] = "/tmp/tvx-XXXXXX";
    ASSERT_NE(mkdtemp(scratch), nullptr);
    const std::string base = scratch;
    const std::string made = base + "/tornelvox-utility";
    const std::string in_temporary = base + "/tornelvox-utility-" + std::to_string(getuid());
    const struct {
        const char *name;
        bool runtime_variable;  // XDG_RUNTIME_DIR set, else TMPDIR
        std::function<void(const std::string &)> before;
        bool made;
    } cases[] = {
        {"missing", true, [](const std::string &) {}, true},
        {"without XDG_RUNTIME_DIR", false, [](const std::string &) {}, true},
        {"left open to others", true,
         [](const std::string &path) { ASSERT_EQ(mkdir(path.c_str(), 0777), 0); }, true},
        {"a link to another folder", false,
         [&](const std::string &path) { fs::create_directory_symlink(base, path); }, false},
        {"a file", true, [](const std::string &path) { std::ofstream{path}; }, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string expected = c.runtime_variable ? made : in_temporary;
        if (c.runtime_variable) {
            setenv("XDG_RUNTIME_DIR", base.c_str(), 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
            setenv("TMPDIR", base.c_str(), 1);
        }
        c.before(expected);
        std::string error;
        const std::string folder = MakeRuntimeFolder(error);
        if (c.made) {
            EXPECT_EQ(folder, expected) << error;
            struct stat info {};
            ASSERT_EQ(lstat(expected.c_str(), &info), 0);
            EXPECT_TRUE(S_ISDIR(info.st_mode));
            EXPECT_EQ(info.st_mode & 07777, 0700u);
        } else {
            EXPECT_EQ(folder, "");
            EXPECT_NE(error.find(expected), std::string::npos) << error;
        }
        fs::remove(expected);
    }
    unsetenv("XDG_RUNTIME_DIR");
    unsetenv("TMPDIR");
    fs::remove_all(base);
}

// The window with the demo started as the program starts it, at full speed, and another adapter
// in the device folder that stands for /dev.
class DemoWindowTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        // Short: the node's path must fit a port's name.
        char runtime[] = "/tmp/tvx-XXXXXX";
        ASSERT_NE(mkdtemp(runtime), nullptr);
        runtime_ = runtime;
        setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        std::string error;
        ASSERT_TRUE(demo_.Start(session_, {.emulated = true, .full_speed = true}, error)) << error;
    }
    void TearDown() override {
        EXPECT_TRUE(
            WaitFor([&] { return !session_->UpdateFirmwareRunning && !session_->ThreadRunning; }));
        demo_.Stop();
        EXPECT_FALSE(fs::exists(runtime_ + "/tornelvox-utility"));
        fs::remove_all(runtime_);
        unsetenv("XDG_RUNTIME_DIR");
        MainWindowTest::TearDown();
    }

    bool Idle() { return Button("bCheckDevice")->isEnabled() && !session_->ThreadRunning; }

    std::string runtime_;
    DemoMode demo_;
};

TEST_F(DemoWindowTest, CheckUpdateAndSettingUseTheDemoAdapterAndItsOwnBackup) {
    PlugAdapter({.version = 0x302});
    EXPECT_EQ(demo_.LinkPath(), runtime_ + "/tornelvox-utility/cu.usbserial-EMULATED");

    Check();
    ASSERT_TRUE(WaitFor([&] { return Idle() && !Button("bUpdateFirmware")->isHidden(); })) << Log();
    const std::string checked = Log();
    EXPECT_NE(checked.find(" Found device on " + demo_.LinkPath() + "\n"), std::string::npos)
        << checked;
    EXPECT_NE(checked.find("\t Not checked : " + NodePath() + "\n"), std::string::npos) << checked;

    Button("bUpdateFirmware")->click();
    ASSERT_TRUE(WaitFor([&] { return session_->LastUpdateEnd != UpdateEnd::kNone && Idle(); }))
        << Log();
    EXPECT_EQ(session_->LastUpdateEnd, UpdateEnd::kSuccess) << Log();
    EXPECT_EQ(demo_.Adapter().Version(), 0x603u);
    EXPECT_EQ(adapter_->CountOf(kCmdEraseStep), 0);
    const std::string backups = folder_ + "/state/tornelvox-utility";
    std::ifstream backup(backups + "/emulated/bt-address-backup.jsonl");
    std::string record;
    EXPECT_TRUE(std::getline(backup, record));
    EXPECT_NE(record.find("\"port\":\"" + demo_.LinkPath() + "\""), std::string::npos) << record;
    EXPECT_FALSE(fs::exists(backups + "/bt-address-backup.jsonl"));

    Button("bDeviceSetting")->click();
    DeviceSettingViewController *dialog = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        dialog = window_->findChild<DeviceSettingViewController *>();
        return dialog != nullptr && dialog->isVisible();
    })) << Log();
    dialog->pCancel();
    EXPECT_TRUE(WaitFor([&] { return Idle(); }));
}

// A second demo at the same time takes the next name; the first name is free again once its demo
// has stopped, and the folder goes with the last.
TEST_F(DemoWindowTest, SecondDemoTakesTheNextNameAndTheFolderGoesWithTheLast) {
    const std::string folder = runtime_ + "/tornelvox-utility";
    DemoMode second;
    std::string error;
    ASSERT_TRUE(second.Start(session_, {.emulated = true, .full_speed = true}, error)) << error;
    EXPECT_EQ(second.LinkPath(), folder + "/cu.usbserial-EMULATED-2");
    demo_.Stop();
    EXPECT_TRUE(fs::is_symlink(second.LinkPath()));
    DemoMode third;
    ASSERT_TRUE(third.Start(session_, {.emulated = true, .full_speed = true}, error)) << error;
    EXPECT_EQ(third.LinkPath(), folder + "/cu.usbserial-EMULATED");
    third.Stop();
    second.Stop();
    EXPECT_FALSE(fs::exists(folder));
}

// A runtime folder whose node path would not fit a port's name is refused at the start, and
// nothing is left in it.
TEST_F(DemoWindowTest, NodePathTooLongForAPortIsRefused) {
    demo_.Stop();
    const std::string deep = runtime_ + "/" + std::string(40, 'd');
    ASSERT_TRUE(fs::create_directory(deep));
    setenv("XDG_RUNTIME_DIR", deep.c_str(), 1);
    DemoMode demo;
    std::string error;
    EXPECT_FALSE(demo.Start(session_, {.emulated = true, .full_speed = true}, error));
    EXPECT_NE(error.find("too long"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(deep + "/tornelvox-utility"));
    EXPECT_TRUE(session_->FirstDeviceDirectory.empty());
    fs::remove(deep);
}

// The whole program, as `tornelvox-utility --emulated` (paced at the line rate) runs it, in a
// fresh copy of the test program. Its folder is made by the test and handed to that copy, which
// runs this test's body again, through the environment.
class DemoShellDeathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *given = std::getenv("TORNELVOX_DEMO_TEST_FOLDER");
        if (given != nullptr) {
            folder_ = given;
        } else {
            char folder[] = "/tmp/tvx-XXXXXX";  // short: the node's path must fit a port's name
            ASSERT_NE(mkdtemp(folder), nullptr);
            folder_ = folder;
            owner_ = true;
            setenv("TORNELVOX_DEMO_TEST_FOLDER", folder, 1);
            ASSERT_EQ(mkdir((folder_ + "/run").c_str(), 0700), 0);
            ASSERT_EQ(mkdir((folder_ + "/dev").c_str(), 0700), 0);
        }
        setenv("XDG_RUNTIME_DIR", (folder_ + "/run").c_str(), 1);
        setenv("XDG_STATE_HOME", (folder_ + "/state").c_str(), 1);
    }
    void TearDown() override {
        if (!owner_) return;
        unsetenv("TORNELVOX_DEMO_TEST_FOLDER");
        unsetenv("XDG_RUNTIME_DIR");
        unsetenv("XDG_STATE_HOME");
        fs::remove_all(folder_);
    }

    std::string folder_;
    bool owner_ = false;
};

// The window as the program shows it, and its log when the program ends.
ViewController *shown_window = nullptr;
void PrintLog() {
    if (shown_window == nullptr) return;
    QCoreApplication::sendPostedEvents();
    std::fprintf(
        stderr, "log: %s\n",
        shown_window->findChild<QPlainTextEdit *>("txMessage")->toPlainText().toUtf8().data());
}

// Starts an update in the program's window and sends the program signal_number once it erases.
void StopTheDemoDuringAnUpdate(const std::string &device_folder, int signal_number) {
    QTimer::singleShot(0, [device_folder, signal_number] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *window = qobject_cast<ViewController *>(widget)) shown_window = window;
        }
        if (shown_window == nullptr) std::abort();
        // The program's session, before any worker uses it.
        shown_window->Session().DeviceDirectory = device_folder;  // nothing of this machine's /dev
        shown_window->Session().RetryPause = [](unsigned) {};
        std::fprintf(stderr, "title: %s\n", qPrintable(shown_window->windowTitle()));
        std::at_quick_exit(PrintLog);
        auto *update = shown_window->findChild<QPushButton *>("bUpdateFirmware");
        shown_window->findChild<QPushButton *>("bCheckDevice")->click();
        if (!QTest::qWaitFor([&] { return !update->isHidden() && update->isEnabled(); }, 20000)) {
            std::abort();
        }
        update->click();
        auto *log = shown_window->findChild<QPlainTextEdit *>("txMessage");
        if (!QTest::qWaitFor([&] { return log->toPlainText().contains("Erase flash"); }, 20000)) {
            std::abort();
        }
        raise(signal_number);
    });
    char name[] = "tornelvox-utility";
    char emulated[] = "--emulated";
    char *arguments[] = {name, emulated, nullptr};
    ApplicationMain(2, arguments);
}

// Each stop signal: the terminal's Ctrl-C, a service manager's SIGTERM and the hangup of a closed
// terminal.
class DemoShellSignalDeathTest : public DemoShellDeathTest,
                                 public ::testing::WithParamInterface<int> {};

TEST_P(DemoShellSignalDeathTest, StopSignalDuringAnUpdateCancelsItThenEndsWithStatusZero) {
    EXPECT_EXIT(StopTheDemoDuringAnUpdate(folder_ + "/dev", GetParam()), ExitedWithCode(0),
                "title: Tornelvox Utility Version: [^\n]* \\(emulated adapter\\)\n"
                "(.|\n)*Stop signal: the update is cancelled(.|\n)*Force Stop");
    // The link and the runtime folder went with the program; the update wrote its backup into
    // the demo's own folder before it erased anything.
    EXPECT_FALSE(fs::exists(folder_ + "/run/tornelvox-utility"));
    EXPECT_TRUE(fs::exists(folder_ + "/state/tornelvox-utility/emulated/bt-address-backup.jsonl"));
    EXPECT_FALSE(fs::exists(folder_ + "/state/tornelvox-utility/bt-address-backup.jsonl"));
}

INSTANTIATE_TEST_SUITE_P(Signals, DemoShellSignalDeathTest,
                         ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto &info) { return std::string(sigabbrev_np(info.param)); });

}  // namespace
}  // namespace tornelvox::testing
