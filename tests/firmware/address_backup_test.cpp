// The address backup's file: a record lost to a torn line, and a file or folder another local user
// prepared before the program ran.
#include "firmware/address_backup.h"

#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "gtest/gtest.h"

namespace tornelvox {
namespace {

std::string FileText(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

unsigned Mode(const std::string &path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

AddressRecord Record(unsigned char last) {
    return {"2026-12-01T09:30:00Z",
            {last, 0x22, 0x33, 0x44, 0x55, 0x66},
            "Tornelvox(45A)",
            "/dev/ttyUSB0",
            "",
            "read"};
}

class AddressBackupFile : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = std::filesystem::temp_directory_path() / "address-backup-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        setenv("XDG_STATE_HOME", (root_ + "/state").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("XDG_STATE_HOME");
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    std::string Folder() const { return root_ + "/state/tornelvox-utility"; }
    std::string File() const { return Folder() + "/bt-address-backup.jsonl"; }

    std::string root_;
};

// A write that stopped in the middle of a line (the disk full, a crash) leaves the file without
// its last line end: the records after it still start on lines of their own and read back.
TEST_F(AddressBackupFile, RecordsAfterATornLineReadBack) {
    std::string error;
    ASSERT_TRUE(AppendAddressRecord("", Record(0x01), error)) << error;
    std::ofstream(File(), std::ios::app) << R"({"time":"2026-12-01T09:31:00Z","address":"66:55)";

    ASSERT_TRUE(AppendAddressRecord("", Record(0x02), error)) << error;
    ASSERT_TRUE(AppendAddressRecord("", Record(0x03), error)) << error;

    const std::vector<AddressRecord> records = ReadAddressRecords("", 10);
    ASSERT_EQ(records.size(), 3u) << FileText(File());
    EXPECT_EQ(records[0].address, Record(0x03).address);
    EXPECT_EQ(records[1].address, Record(0x02).address);
    EXPECT_EQ(records[2].address, Record(0x01).address);
}

// A record keeps what its port's device was; a record written before that was kept still reads,
// with no device, and a device text edited into the file comes back printable.
TEST_F(AddressBackupFile, DeviceIsKeptAndOldRecordsStillRead) {
    std::filesystem::create_directories(Folder());
    std::ofstream(File())
        << R"({"time":"2026-12-01T09:29:00Z","address":"66:55:44:33:22:10","name":"",)"
           R"("port":"/dev/ttyUSB0","usb_serial":"A50285BI","source":"read"})"
           "\n"
        << R"({"time":"2026-12-01T09:29:30Z","address":"66:55:44:33:22:11","name":"",)"
           R"("port":"/dev/ttyUSB0","usb_serial":"","source":"read",)"
           R"("device":"Evil\u001b[2J\nforged"})"
           "\n";
    AddressRecord with_device = Record(0x12);
    with_device.usb_serial = "A50285BI";
    with_device.device = "FTDI FT232R USB UART, serial A50285BI";
    std::string error;
    ASSERT_TRUE(AppendAddressRecord("", with_device, error)) << error;

    const std::vector<AddressRecord> records = ReadAddressRecords("", 10);
    ASSERT_EQ(records.size(), 3u) << FileText(File());
    const struct {
        unsigned char last;
        const char *usb_serial;
        const char *device;
    } rows[] = {{0x12, "A50285BI", "FTDI FT232R USB UART, serial A50285BI"},
                {0x11, "", "Evil\\x1B[2J\\x0Aforged"},
                {0x10, "A50285BI", ""}};
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(records[i].address[0], rows[i].last) << i;
        EXPECT_EQ(records[i].usb_serial, rows[i].usb_serial) << i;
        EXPECT_EQ(records[i].device, rows[i].device) << i;
    }
}

// Every folder the backup makes on the way, and the file, are the user's alone; a folder of the
// program's that others could read is closed to them.
TEST_F(AddressBackupFile, FoldersAndFileAreTheUsersAlone) {
    unsetenv("XDG_STATE_HOME");
    const char *home = getenv("HOME");
    const std::string saved_home = home != nullptr ? home : "";
    setenv("HOME", (root_ + "/home").c_str(), 1);
    ASSERT_EQ(mkdir((root_ + "/home").c_str(), 0755), 0);

    std::string error;
    const bool appended = AppendAddressRecord("", Record(0x01), error);
    const std::string state = root_ + "/home/.local/state";
    EXPECT_TRUE(appended) << error;
    EXPECT_EQ(Mode(root_ + "/home/.local"), 0700u);
    EXPECT_EQ(Mode(state), 0700u);
    EXPECT_EQ(Mode(state + "/tornelvox-utility"), 0700u);
    EXPECT_EQ(Mode(state + "/tornelvox-utility/bt-address-backup.jsonl"), 0600u);

    chmod((state + "/tornelvox-utility").c_str(), 0755);
    chmod((state + "/tornelvox-utility/bt-address-backup.jsonl").c_str(), 0644);
    EXPECT_TRUE(AppendAddressRecord("", Record(0x02), error)) << error;
    EXPECT_EQ(Mode(state + "/tornelvox-utility"), 0700u);
    EXPECT_EQ(Mode(state + "/tornelvox-utility/bt-address-backup.jsonl"), 0600u);
    EXPECT_EQ(ReadAddressRecords("", 10).size(), 2u);

    if (home != nullptr) {
        setenv("HOME", saved_home.c_str(), 1);
    } else {
        unsetenv("HOME");
    }
}

// What another local user leaves where the backup goes, and what the refusal must say.
struct PlantedCase {
    const char *name;
    // Prepares the state folder (root + "/state") as that user (uid) would; victim is a file of
    // the one running the program.
    std::function<void(const std::string &root, uid_t uid, const std::string &victim)> plant;
    const char *said;  // part of the reason given
};

void PrintTo(const PlantedCase &c, std::ostream *os) {
    *os << c.name;
}

class PlantedBackup : public AddressBackupFile,
                      public ::testing::WithParamInterface<PlantedCase> {};

// Nothing is written through what another user prepared, and nothing in it is read back as a
// record. Only root can give a file to another user, and root's files are the ones at stake.
TEST_P(PlantedBackup, IsRefusedAndWritesNothingThroughIt) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make files another user owns";
    const passwd *nobody = getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "no user nobody on this machine";
    const std::string victim = root_ + "/victim";
    const std::string victim_text =
        R"({"time":"2026-12-01T09:30:00Z","address":"AA:BB:CC:DD:EE:FF",)"
        R"("name":"","port":"/dev/ttyUSB9","usb_serial":"",)"
        R"("source":"read"})"
        "\n";
    std::ofstream(victim) << victim_text;
    ASSERT_EQ(mkdir((root_ + "/state").c_str(), 0700), 0);
    GetParam().plant(root_, nobody->pw_uid, victim);

    std::string error;
    EXPECT_FALSE(AppendAddressRecord("", Record(0x01), error));
    EXPECT_NE(error.find(GetParam().said), std::string::npos) << error;
    EXPECT_EQ(FileText(victim), victim_text);
    EXPECT_TRUE(ReadAddressRecords("", 10).empty());
}

void Own(const std::string &path, uid_t uid) {
    ASSERT_EQ(lchown(path.c_str(), uid, static_cast<gid_t>(-1)), 0) << path;
}

INSTANTIATE_TEST_SUITE_P(
    AnotherUser, PlantedBackup,
    ::testing::Values(
        PlantedCase{"TheFileIsTheirLink",
                    [](const std::string &root, uid_t uid, const std::string &victim) {
                        const std::string folder = root + "/state/tornelvox-utility";
                        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
                        const std::string file = folder + "/bt-address-backup.jsonl";
                        ASSERT_EQ(symlink(victim.c_str(), file.c_str()), 0);
                        Own(file, uid);
                    },
                    "is a link"},
        PlantedCase{"TheFolderIsTheirs",
                    [](const std::string &root, uid_t uid, const std::string &victim) {
                        const std::string folder = root + "/state/tornelvox-utility";
                        ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
                        chmod(folder.c_str(), 0777);
                        Own(folder, uid);
                        const std::string file = folder + "/bt-address-backup.jsonl";
                        ASSERT_EQ(symlink(victim.c_str(), file.c_str()), 0);
                        Own(file, uid);
                    },
                    "belongs to user nobody"},
        PlantedCase{"TheFolderIsTheirLink",
                    [](const std::string &root, uid_t uid, const std::string &victim) {
                        const std::string theirs = root + "/theirs";
                        ASSERT_EQ(mkdir(theirs.c_str(), 0777), 0);
                        Own(theirs, uid);
                        ASSERT_EQ(
                            symlink(victim.c_str(), (theirs + "/bt-address-backup.jsonl").c_str()),
                            0);
                        const std::string folder = root + "/state/tornelvox-utility";
                        ASSERT_EQ(symlink(theirs.c_str(), folder.c_str()), 0);
                        Own(folder, uid);
                    },
                    "is a link"},
        PlantedCase{"TheStateHomeIsTheirs",
                    [](const std::string &root, uid_t uid, const std::string &victim) {
                        Own(root + "/state", uid);
                        const std::string folder = root + "/state/tornelvox-utility";
                        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
                        ASSERT_EQ(
                            symlink(victim.c_str(), (folder + "/bt-address-backup.jsonl").c_str()),
                            0);
                    },
                    "belongs to user nobody"}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tornelvox
