// The per-adapter log of update --all: what lands in the file, and the line the final table
// gives as the reason.
#include "cli/adapter_log.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "firmware/state_folder.h"
#include "gtest/gtest.h"

namespace tornelvox::cli {
namespace {

std::string FileText(const std::filesystem::path &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class AdapterLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = std::filesystem::temp_directory_path() / "adapter-log-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        path_ = folder_ / "adapter.log";
        std::string error;
        const int folder = OpenPrivateFolder(folder_, MissingFolders::kFail, error);
        ASSERT_GE(folder, 0) << error;
        const bool opened = log_.Open(folder, "adapter.log", error);
        close(folder);
        ASSERT_TRUE(opened) << error;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::filesystem::path folder_;
    std::filesystem::path path_;
    AdapterLog log_;
};

// A child's error output arrives on a pipe of its own, at any moment: in the middle of a run of
// progress dots it still stands on a line of its own, and the dots go on below it.
TEST_F(AdapterLogTest, AnErrorLineNeverJoinsAnUnfinishedLine) {
    log_.Add("Writing ..");
    log_.AddLine("a line on stderr");
    log_.Add("...\nUpdate succeeded\n");
    log_.AddLine("update --all: succeeded", false);
    EXPECT_EQ(FileText(path_),
              "Writing ..\na line on stderr\n...\nUpdate succeeded\nupdate --all: succeeded\n");
    EXPECT_EQ(log_.LastSubstantiveLine(), "Update succeeded");
}

TEST_F(AdapterLogTest, TheReasonIsTheLastLineThatSaysSomething) {
    log_.Add("Fail to erase\n  ..\n");
    EXPECT_EQ(log_.LastSubstantiveLine(), "Fail to erase");
    log_.AddLine("  stderr: port went away  ");
    EXPECT_EQ(log_.LastSubstantiveLine(), "stderr: port went away");
    log_.AddLine("update --all: failed", false);  // a note is never the reason
    log_.Add("unfinished words");                 // nor a line not yet ended
    EXPECT_EQ(log_.LastSubstantiveLine(), "stderr: port went away");
    log_.Add("\xff\xfe bytes\n");
    EXPECT_EQ(log_.LastSubstantiveLine(), "unfinished words\\xFF\\xFE bytes");
}

TEST(AdapterLogName, PortPathsBecomePlainFileNames) {
    EXPECT_EQ(LogFileName("/dev/ttyUSB0"), "dev_ttyUSB0.log");
    EXPECT_EQ(LogFileName("/dev/serial/by-id/usb-X_1.2"), "dev_serial_by-id_usb-X_1.2.log");
    EXPECT_EQ(LogFileName("../../etc/passwd"), "etc_passwd.log");
    EXPECT_EQ(LogFileName("/"), "adapter.log");
}

// Started without a usable HOME (a udev rule, env -i, a service), the logs go to the home folder
// the password database gives the user, never to a folder every user may write.
TEST(AdapterLogFolder, WithoutAnAbsoluteHomeItIsThePasswordDatabasesHome) {
    passwd entry{};
    passwd *found = nullptr;
    char buffer[4096];
    ASSERT_EQ(getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found), 0);
    ASSERT_NE(found, nullptr) << "this user has no entry in the password database";
    const std::string database_home = entry.pw_dir;

    struct Case {
        std::optional<std::string> home, state;
        std::string folder;
    };
    const std::string logs = "/tornelvox-utility/update-all-logs";
    const Case cases[] = {
        {std::nullopt, std::nullopt, database_home + "/.local/state" + logs},
        {"relative/home", std::nullopt, database_home + "/.local/state" + logs},
        {"", std::nullopt, database_home + "/.local/state" + logs},
        {std::nullopt, "relative/state", database_home + "/.local/state" + logs},
        {"/home/somebody", std::nullopt, "/home/somebody/.local/state" + logs},
        {std::nullopt, "/var/lib/somebody", "/var/lib/somebody" + logs},
    };
    const char *home = getenv("HOME");
    const std::optional<std::string> saved_home =
        home != nullptr ? std::optional<std::string>(home) : std::nullopt;
    for (const Case &c : cases) {
        for (const auto &[name, value] :
             {std::pair{"HOME", c.home}, std::pair{"XDG_STATE_HOME", c.state}}) {
            if (value) {
                setenv(name, value->c_str(), 1);
            } else {
                unsetenv(name);
            }
        }
        EXPECT_EQ(AdapterLogFolder(), c.folder) << "HOME " << c.home.value_or("unset")
                                                << ", XDG_STATE_HOME " << c.state.value_or("unset");
    }
    unsetenv("XDG_STATE_HOME");
    if (saved_home) setenv("HOME", saved_home->c_str(), 1);
}

}  // namespace
}  // namespace tornelvox::cli
