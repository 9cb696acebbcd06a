#include "ui/enter_presses_button.h"

#include <QAbstractButton>
#include <QKeyEvent>

namespace tornelvox {

void EnterPressesButton::Install(QAbstractButton *button) {
    button->installEventFilter(new EnterPressesButton(button));
}

bool EnterPressesButton::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() != QEvent::KeyPress) return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
    if (key->modifiers() & ~Qt::KeypadModifier) return false;
    auto *button = qobject_cast<QAbstractButton *>(watched);
    if (button == nullptr || !button->isEnabled() || !button->isVisible()) return false;
    button->click();
    return true;
}

}  // namespace tornelvox
