#include "ui/address_question_dialog.h"

#include <QListWidgetItem>

#include "firmware/address_backup.h"
#include "ui_address_question_dialog.h"

namespace tornelvox {

namespace {

QString Describe(const AddressCandidate &candidate) {
    QString text = QString::fromStdString(FormatBtAddress(candidate.address)) + "  " +
                   QString::fromStdString(candidate.origin);
    if (!candidate.saved_at.empty()) {
        text += ", saved " + QString::fromStdString(candidate.saved_at);
    }
    if (!candidate.port.empty()) text += " on " + QString::fromStdString(candidate.port);
    if (!candidate.device.empty()) text += " (" + QString::fromStdString(candidate.device) + ")";
    if (candidate.same_usb_device) text += "  (this USB device)";
    return text;
}

}  // namespace

AddressQuestionDialog::AddressQuestionDialog(const AddressQuestion &question, QWidget *parent)
    : QDialog(parent), ui_(std::make_unique<Ui::AddressQuestionDialog>()) {
    ui_->setupUi(this);
    ui_->txReason->setText(QString::fromStdString(question.reason) + " (port " +
                           QString::fromStdString(question.port) + ")");
    int marked = -1;
    for (const AddressCandidate &candidate : question.candidates) {
        ui_->lvAddresses->addItem(Describe(candidate));
        // After an unplug the adapter at the port may be another one: nothing is chosen for it.
        if (candidate.same_usb_device && marked < 0 &&
            question.kind == AddressQuestion::Kind::kAddressNotRead) {
            marked = ui_->lvAddresses->count() - 1;
        }
    }
    if (question.candidates.empty()) {
        auto *none = new QListWidgetItem(
            "No address of this adapter was found: none on the adapter, none in the address "
            "backup.",
            ui_->lvAddresses);
        none->setFlags(Qt::NoItemFlags);
    }
    // Only the address saved from this very USB device is chosen in advance; any other choice
    // is the user's own.
    if (marked >= 0) ui_->lvAddresses->setCurrentRow(marked);
    ui_->bUseAddress->setEnabled(marked >= 0);
    connect(ui_->lvAddresses, &QListWidget::currentRowChanged, this,
            [this](int row) { ui_->bUseAddress->setEnabled(row >= 0); });

    connect(ui_->bUseAddress, &QPushButton::clicked, this, [this] {
        const int row = ui_->lvAddresses->currentRow();
        if (row < 0) return;
        Choose({AddressAnswer::Kind::kCandidate, static_cast<std::size_t>(row)});
    });
    connect(ui_->lvAddresses, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem *) { ui_->bUseAddress->click(); });
    connect(ui_->bNewAddress, &QPushButton::clicked, this, [this] {
        Choose({AddressAnswer::Kind::kBuiltInAddress, 0});
    });
    connect(ui_->bStopUpdate, &QPushButton::clicked, this, [this] {
        Choose({AddressAnswer::Kind::kRefused, 0});
    });
}

AddressQuestionDialog::~AddressQuestionDialog() = default;

void AddressQuestionDialog::Choose(AddressAnswer answer) {
    answer_ = answer;
    accept();
}

AddressAnswer AddressQuestionDialog::Ask(const AddressQuestion &question, QWidget *parent) {
    AddressQuestionDialog dialog(question, parent);
    dialog.exec();
    return dialog.Answer();
}

}  // namespace tornelvox
