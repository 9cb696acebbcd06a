// What the window asks before an update could lose something: which Bluetooth address to keep
// when the adapter's own could not be read, and whether to close while an update runs.
#include <QListWidget>
#include <QMessageBox>

#include "firmware/address_backup.h"
#include "tests/ui/ui_fixture.h"
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
    EXPECT_EQ(CurVerNum, kCurrentVersion);
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
        EXPECT_TRUE(UpdateFirmwareRunning);
    }
    Button("bCancel")->click();
}

}  // namespace
}  // namespace tornelvox::testing
