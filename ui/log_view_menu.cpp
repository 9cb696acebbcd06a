#include "ui/log_view_menu.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSaveFile>

namespace tornelvox {

LogViewMenu::LogViewMenu(QPlainTextEdit *log, QObject *parent) : QObject(parent), log_(log) {
    setObjectName("LogViewMenu");
    save_log_ = new QAction("Save Log…", this);
    save_log_->setObjectName("actSaveLog");
    copy_log_ = new QAction("Copy", this);
    copy_log_->setObjectName("actCopyLog");
    select_all_ = new QAction("Select All", this);
    select_all_->setObjectName("actSelectAll");
    clear_log_ = new QAction("Clear Log", this);
    clear_log_->setObjectName("actClearLog");
    connect(save_log_, &QAction::triggered, this, &LogViewMenu::SaveLog);
    connect(copy_log_, &QAction::triggered, this, &LogViewMenu::CopyLog);
    connect(select_all_, &QAction::triggered, log_, &QPlainTextEdit::selectAll);
    connect(clear_log_, &QAction::triggered, this, &LogViewMenu::ClearLog);
    log_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(log_, &QWidget::customContextMenuRequested, this, &LogViewMenu::Show);
    choose_log_file = [this] {
        return QFileDialog::getSaveFileName(log_->window(), "Save Log", "tornelvox-log.txt",
                                            "Text files (*.txt);;All files (*)");
    };
}

void LogViewMenu::Show(const QPoint &position) {
    const bool empty = log_->document()->isEmpty();
    save_log_->setEnabled(!empty);
    copy_log_->setEnabled(!empty);
    select_all_->setEnabled(!empty);
    clear_log_->setEnabled(!empty);
    QMenu menu(log_);
    menu.setObjectName("LogMenu");
    menu.addAction(save_log_);
    menu.addAction(copy_log_);
    menu.addAction(select_all_);
    menu.addSeparator();
    menu.addAction(clear_log_);
    menu.exec(log_->viewport()->mapToGlobal(position));
}

void LogViewMenu::SaveLog() {
    const QString path = choose_log_file ? choose_log_file() : QString();
    if (!path.isEmpty()) SaveLogTo(path);
}

bool LogViewMenu::SaveLogTo(const QString &path) {
    QSaveFile file(path);
    QString error;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        error = file.errorString();
    } else if (file.write(log_->toPlainText().toUtf8()) < 0 || !file.commit()) {
        error = file.errorString();
    }
    if (error.isEmpty()) return true;
    auto *warning = new QMessageBox(QMessageBox::Warning, log_->window()->windowTitle(),
                                    QString("The log could not be saved to %1.\n\n%2")
                                        .arg(QDir::toNativeSeparators(path), error),
                                    QMessageBox::Ok, log_->window());
    warning->setObjectName("SaveLogFailed");
    warning->setAttribute(Qt::WA_DeleteOnClose);
    warning->open();
    return false;
}

void LogViewMenu::CopyLog() {
    // The selection if there is one, else the whole log.
    const QString selected = log_->textCursor().selectedText();
    const QString text = selected.isEmpty()
                             ? log_->toPlainText()
                             : QString(selected).replace(QChar::ParagraphSeparator, '\n');
    QGuiApplication::clipboard()->setText(text);
}

void LogViewMenu::ClearLog() {
    log_->clear();
}

}  // namespace tornelvox
