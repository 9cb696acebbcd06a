// The private folder and its files: what is found on the way, and what is found in the place of
// a file. The cases that need another user are with the address backup's and the logs' tests.
#include "firmware/state_folder.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "gtest/gtest.h"

namespace tornelvox {
namespace {

class PrivateFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = std::filesystem::temp_directory_path() / "state-folder-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    std::string root_;
};

// A folder on the way that every user may write lets them swap what lies below it, unless it
// has the sticky bit as /tmp has; one that is not a folder is said to be none; a folder that is
// not there is made only when asked.
TEST_F(PrivateFolder, WhatIsOnTheWay) {
    struct Case {
        const char *name;
        std::function<void(const std::string &way)> prepare;  // way: the folder on the way
        MissingFolders make;
        const char *said;  // empty: opened
    };
    const Case cases[] = {
        {"Missing", [](const std::string &) {}, MissingFolders::kMake, ""},
        {"MissingNotMade", [](const std::string &) {}, MissingFolders::kFail,
         "No such file or directory"},
        {"WritableByAll",
         [](const std::string &way) {
             mkdir(way.c_str(), 0700);
             chmod(way.c_str(), 0777);
         },
         MissingFolders::kMake, "every user may write in"},
        {"WritableByAllSticky",
         [](const std::string &way) {
             mkdir(way.c_str(), 0700);
             chmod(way.c_str(), 01777);
         },
         MissingFolders::kMake, ""},
        {"AFile", [](const std::string &way) { std::ofstream(way) << "not a folder"; },
         MissingFolders::kMake, "is not a folder"},
        {"OurLink",
         [](const std::string &way) {
             mkdir((way + "-real").c_str(), 0700);
             symlink((way + "-real").c_str(), way.c_str());
         },
         MissingFolders::kMake, ""},
    };
    for (const Case &c : cases) {
        const std::string way = root_ + "/" + c.name;
        c.prepare(way);
        std::string error;
        const int fd = OpenPrivateFolder(way + "/tornelvox-utility", c.make, error);
        if (fd >= 0) close(fd);
        if (c.said[0] == '\0') {
            EXPECT_GE(fd, 0) << c.name << ": " << error;
        } else {
            EXPECT_LT(fd, 0) << c.name;
            EXPECT_NE(error.find(c.said), std::string::npos) << c.name << ": " << error;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(root_ + "/MissingNotMade"));
}

// What the program finds where its file goes: it writes only a plain file of its own with one
// name, never blocks on a pipe, and empties the file it replaces.
TEST_F(PrivateFolder, WhatIsInThePlaceOfTheFile) {
    std::string error;
    const int folder = OpenPrivateFolder(root_ + "/own", MissingFolders::kMake, error);
    ASSERT_GE(folder, 0) << error;
    const std::string own = root_ + "/own/";
    mkfifo((own + "pipe").c_str(), 0600);
    std::ofstream(own + "named") << "x";
    link((own + "named").c_str(), (own + "other-name").c_str());
    mkdir((own + "folder").c_str(), 0700);
    std::ofstream(own + "old") << "an old log";
    symlink((own + "old").c_str(), (own + "our-link").c_str());

    const struct {
        const char *name;
        FileUse use;
        const char *said;  // empty: opened
    } cases[] = {
        {"pipe", FileUse::kReplace, "not a plain file"},
        {"folder", FileUse::kAppend, "Is a directory"},
        {"other-name", FileUse::kAppend, "other names"},
        {"our-link", FileUse::kRead, "is a link"},
        {"missing", FileUse::kRead, "No such file"},
        {"old", FileUse::kReplace, ""},
    };
    for (const auto &c : cases) {
        const int fd = OpenPrivateFile(folder, c.name, c.use, error);
        if (fd >= 0) close(fd);
        if (c.said[0] == '\0') {
            EXPECT_GE(fd, 0) << c.name << ": " << error;
        } else {
            EXPECT_LT(fd, 0) << c.name;
            EXPECT_NE(error.find(c.said), std::string::npos) << c.name << ": " << error;
        }
    }
    close(folder);
    EXPECT_EQ(std::filesystem::file_size(own + "old"), 0u);
}

}  // namespace
}  // namespace tornelvox
