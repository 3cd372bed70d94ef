#pragma once
// The small dialogs of the main window: the message dialog XOBError, the
// code legend XOBLegend, the about box XOBAbout and the first-run dialog
// XOBSetupForm.

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QRadioButton;
class QPushButton;

namespace skyvane {

class SettingsStore;

class MessageDialog : public QDialog { // XOBError
    Q_OBJECT
public:
    MessageDialog(const QString& text, int flags, const QString& title, QWidget* parent);
    int answer() const { return answer_; }
    QPushButton* button(int i) const { return buttons_[i]; }

private:
    int answer_ = 0;
    QPushButton* buttons_[3] = {};
};

class LegendDialog : public QDialog { // XOBLegend
    Q_OBJECT
public:
    explicit LegendDialog(QWidget* parent);
    // The lines of the list, empty lines between the groups.
    static QStringList lines();
};

class AboutDialog : public QDialog { // XOBAbout
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent);
};

// First run: asks for the station file, the folders, the date format and
// the units, and writes them to the store on OK.
class SetupDialog : public QDialog { // XOBSetupForm
    Q_OBJECT
public:
    SetupDialog(SettingsStore& store, QWidget* parent = nullptr);
    // 1 after OK, 0 after Cancel.
    int firstRunFlag() const { return flag_; }

    // Fields, reachable for tests.
    QLineEdit* stationFile = nullptr;
    QLineEdit* userDataDir = nullptr;
    QLineEdit* ccdapDir = nullptr;
    QLineEdit* graphDir = nullptr;
    QRadioButton* dateDdMm = nullptr;
    QRadioButton* dateMmDd = nullptr;
    QRadioButton* tempC = nullptr;
    QRadioButton* tempF = nullptr;
    QRadioButton* speed[4] = {};
    QLabel* warning = nullptr;

    void accept() override;
    void reject() override;

private:
    SettingsStore& store_;
    int flag_ = 0;
};

// The first-run step of the program start: with no settings yet, shows the
// first-run dialog modally. False when the user cancelled it (the program
// then ends); true when it was confirmed or not needed.
bool passFirstRun(SettingsStore& store, QWidget* parent = nullptr);

} // namespace skyvane
