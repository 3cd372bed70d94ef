#include "LampWidget.h"

#include "MainState.h"

#include <QPainter>

namespace skyvane {

QColor toQColor(int bgr) { return QColor(colour::red(bgr), colour::green(bgr), colour::blue(bgr)); }

QString cssColour(int bgr)
{
    return QStringLiteral("rgb(%1,%2,%3)").arg(colour::red(bgr)).arg(colour::green(bgr)).arg(colour::blue(bgr));
}

void setStyleOnce(QWidget* w, const QString& style)
{
    if (w->styleSheet() != style) w->setStyleSheet(style);
}

LampWidget::LampWidget(int lamps, QWidget* parent) : QWidget(parent), lamps_(lamps), c_{colour::Grey, colour::Grey}
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void LampWidget::setColours(int c0, int c1)
{
    if (c_[0] == c0 && c_[1] == c1) return;
    c_[0] = c0;
    c_[1] = c1;
    update();
}

QSize LampWidget::sizeHint() const { return QSize(lamps_ * 16 + 2, 16); }

void LampWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < lamps_; ++i) {
        p.setPen(QPen(QColor(80, 80, 80), 1));
        p.setBrush(toQColor(c_[i] < 0 ? colour::Grey : c_[i]));
        p.drawEllipse(QRectF(1 + i * 16, 2, 12, 12));
    }
}

} // namespace skyvane
