// The per-adapter log of update --all: what lands in the file, and the line the final table
// gives as the reason.
#include "cli/adapter_log.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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
        path_ = std::filesystem::temp_directory_path() /
                ("adapter_log_test_" + std::to_string(getpid()) + ".log");
        std::string error;
        ASSERT_TRUE(log_.Open(path_.string(), error)) << error;
    }
    void TearDown() override { std::filesystem::remove(path_); }

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

}  // namespace
}  // namespace tornelvox::cli
