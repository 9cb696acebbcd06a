// What people expect of a desktop tool: the log's own menu (save, copy, select, clear) and its
// hint while empty, keyboard use without a button that a stray Enter would press, and a tooltip
// and an accessible name on every control.
#include <QAbstractButton>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <fstream>
#include <sstream>

#include "tests/ui/ui_fixture.h"
#include "ui/address_question_dialog.h"
#include "ui/log_view_menu.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {
namespace {

constexpr char kLogText[] = "\n Search Device ...\n\t Check port : x\n Ünïcode line\n";

class DesktopTest : public MainWindowTest {
  protected:
    LogViewMenu *Menu() const { return window_->findChild<LogViewMenu *>(); }

    QAction *Action(const char *name) const {
        auto *action = window_->findChild<QAction *>(name);
        EXPECT_NE(action, nullptr) << name;
        return action;
    }

    void FillLog() {
        ShowMsg(*session_, "%s", kLogText);
        ASSERT_EQ(Log(), kLogText);
    }
};

TEST_F(DesktopTest, LogMenuOffersSaveCopySelectAndClear) {
    FillLog();
    QStringList entries;
    WhenShown("LogMenu", [&entries](QWidget *menu) {
        for (QAction *action : static_cast<QMenu *>(menu)->actions()) {
            if (!action->isSeparator()) entries << action->text();
        }
        menu->close();
    });
    emit LogWidget()->customContextMenuRequested(QPoint(4, 4));
    EXPECT_EQ(entries.join(", ").toStdString(), "Save Log…, Copy, Select All, Clear Log");
}

TEST_F(DesktopTest, EmptyLogShowsAHintThatIsNotLogText) {
    EXPECT_EQ(LogWidget()->placeholderText().toStdString(), "Connect the adapter and click Check.");
    FillLog();
    Action("actClearLog")->trigger();
    EXPECT_EQ(Log(), "");
    ShowMsg(*session_, "next\n");
    EXPECT_EQ(Log(), "next\n");  // the log goes on after a clear
}

TEST_F(DesktopTest, CopyTakesTheSelectionOrElseTheWholeLog) {
    FillLog();
    Action("actCopyLog")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), kLogText);

    QTextCursor cursor = LogWidget()->textCursor();
    cursor.setPosition(1);
    cursor.setPosition(20, QTextCursor::KeepAnchor);  // across a line end
    LogWidget()->setTextCursor(cursor);
    Action("actCopyLog")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
              std::string(kLogText).substr(1, 19));
}

TEST_F(DesktopTest, SaveLogWritesTheWholeLogAsUtf8) {
    FillLog();
    const std::string path = folder_ + "/saved log.txt";
    Menu()->choose_log_file = [&path] { return QString::fromStdString(path); };
    Action("actSaveLog")->trigger();

    std::ifstream saved(path, std::ios::binary);
    std::stringstream content;
    content << saved.rdbuf();
    EXPECT_EQ(content.str(), kLogText);
}

TEST_F(DesktopTest, SaveLogThatCannotWriteSaysWhyAndChoosingNothingSavesNothing) {
    FillLog();
    const std::string path = folder_ + "/no-such-folder/log.txt";
    QString said;
    WhenShown("SaveLogFailed", [&said](QWidget *box) {
        said = static_cast<QMessageBox *>(box)->text();
        box->close();
    });
    Menu()->choose_log_file = [&path] { return QString::fromStdString(path); };
    Action("actSaveLog")->trigger();
    ASSERT_TRUE(WaitFor([&] { return !said.isEmpty(); }));
    EXPECT_TRUE(said.startsWith(QString::fromStdString("The log could not be saved to " + path)))
        << said.toStdString();
    EXPECT_GT(said.size(),
              QString::fromStdString("The log could not be saved to " + path + ".\n\n").size())
        << "the reason is given";

    Menu()->choose_log_file = [] { return QString(); };  // the user cancelled the file dialog
    Action("actSaveLog")->trigger();
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(DesktopTest, NoButtonIsOneThatAStrayEnterWouldPress) {
    for (QPushButton *button : window_->findChildren<QPushButton *>()) {
        EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
        EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
    }
    PlugAdapter({.version = 0x603});
    Check();
    Button("bDeviceSetting")->click();
    DeviceSettingViewController *dialog = AwaitSettingsDialog();
    ASSERT_NE(dialog, nullptr);
    auto *cancel = dialog->findChild<QPushButton *>("bCancel");
    EXPECT_FALSE(cancel->isDefault());
    EXPECT_FALSE(cancel->autoDefault());
    dialog->reject();
    ASSERT_TRUE(WaitFor([&] { return Button("bCheckDevice")->isEnabled(); }));
}

TEST_F(DesktopTest, TabGoesThroughTheLogAndTheShownButtonsInTheirOrder) {
    PlugAdapter({.version = 0x603});
    Check();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    LogWidget()->setFocus();
    QStringList order;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(order.join(", ").toStdString(),
              "bCheckDevice, bUpdateFirmware, bDeviceSetting, bClose, txMessage");
}

struct KeyCase {
    const char *name;
    Qt::Key key;
};

class PressKeyTest : public DesktopTest, public ::testing::WithParamInterface<KeyCase> {};

// The window opens with the focus on Check, which the empty log's hint names; the Check locks
// the buttons, so the focus waits on the log and comes back when it ends.
TEST_P(PressKeyTest, KeyOnTheFocusedButtonPressesIt) {
    ASSERT_EQ(window_->focusWidget(), Button("bCheckDevice"));
    QTest::keyClick(Button("bCheckDevice"), GetParam().key);
    EXPECT_EQ(window_->focusWidget(), LogWidget());
    ASSERT_TRUE(WaitFor([&] { return !window_->BackgroundActionRunning(); }));
    EXPECT_NE(Log().find(" Search Device ...\n"), std::string::npos) << Log();
    EXPECT_EQ(window_->focusWidget(), Button("bCheckDevice"));
}

INSTANTIATE_TEST_SUITE_P(Keys, PressKeyTest,
                         ::testing::Values(KeyCase{"Return", Qt::Key_Return},
                                           KeyCase{"Enter", Qt::Key_Enter},
                                           KeyCase{"Space", Qt::Key_Space}),
                         [](const ::testing::TestParamInfo<KeyCase> &info) {
                             return info.param.name;
                         });

TEST_F(DesktopTest, StartingAnUpdateTakesTheFocusFromCloseToTheLog) {
    PlugAdapter({.version = 0x302, .erase_delay_ms = 40});
    Check();
    Button("bClose")->setFocus();
    ASSERT_EQ(window_->focusWidget(), Button("bClose"));

    Button("bUpdateFirmware")->click();

    EXPECT_EQ(window_->focusWidget(), LogWidget());
    Button("bCancel")->click();
}

TEST_F(DesktopTest, EveryControlHasAnAccessibleNameAndEveryButtonATooltip) {
    for (QWidget *control : window_->findChildren<QWidget *>()) {
        if (qobject_cast<QAbstractButton *>(control) == nullptr &&
            qobject_cast<QPlainTextEdit *>(control) == nullptr &&
            qobject_cast<QProgressBar *>(control) == nullptr) {
            continue;
        }
        const std::string name = control->objectName().toStdString();
        EXPECT_FALSE(control->accessibleName().isEmpty()) << name;
        if (qobject_cast<QAbstractButton *>(control) != nullptr) {
            EXPECT_FALSE(control->toolTip().isEmpty()) << name;
        }
    }
    DeviceSettingViewController settings(session_, window_.get());
    AddressQuestionDialog question({"port", "reason", {}}, window_.get());
    QList<QWidget *> dialog_controls = settings.findChildren<QWidget *>();
    dialog_controls += question.findChildren<QWidget *>();
    for (QWidget *control : dialog_controls) {
        if (qobject_cast<QAbstractButton *>(control) == nullptr &&
            qobject_cast<QComboBox *>(control) == nullptr &&
            qobject_cast<QListWidget *>(control) == nullptr) {
            continue;
        }
        if (control->parent() != nullptr &&
            qobject_cast<QComboBox *>(control->parent()) != nullptr) {
            continue;  // a box's own inner parts
        }
        const std::string name = control->objectName().toStdString();
        EXPECT_FALSE(control->accessibleName().isEmpty()) << name;
        if (qobject_cast<QPushButton *>(control) != nullptr) {
            EXPECT_FALSE(control->toolTip().isEmpty()) << name;
        }
    }
}

}  // namespace
}  // namespace tornelvox::testing
