#pragma once
// The column chooser XOBFileStructForm: the 25 positions of the user data
// file in output order, each with its header text and a tick for "write
// it". Up and Down move the selected entry; the position labels stay where
// they are. OK writes the list back into the column table; Cancel leaves it.

#include "UserDataFile.h"

#include <QDialog>

class QListWidget;
class QPushButton;

namespace skyvane::outputs {

class FileStructDialog : public QDialog {
    Q_OBJECT
public:
    FileStructDialog(ColumnTable& table, QWidget* parent = nullptr);

    QListWidget* list() const { return list_; }
    QPushButton* upButton() const { return up_; }
    QPushButton* downButton() const { return down_; }
    QPushButton* defaultsButton() const { return defaults_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

    void moveUp();
    void moveDown();
    void restoreDefaults();
    void accept() override;

private:
    void fill(const ColumnTable& t);
    void exchange(int a, int b);

    ColumnTable& table_;
    QListWidget* list_ = nullptr;
    QPushButton* up_ = nullptr;
    QPushButton* down_ = nullptr;
    QPushButton* defaults_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

} // namespace skyvane::outputs
