#include "ResetForm.h"

#include "SettingsStore.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace skyvane::reset {

ResetForm::ResetForm(SettingsStore& store, QWidget* parent) : QWidget(parent), store_(store)
{
    setObjectName(QStringLiteral("ResetForm"));
    setWindowTitle(QStringLiteral("XOB_Skyvane-Reset utility"));
    messenger_ = [this](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok, this);
        box.exec();
    };

    auto* outer = new QVBoxLayout(this);
    auto* head = new QLabel(QStringLiteral("Select the parameters which you wish to reset"), this);
    head->setObjectName(QStringLiteral("Label1"));
    outer->addWidget(head);

    auto* grid = new QGridLayout;
    int row = 0;
    for (const GroupInfo& g : groups()) {
        auto* label = new QLabel(g.label, this);
        label->setObjectName(QStringLiteral("LblReset%1").arg(row + 1));
        auto* button = new QPushButton(QStringLiteral("Reset"), this);
        button->setObjectName(QStringLiteral("Command%1").arg(row + 1));
        button->setAccessibleName(QStringLiteral("Reset ") + g.label);
        const Group which = g.group;
        connect(button, &QPushButton::clicked, this, [this, which] { reset(which); });
        grid->addWidget(label, row, 0);
        grid->addWidget(button, row, 1);
        ++row;
    }
    grid->setColumnStretch(0, 1);
    outer->addLayout(grid);

    auto* bottom = new QHBoxLayout;
    auto* version = new QLabel(versionLabel(), this);
    version->setObjectName(QStringLiteral("Label2"));
    auto* exit = new QPushButton(QStringLiteral("Exit"), this);
    exit->setObjectName(QStringLiteral("Command0"));
    connect(exit, &QPushButton::clicked, this, &QWidget::close);
    bottom->addWidget(version, 1);
    bottom->addWidget(exit);
    outer->addLayout(bottom);
}

void ResetForm::centre()
{
    adjustSize();
    const QScreen* s = screen();
    if (!s) return;
    const QRect r = s->availableGeometry();
    move(r.left() + (r.width() - frameGeometry().width()) / 2, r.top() + (r.height() - frameGeometry().height()) / 2);
}

void ResetForm::reset(Group g)
{
    messenger_(resetGroup(store_, g));
}

} // namespace skyvane::reset
