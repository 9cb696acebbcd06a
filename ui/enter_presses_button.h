// Enter and Return press the focused push button of a window that is not a dialog, as Space
// does, without making any button a default that Enter would press from elsewhere.
#pragma once

#include <QObject>

class QAbstractButton;

namespace tornelvox {

class EnterPressesButton : public QObject {
    Q_OBJECT

  public:
    // Watches button for as long as both exist; parented to the button.
    static void Install(QAbstractButton *button);

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    using QObject::QObject;
};

}  // namespace tornelvox
