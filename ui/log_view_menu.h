// The message log's own menu: Save Log…, Copy, Select All and Clear Log.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QAction;
class QPlainTextEdit;
class QPoint;

namespace tornelvox {

class LogViewMenu : public QObject {
    Q_OBJECT

  public:
    // Serves log's context menu; the actions are children of this object, named actSaveLog,
    // actCopyLog, actSelectAll and actClearLog.
    LogViewMenu(QPlainTextEdit *log, QObject *parent);

    // Shows the menu at position in the log's viewport; while the log is empty its entries are
    // disabled.
    void Show(const QPoint &position);
    // Asks where to save (choose_log_file) and saves there.
    void SaveLog();
    // Writes the whole log to path as UTF-8; on failure says why in a warning box over the
    // window (named "SaveLogFailed") and returns false.
    bool SaveLogTo(const QString &path);
    // The selection if there is one, else the whole log, to the clipboard.
    void CopyLog();
    // Empties the log; its placeholder, the hint of what to do first, shows again.
    void ClearLog();

    // Where Save Log… writes: asks the user with a file dialog by default; tests give their
    // own. An empty path saves nothing.
    std::function<QString()> choose_log_file;

  private:
    QPlainTextEdit *log_;
    QAction *save_log_ = nullptr;
    QAction *copy_log_ = nullptr;
    QAction *select_all_ = nullptr;
    QAction *clear_log_ = nullptr;
};

}  // namespace tornelvox
