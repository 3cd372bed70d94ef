#pragma once
// XOBDispNews ("Important Information"): the news of the update server, as
// plain text, with "Discard this message" to stop it coming back.

#include <QWidget>

class QCheckBox;
class QLabel;

namespace skyvane {
class SettingsStore;
}

namespace skyvane::update {

class XOBDispNews : public QWidget {
    Q_OBJECT
public:
    XOBDispNews(SettingsStore& store, QWidget* parent = nullptr);
    // NewsShow: the text (cut, never read as markup), the window fitted to
    // it, on top of the others.
    void newsShow(const QString& text);
    QString shownText() const;

signals:
    void discarded();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    SettingsStore& store_;
    QLabel* lblMsg_ = nullptr;
    QCheckBox* chckMsg_ = nullptr;
};

} // namespace skyvane::update
