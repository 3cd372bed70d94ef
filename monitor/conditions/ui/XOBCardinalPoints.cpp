#include "XOBCardinalPoints.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace skyvane::conditions {

XOBCardinalPoints::XOBCardinalPoints(const CompassTable& table, QWidget* parent) : QDialog(parent), result_(table)
{
    setWindowTitle(tr("Cardinal points"));
    auto* grid = new QGridLayout(this);
    for (int i = 0; i < 16; ++i) {
        auto* e = new QLineEdit(table.get(i + 1), this);
        e->setObjectName(QStringLiteral("Symbol%1").arg(i));
        e->installEventFilter(this);
        connect(e, &QLineEdit::textChanged, this, [e](const QString& t) {
            const QString up = t.toUpper();
            if (up == t) return;
            const int pos = e->cursorPosition();
            e->setText(up);
            e->setCursorPosition(pos);
        });
        const int row = i % 8;
        const int col = (i / 8) * 2;
        grid->addWidget(new QLabel(QStringLiteral("%1\u00B0").arg(i * 22.5), this), row, col);
        grid->addWidget(e, row, col + 1);
        symbols_[std::size_t(i)] = e;
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ButtOK"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("ButtCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &XOBCardinalPoints::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &XOBCardinalPoints::reject);
    grid->addWidget(buttons, 8, 0, 1, 4);
}

bool XOBCardinalPoints::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn)
        if (auto* e = qobject_cast<QLineEdit*>(watched))
            // After the focus change has finished placing the cursor.
            QTimer::singleShot(0, e, &QLineEdit::selectAll);
    return QDialog::eventFilter(watched, event);
}

void XOBCardinalPoints::accept()
{
    for (int i = 0; i < 16; ++i) result_.set(i + 1, symbols_[std::size_t(i)]->text());
    QDialog::accept();
}

} // namespace skyvane::conditions
