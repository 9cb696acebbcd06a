// The main window: its state when loaded, its title, and the Check action against the emulated
// adapter with every kind of advice.
#include <QPlainTextEdit>

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

struct CheckCase {
    const char *name;
    std::uint32_t version;
    bool version_unreadable;
    const char *version_lines;  // what the version query logs
    const char *advice;
};

void PrintTo(const CheckCase &c, std::ostream *out) {
    *out << c.name;
}

class CheckAdviceTest : public MainWindowTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CheckAdviceTest, LogsSearchVersionAndAdviceAndOffersUpdateAndSetting) {
    const CheckCase &c = GetParam();
    PlugAdapter({.version = c.version});
    if (c.version_unreadable) {
        adapter_->AddFault(
            {.code = 22, .kind = emulator::FaultKind::kSilence, .times = emulator::kAlways});
    }

    Check();

    const std::string node = NodePath();
    EXPECT_EQ(Log(), "\n Search Device ...\n\t Check port : " + node + "\n Found device on " +
                         node + "\n" + c.version_lines + c.advice);
    EXPECT_EQ(Buttons(), kCheckedAdapter);
    EXPECT_EQ(CurVerNum, c.version_unreadable ? 0 : static_cast<int>(c.version));
}

INSTANTIATE_TEST_SUITE_P(
    Versions, CheckAdviceTest,
    ::testing::Values(
        CheckCase{"Latest", 0x603, false,
                  " Device Firmware Version = 603\n Available Firmware for update = 603\n",
                  "\n You have the latest or newer firmware.\n"
                  " Click \"Update\" to update firmware.\n"
                  " Click \"Setting\" to set parameters.\n"},
        CheckCase{"Newer", 0x604, false,
                  " Device Firmware Version = 604\n Available Firmware for update = 603\n",
                  "\n You have the latest or newer firmware.\n"
                  " Click \"Update\" to update firmware.\n"
                  " Click \"Setting\" to set parameters.\n"},
        CheckCase{"OldestWithSettings", 0x200, false,
                  " Device Firmware Version = 200\n Available Firmware for update = 603\n",
                  "\n There is newer firmware available.\n"
                  " Click \"Update\" to update firmware.\n"
                  " Click \"Setting\" to set parameters.\n\n"},
        CheckCase{"TooOldForSettings", 0x1FF, false,
                  " Device Firmware Version = 1FF\n Available Firmware for update = 603\n",
                  "\n There is newer firmware available.\n"
                  " Click \"Update\" to update firmware.\n"
                  " Update firmware before set parameters.\n\n"},
        CheckCase{"VersionUnreadable", 0x603, true, "\n Can't get device firmware number\n",
                  "\n There is newer firmware available.\n"
                  " Click \"Update\" to update firmware.\n"
                  " Update firmware before set parameters.\n\n"}),
    [](const ::testing::TestParamInfo<CheckCase> &info) { return info.param.name; });

TEST_F(MainWindowTest, CheckWithoutAdapterSaysSoAndKeepsUpdateAndSettingHidden) {
    Check();

    EXPECT_EQ(Log(),
              "\n Search Device ...\n"
              "\n Can't find Tornelvox device.\n Please check USB connection\n\n");
    EXPECT_EQ(Buttons(), kOnlyCheck);
}

TEST_F(MainWindowTest, CheckThatNoLongerFindsTheAdapterHidesUpdateAndSettingAgain) {
    PlugAdapter({.version = 0x603});
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
    PlugAdapter({.version = 0x603});
    ThreadRunning = true;

    Check();

    EXPECT_EQ(Log(), "");
    EXPECT_EQ(adapter_->ReceivedCodes().size(), 0u);
    EXPECT_EQ(Buttons(), kOnlyCheck);
    ThreadRunning = false;
}

TEST_F(MainWindowTest, CheckMessagesAppearOnlyOnceTheActionHasReturned) {
    PlugAdapter({.version = 0x603});
    std::string log_during_check = "unset";
    // The search's first probe runs inside the action: the log must still be empty then.
    QObject::connect(Button("bCheckDevice"), &QPushButton::clicked,
                     [&] { log_during_check = LogWidget()->toPlainText().toStdString(); });

    Check();

    EXPECT_EQ(log_during_check, "");
    EXPECT_NE(Log(), "");
}

}  // namespace
}  // namespace tornelvox::testing
