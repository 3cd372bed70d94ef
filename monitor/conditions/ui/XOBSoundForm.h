#pragma once
// The alarm sound chooser: a folder tree, the sound files of the chosen
// folder, the file name, a "loop" box and buttons to try the sound. It plays
// through the alarm player itself, so trying a sound replaces the alarm sound
// (the alarm logic restarts a standing alarm after the chooser closes).

#include "Alarms.h"

#include <QDialog>

class QCheckBox;
class QFileSystemModel;
class QLineEdit;
class QListView;
class QTreeView;

namespace skyvane::conditions {

class XOBSoundForm : public QDialog {
    Q_OBJECT
public:
    XOBSoundForm(const SoundChooserStart& start, SoundPlayer& player, QWidget* parent = nullptr);
    ~XOBSoundForm() override;

    // What OK gave back: file name, loop flag and the folder shown.
    SoundChoice choice() const;

    // Shows the chooser modally, centred over parent; nullopt on Cancel or close.
    static std::optional<SoundChoice> run(const SoundChooserStart& start, SoundPlayer& player, QWidget* parent);
    // The same, in the form AlarmController::chooseAlarmSound takes.
    static AlarmController::ChooserRun runner(SoundPlayer& player, QWidget* parent);

    QLineEdit* fileNameBox() const { return fileName_; }
    QCheckBox* loopBox() const { return loop_; }
    QString folder() const;
    void setFolder(const QString& path);
    void playSelected(); // ButtPlay
    void stopSound();    // ButtStop

protected:
    void done(int r) override;

private:
    SoundPlayer& player_;
    QFileSystemModel* dirs_;
    QFileSystemModel* files_;
    QTreeView* dirView_;
    QListView* fileView_;
    QLineEdit* fileName_;
    QCheckBox* loop_;
    QString folder_;
};

} // namespace skyvane::conditions
