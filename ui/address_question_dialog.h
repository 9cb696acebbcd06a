// The question an update asks before it would erase an adapter whose own Bluetooth address it
// could not read: which address the adapter is to keep.
#pragma once

#include <QDialog>
#include <memory>

#include "workflow/front_end.h"

namespace Ui {
class AddressQuestionDialog;
}

namespace tornelvox {

class AddressQuestionDialog : public QDialog {
    Q_OBJECT

  public:
    AddressQuestionDialog(const AddressQuestion &question, QWidget *parent = nullptr);
    ~AddressQuestionDialog() override;

    // The user's answer once the dialog has closed; kRefused when it was closed any other way.
    AddressAnswer Answer() const { return answer_; }

    // Shows the question modally over parent and returns the answer. Interface thread only.
    static AddressAnswer Ask(const AddressQuestion &question, QWidget *parent);

  private:
    void Choose(AddressAnswer answer);

    std::unique_ptr<Ui::AddressQuestionDialog> ui_;
    AddressAnswer answer_{AddressAnswer::Kind::kRefused, 0};
};

}  // namespace tornelvox
