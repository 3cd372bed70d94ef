#pragma once
// The upload frame of the main window: the upload list with its buttons and
// pop-up menu, the server fields and the upload settings. It edits the
// monitor's uploads object and shows its state; the settings are locked
// while the uploads say so (from the first launch until monitoring stops).

#include <QGroupBox>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QAction;
class QPushButton;
class XOBGetNumber;

namespace skyvane {
class MonitorApi;
}

namespace skyvane::outputs {

class Uploads;

// The filters of the add dialog, first one selected.
QStringList uploadFileFilters();

class UploadFrame : public QGroupBox {
    Q_OBJECT
public:
    explicit UploadFrame(MonitorApi& core, QWidget* parent = nullptr);

    // The add dialog as the Add button opens it (title, filters, folder,
    // several files).
    QFileDialog* makeAddDialog();
    // What the dialog returns: each full name not listed yet is added, and
    // its folder becomes the folder last used.
    void addFiles(const QStringList& names);
    void deleteSelected();
    void refresh();
    QMenu* popupMenu() const { return popup_; }
    // Shows the pop-up as a right-button release over the list does.
    void showPopupAt(const QPoint& globalPos, bool exec = true);

protected:
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    void pull();
    void checkServerField(QLineEdit* field, bool path);
    void setUploadOnce(bool on);
    const Uploads& uploads() const;

    MonitorApi& core_;
    bool refreshing_ = false;
    QListWidget* list_;
    QPushButton* add_;
    QPushButton* del_;
    QCheckBox* uploadOnce_;
    QCheckBox* dispFileNameOnly_;
    QLineEdit* server_;
    QLineEdit* serverPath_;
    QLineEdit* user_;
    QLineEdit* password_;
    XOBGetNumber* timeout_;
    XOBGetNumber* uploadOnSec_;
    QComboBox* refresh_;
    QComboBox* tls_;
    QLineEdit* caFile_;
    QPushButton* caButton_;
    QLabel* uploader_;
    QMenu* popup_;
    QAction* popOnce_;
    QAction* popDelete_;
    QAction* popAdd_;
};

} // namespace skyvane::outputs
