// The main window: its state when loaded, its title, and the Check action against the emulated
// adapter with every kind of advice.
#include <QPlainTextEdit>
#include <fstream>

#include "firmware/firmware_update.h"
#include "tests/ui/ui_fixture.h"

namespace tornelvox::testing {
namespace {

constexpr char kOnlyCheck[] =
    "bCheckDevice shown enabled, bUpdateFirmware hidden enabled, bDeviceSetting hidden enabled, "
    "bCancel hidden enabled";
constexpr char kCheckedAdapter[] =
    "bCheckDevice shown enabled, bUpdateFirmware shown enabled, bDeviceSetting shown enabled, "
    "bCancel hidden enabled";

TEST_F(MainWindowTest, LoadsWithOnlyCheckAndCloseOfferedAndAReadOnlyLog) {
    EXPECT_EQ(Buttons(), kOnlyCheck);
    EXPECT_FALSE(Button("bClose")->isHidden());
    EXPECT_TRUE(Button("bClose")->isEnabled());
    EXPECT_TRUE(LogWidget()->isReadOnly());
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(window_->windowTitle().toStdString(), "Tornelvox Utility Version: 6.03");
    EXPECT_EQ(Button("bUpdateFirmware")->text().toStdString(), "Update");
    EXPECT_EQ(Button("bDeviceSetting")->text().toStdString(), "Setting");
}

// The adapter a Check meets: the emulated one, the emulated one without firmware (an update
// that never finished), one whose version query goes unanswered, or one that plays a real
// adapter, which a build with the placeholder image may not update and one with the vendor's may.
enum class Met { kEmulated, kNoFirmware, kSilentVersion, kReal };

struct CheckCase {
    const char *name;
    std::uint32_t version;
    Met met;
    const char *version_lines;    // what the version query logs
    std::string advice;           // the advice and the notes after it
    std::string vendor_advice{};  // what a build with the vendor's image logs instead, when other
};

constexpr char kNoVersionNote[] =
    " The adapter answered but reported no firmware version: an earlier update may not have "
    "finished.\n";
constexpr char kCannotUpdateNote[] =
    " This build carries no vendor firmware image: it cannot update this adapter.\n";
constexpr char kRepairNote[] = " Click \"Update\" to repair it.\n";
const std::string kNewerAdvice =
    "\n There is newer firmware available.\n"
    " Click \"Update\" to update firmware.\n"
    " Click \"Setting\" to set parameters.\n\n";
const std::string kOldAdvice =
    "\n There is newer firmware available.\n"
    " Click \"Update\" to update firmware.\n"
    " Update firmware before set parameters.\n\n";

void PrintTo(const CheckCase &c, std::ostream *out) {
    *out << c.name;
}

class CheckAdviceTest : public MainWindowTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CheckAdviceTest, LogsSearchVersionAndAdviceAndOffersUpdateAndSetting) {
    const CheckCase &c = GetParam();
    PlugAdapter({.version = c.version, .identifies_as_emulator = c.met != Met::kReal});
    if (c.met == Met::kSilentVersion) {
        adapter_->AddFault({.code = kCmdQueryVersion,
                            .kind = emulator::FaultKind::kSilence,
                            .times = emulator::kAlways});
    }
    if (c.met == Met::kNoFirmware) {
        ASSERT_TRUE(adapter_->WriteFlash(0, std::vector<std::uint8_t>(kPageSize, 0xFF)));
        adapter_->PowerCycle();
    }

    Check();

    const std::string node = NodePath();
    EXPECT_EQ(Log(), "\n Search Device ...\n\t Check port : " + node + "\n Found device on " +
                         node + "\n" + c.version_lines +
                         (kVendorImage && !c.vendor_advice.empty() ? c.vendor_advice : c.advice));
    EXPECT_EQ(Buttons(), kCheckedAdapter);
    const bool unreadable = c.met == Met::kSilentVersion || c.met == Met::kNoFirmware;
    EXPECT_EQ(session_->CurVerNum, unreadable ? 0 : static_cast<int>(c.version));
}

INSTANTIATE_TEST_SUITE_P(
    Versions, CheckAdviceTest,
    ::testing::Values(
        CheckCase{"Latest", 0x603, Met::kEmulated,
                  " Device Firmware Version = 603\n Available Firmware for update = 603\n",
                  "\n You have the latest or newer firmware.\n"
                  " Click \"Update\" to update firmware.\n"
                  " Click \"Setting\" to set parameters.\n"},
        CheckCase{"Newer", 0x604, Met::kEmulated,
                  " Device Firmware Version = 604\n Available Firmware for update = 603\n",
                  "\n You have the latest or newer firmware.\n"
                  " Click \"Update\" to update firmware.\n"
                  " Click \"Setting\" to set parameters.\n"},
        CheckCase{"OldestWithSettings", 0x200, Met::kEmulated,
                  " Device Firmware Version = 200\n Available Firmware for update = 603\n",
                  "\n There is newer firmware available.\n"
                  " Click \"Update\" to update firmware.\n"
                  " Click \"Setting\" to set parameters.\n\n"},
        CheckCase{"TooOldForSettings", 0x1FF, Met::kEmulated,
                  " Device Firmware Version = 1FF\n Available Firmware for update = 603\n",
                  kOldAdvice},
        CheckCase{"VersionUnreadable", 0x603, Met::kSilentVersion,
                  "\n Can't get device firmware number\n",
                  kOldAdvice + kNoVersionNote + kCannotUpdateNote,
                  kOldAdvice + kNoVersionNote + kRepairNote},
        CheckCase{"NoFirmware", 0x302, Met::kNoFirmware, "\n Can't get device firmware number\n",
                  kOldAdvice + kNoVersionNote + kRepairNote},
        CheckCase{"RealAdapter", 0x302, Met::kReal,
                  " Device Firmware Version = 302\n Available Firmware for update = 603\n",
                  kNewerAdvice + kCannotUpdateNote, kNewerAdvice}),
    [](const ::testing::TestParamInfo<CheckCase> &info) { return info.param.name; });

// No serial node at all, and brltty installed: it may have claimed the adapter.
TEST_F(MainWindowTest, CheckWithoutAnyNodeNamesBrlttyWhenInstalled) {
    session_->BrlttyProgramPaths = folder_ + "/brltty";
    std::ofstream(session_->BrlttyProgramPaths) << "";
    Check();
    EXPECT_EQ(Log().find("\n Can't find Tornelvox device.\n Please check USB connection\n\n\t   "
                         "brltty is installed;"),
              std::string("\n Search Device ...\n").size())
        << Log();
}

TEST_F(MainWindowTest, CheckWithoutAdapterSaysSoAndKeepsUpdateAndSettingHidden) {
    Check();

    EXPECT_EQ(Log(),
              "\n Search Device ...\n"
              "\n Can't find Tornelvox device.\n Please check USB connection\n\n");
    EXPECT_EQ(Buttons(), kOnlyCheck);
}

TEST_F(MainWindowTest, CheckThatNoLongerFindsTheAdapterHidesUpdateAndSettingAgain) {
    PlugAdapter({.version = kCurrentVersion});
    Check();
    ASSERT_EQ(Buttons(), kCheckedAdapter);

    adapter_->Stop();
    const std::size_t before = Log().size();
    Check();

    EXPECT_EQ(Log().substr(before),
              "\n Search Device ...\n"
              "\n Can't find Tornelvox device.\n Please check USB connection\n\n");
    EXPECT_EQ(Buttons(), kOnlyCheck);
}

TEST_F(MainWindowTest, CheckDoesNothingWhileAnUpdateRuns) {
    PlugAdapter({.version = kCurrentVersion});
    session_->ThreadRunning = true;

    Check();

    EXPECT_EQ(Log(), "");
    EXPECT_EQ(adapter_->ReceivedCodes().size(), 0u);
    EXPECT_EQ(Buttons(), kOnlyCheck);
    session_->ThreadRunning = false;
}

TEST_F(MainWindowTest, CheckMessagesAreQueuedOntoTheInterfaceThread) {
    PlugAdapter({.version = kCurrentVersion});
    std::string log_during_check = "unset";
    // The Check's lines are queued onto the interface thread: none is in the log while the click
    // is still being handled.
    QObject::connect(Button("bCheckDevice"), &QPushButton::clicked,
                     [&] { log_during_check = LogWidget()->toPlainText().toStdString(); });

    Check();

    EXPECT_EQ(log_during_check, "");
    EXPECT_NE(Log(), "");
}

}  // namespace
}  // namespace tornelvox::testing
