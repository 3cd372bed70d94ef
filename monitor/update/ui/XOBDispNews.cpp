#include "XOBDispNews.h"

#include "SettingsStore.h"
#include "UpdateCheck.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

namespace skyvane::update {

XOBDispNews::XOBDispNews(SettingsStore& store, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), store_(store)
{
    setObjectName(QStringLiteral("XOBDispNews"));
    setWindowTitle(QStringLiteral("Important Information"));
    auto* layout = new QVBoxLayout(this);
    lblMsg_ = new QLabel(this);
    lblMsg_->setObjectName(QStringLiteral("LblMsg"));
    // The text comes from a server: never markup, never links.
    lblMsg_->setTextFormat(Qt::PlainText);
    lblMsg_->setWordWrap(true);
    lblMsg_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblMsg_->setMargin(6);
    lblMsg_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(lblMsg_);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    layout->addWidget(scroll, 1);
    chckMsg_ = new QCheckBox(QStringLiteral("Discard this message"), this);
    chckMsg_->setObjectName(QStringLiteral("ChckMsg"));
    layout->addWidget(chckMsg_);
}

void XOBDispNews::newsShow(const QString& text)
{
    lblMsg_->setText(displayText(text));
    // Fit the window to the text, within the screen.
    const QFontMetrics fm(lblMsg_->font());
    const QRect need = fm.boundingRect(QRect(0, 0, 480, 100000), Qt::TextWordWrap, lblMsg_->text());
    const QRect avail = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
    resize(qBound(320, need.width() + 60, avail.width() * 2 / 3), qBound(140, need.height() + 90, avail.height() * 2 / 3));
    show();
    raise();
    activateWindow();
}

QString XOBDispNews::shownText() const { return lblMsg_->text(); }

void XOBDispNews::closeEvent(QCloseEvent* e)
{
    if (chckMsg_->isChecked()) {
        store_.save(QStringLiteral("XOB_Skyvane"), QStringLiteral("Window"), QStringLiteral("XOB_News"), QString());
        store_.sync();
        emit discarded();
    }
    QWidget::closeEvent(e);
}

} // namespace skyvane::update
