// What the window asks before an update could lose something: which Bluetooth address to keep
// when the adapter's own could not be read, and whether to close while an update runs.
#include <QListWidget>
#include <QMessageBox>
#include <iterator>

#include "firmware/address_backup.h"
#include "tests/ui/ui_fixture.h"
#include "ui/address_question_dialog.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {
namespace {

constexpr BtAddress kSaved = {0x5A, 0x04, 0x33, 0x22, 0x11, 0xC0};  // C0:11:22:33:04:5A

class UpdateSafetyTest : public MainWindowTest {
  protected:
    // An adapter whose name page is gone, as after an update that never finished, and a backup
    // record of its address.
    void PlugAdapterWithoutNamePage() {
        PlugAdapter({.version = kOlderVersion, .name_page_stored = false});
        std::string error;
        ASSERT_TRUE(AppendAddressRecord(
            session_->AddressBackupSubfolder,
            {UtcTimestamp(), kSaved, "Tornelvox(45A)", NodePath(), "", "read"}, error))
            << error;
    }

    void UpdateAndWaitForTheEnd() {
        Button("bUpdateFirmware")->click();
        ASSERT_TRUE(WaitFor([&] { return Button("bCheckDevice")->isEnabled(); }));
    }

    std::vector<std::uint8_t> NamePage() const { return adapter_->ReadFlash(kNamePageAddress, 6); }
};

TEST_F(UpdateSafetyTest, AddressQuestionOffersTheBackupAndTheChosenAddressIsWritten) {
    PlugAdapterWithoutNamePage();
    Check();
    QStringList offered;
    bool chosen_in_advance = true;
    WhenShown("AddressQuestionDialog", [&](QWidget *dialog) {
        auto *list = dialog->findChild<QListWidget *>("lvAddresses");
        auto *use = dialog->findChild<QPushButton *>("bUseAddress");
        for (int row = 0; row < list->count(); ++row) offered << list->item(row)->text();
        chosen_in_advance = list->currentRow() >= 0 || use->isEnabled();
        list->setCurrentRow(0);
        use->click();
    });

    UpdateAndWaitForTheEnd();

    ASSERT_EQ(offered.size(), 1) << offered.join("\n").toStdString();
    EXPECT_TRUE(offered[0].startsWith("C0:11:22:33:04:5A  address backup, saved "))
        << offered[0].toStdString();
    EXPECT_FALSE(chosen_in_advance)
        << "a backup of another USB device is never chosen for the user";
    EXPECT_NE(Log().find(" Using the BT address C0:11:22:33:04:5A (address backup).\n"),
              std::string::npos)
        << Log();
    EXPECT_EQ(NamePage(), std::vector<std::uint8_t>(kSaved.begin(), kSaved.end()));
    EXPECT_EQ(session_->CurVerNum, kCurrentVersion);
}

// A backup of the port's USB device is chosen in advance only when the adapter's own address
// could not be read. After an unplug the adapter at the port may be another one: the user
// chooses, its own address listed first, nothing chosen for them.
TEST_F(UpdateSafetyTest, AfterAnUnplugNothingIsChosenInAdvance) {
    constexpr BtAddress kFirst = {0xA7, 0x03, 0x5C, 0x21, 0x9E, 0x40};
    using Kind = AddressQuestion::Kind;
    for (const Kind kind :
         {Kind::kAddressNotRead, Kind::kAdapterMayDiffer, Kind::kAnotherAdapter}) {
        const AddressQuestion question{
            "/dev/ttyUSB0",
            "Another adapter is at the port now.",
            {{kSaved, "stored on the adapter now at the port, at FD000", "", "", false},
             {kFirst, "the first adapter's, at the port before the unplug: not this adapter's", "",
              "", false},
             {kSaved, "address backup", "2026-12-01 10:30", "/dev/ttyUSB0", true}},
            kind};
        AddressQuestionDialog dialog(question, window_.get());
        auto *list = dialog.findChild<QListWidget *>("lvAddresses");
        auto *use = dialog.findChild<QPushButton *>("bUseAddress");
        ASSERT_EQ(list->count(), 3);
        EXPECT_EQ(list->item(0)->text().toStdString(),
                  "C0:11:22:33:04:5A  stored on the adapter now at the port, at FD000");
        const bool in_advance = kind == Kind::kAddressNotRead;
        EXPECT_EQ(list->currentRow(), in_advance ? 2 : -1) << static_cast<int>(kind);
        EXPECT_EQ(use->isEnabled(), in_advance) << static_cast<int>(kind);
    }
}

// A backup record names the device it was saved from, in the words `ports` and the log use; a
// record from before those words were kept shows its USB serial number, or only its port.
TEST_F(UpdateSafetyTest, BackupChoicesNameTheirDevice) {
    const AddressQuestion question{
        "/dev/ttyUSB0",
        "No BT address of this adapter could be read.",
        {{kSaved, "address backup", "2026-12-01 10:30", "/dev/ttyUSB0", true,
          "FTDI FT232R USB UART, serial A50285BI"},
         {kSaved, "address backup", "2026-11-30 09:00", "/dev/ttyUSB1", false,
          "USB device, serial FT1A"},
         {kSaved, "address backup", "2026-11-29 08:00", "/dev/ttyUSB2", false, ""}}};
    const char *shown[] = {
        "C0:11:22:33:04:5A  address backup, saved 2026-12-01 10:30 on /dev/ttyUSB0 (FTDI FT232R "
        "USB UART, serial A50285BI)  (this USB device)",
        "C0:11:22:33:04:5A  address backup, saved 2026-11-30 09:00 on /dev/ttyUSB1 (USB device, "
        "serial FT1A)",
        "C0:11:22:33:04:5A  address backup, saved 2026-11-29 08:00 on /dev/ttyUSB2",
    };
    AddressQuestionDialog dialog(question, window_.get());
    auto *list = dialog.findChild<QListWidget *>("lvAddresses");
    ASSERT_EQ(list->count(), static_cast<int>(std::size(shown)));
    for (int row = 0; row < list->count(); ++row) {
        EXPECT_EQ(list->item(row)->text().toStdString(), shown[row]) << row;
    }
}

TEST_F(UpdateSafetyTest, StoppingAtTheAddressQuestionErasesNothing) {
    PlugAdapterWithoutNamePage();
    Check();
    WhenShown("AddressQuestionDialog",
              [](QWidget *dialog) { dialog->findChild<QPushButton *>("bStopUpdate")->click(); });

    UpdateAndWaitForTheEnd();

    EXPECT_NE(Log().find(" No BT address was chosen: nothing was erased.\n"), std::string::npos)
        << Log();
    EXPECT_EQ(adapter_->CountOf(kCmdEraseStep), 0) << adapter_->Transcript();
    EXPECT_TRUE(Button("bCancel")->isHidden());
}

TEST_F(UpdateSafetyTest, ClosingDuringAnUpdateAsksAndNoKeepsItRunning) {
    PlugAdapter({.version = kOlderVersion, .erase_delay_ms = 40});
    Check();
    Button("bUpdateFirmware")->click();
    ASSERT_TRUE(adapter_->WaitForFrames(kCmdEraseStep, 2, std::chrono::seconds(20)));

    int asked = 0;
    for (int way = 0; way < 2; ++way) {
        WhenShown("CloseDuringUpdateQuestion", [&asked](QWidget *question) {
            ++asked;
            static_cast<QMessageBox *>(question)->button(QMessageBox::No)->click();
        });
        if (way == 0) {
            Button("bClose")->click();
        } else {
            window_->close();  // as the window system's close control does
        }
        EXPECT_EQ(asked, way + 1);
        EXPECT_TRUE(window_->isVisible());
        EXPECT_TRUE(session_->UpdateFirmwareRunning);
    }
    Button("bCancel")->click();
}

}  // namespace
}  // namespace tornelvox::testing
