#include "XOBWindPars.h"

#include "XOBGetNumber.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <QtMath>

namespace skyvane::conditions {

// ---- the compass rose ----------------------------------------------------------

SectorDiagram::SectorDiagram(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Diagram"));
    setMinimumSize(200, 200);
    setToolTip(tr("Drag with the left button to move the start of the sector, "
                  "with the right button to move its end"));
    setContextMenuPolicy(Qt::PreventContextMenu);
}

void SectorDiagram::setSector(int from, int to)
{
    from_ = from;
    to_ = to;
    update();
}

void SectorDiagram::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), palette().base());
    const QFontMetrics fm(font());
    const int margin = fm.height() + 6;
    const int side = std::min(width(), height()) - 2 * margin;
    if (side < 20) return;
    const QPointF c(width() / 2.0, height() / 2.0);
    const double r = side / 2.0;
    const QRectF circle(c.x() - r, c.y() - r, 2 * r, 2 * r);

    // A compass direction a (degrees from north, clockwise) as a point at
    // distance d from the centre.
    auto at = [&](double a, double d) {
        const double rad = qDegreesToRadians(a);
        return QPointF(c.x() + d * std::sin(rad), c.y() - d * std::cos(rad));
    };

    // The sector: Qt counts from three o'clock, anticlockwise.
    const int span = to_ - from_;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 160, 96, 200));
    if (span > 0) p.drawPie(circle, int((90 - from_) * 16), -span * 16);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(palette().text().color(), 1));
    p.drawEllipse(circle);
    for (int a = 0; a < 360; a += 30) p.drawLine(at(a, r), at(a, a % 90 == 0 ? r * 0.85 : r * 0.93));
    static const char* const names[4] = {"N", "E", "S", "W"};
    for (int i = 0; i < 4; ++i) {
        const QString n = QString::fromLatin1(names[i]);
        const QPointF q = at(i * 90, r * 0.72);
        p.drawText(QRectF(q.x() - 10, q.y() - 10, 20, 20), Qt::AlignCenter, n);
    }

    // The two edges, and their angles written outside the circle.
    p.setPen(QPen(QColor(0, 90, 200), 2));
    p.drawLine(c, at(from_, r));
    p.setPen(QPen(QColor(200, 40, 0), 2));
    p.drawLine(c, at(to_, r));
    // Each angle is written just outside its own edge, on the side away from
    // the sector, so that two edges close together keep their texts apart.
    auto label = [&](int a, double aside, const QColor& colour, bool nudge) {
        const QString t = QString::number(a) + QChar(0x00B0);
        const QPointF q = at(a + aside, r + margin / 2.0 + (nudge ? fm.height() * 0.8 : 0));
        const QRectF box(q.x() - fm.horizontalAdvance(t) / 2.0 - 2, q.y() - fm.height() / 2.0,
                         fm.horizontalAdvance(t) + 4, fm.height());
        p.setPen(colour);
        p.drawText(box.translated(std::clamp(0.0, -box.left(), width() - box.right()),
                                  std::clamp(0.0, -box.top(), height() - box.bottom())),
                   Qt::AlignCenter, t);
    };
    const int apart = std::abs(((to_ - from_) % 360 + 360) % 360);
    const bool close = apart < 25 || apart > 335;
    label(from_, -8, QColor(0, 90, 200), false);
    label(to_, 8, QColor(200, 40, 0), close);
}

void SectorDiagram::mousePressEvent(QMouseEvent* e)
{
    if (button_ != Qt::NoButton) return;
    if (e->button() != Qt::LeftButton && e->button() != Qt::RightButton) return;
    button_ = e->button();
    emit pressed(button_, int(e->position().x()));
}

void SectorDiagram::mouseMoveEvent(QMouseEvent* e)
{
    if (button_ != Qt::NoButton && (e->buttons() & button_)) emit dragged(int(e->position().x()));
}

void SectorDiagram::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != button_) return;
    button_ = Qt::NoButton;
    emit released();
}

// ---- the editor -----------------------------------------------------------------

XOBWindPars::XOBWindPars(const QString& sectorText, const QString& title, QWidget* parent)
    : QDialog(parent), edit_(SectorEdit::fromText(sectorText))
{
    setObjectName(QStringLiteral("XOBWindPars"));
    setWindowTitle(title.isEmpty() ? tr("Direction sector") : tr("Direction sector - %1").arg(title));
    auto* layout = new QVBoxLayout(this);

    auto* label1 = new QLabel(tr("Unsafe only while the direction stays in the sector (clockwise from From "
                                 "to To) for the given minutes. Drag on the rose: left button From, "
                                 "right button To."), this);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->setWordWrap(true);
    layout->addWidget(label1);

    diagram_ = new SectorDiagram(this);
    layout->addWidget(diagram_, 1);

    auto* g = new QGridLayout;
    sliderFrom_ = new QSlider(Qt::Horizontal, this);
    sliderFrom_->setObjectName(QStringLiteral("SliderFrom"));
    sliderFrom_->setRange(-359, 359);
    sliderFrom_->setTickPosition(QSlider::TicksBelow);
    sliderFrom_->setTickInterval(90);
    sliderFrom_->setPageStep(10);
    // The to slider holds the negated direction; drawn the other way round
    // so that both grow to the right.
    sliderTo_ = new QSlider(Qt::Horizontal, this);
    sliderTo_->setObjectName(QStringLiteral("SliderTo"));
    sliderTo_->setRange(-359, 0);
    sliderTo_->setInvertedAppearance(true);
    sliderTo_->setInvertedControls(true);
    sliderTo_->setTickPosition(QSlider::TicksBelow);
    sliderTo_->setTickInterval(90);
    sliderTo_->setPageStep(10);
    fromText_ = new QLabel(this);
    toText_ = new QLabel(this);
    for (QLabel* l : {fromText_, toText_}) {
        l->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("-359°")) + 6);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    g->addWidget(new QLabel(tr("From"), this), 0, 0);
    g->addWidget(sliderFrom_, 0, 1);
    g->addWidget(fromText_, 0, 2);
    g->addWidget(new QLabel(tr("To"), this), 1, 0);
    g->addWidget(sliderTo_, 1, 1);
    g->addWidget(toText_, 1, 2);
    duration_ = new XOBGetNumber(this);
    duration_->setObjectName(QStringLiteral("Duration"));
    duration_->setDigitsMostSignificant(2);
    duration_->setDigitsDecimal(0);
    duration_->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("000")) + 16);
    duration_->setValue(edit_.minutes());
    auto* dl = new QHBoxLayout;
    dl->addWidget(duration_);
    dl->addWidget(new QLabel(tr("minutes"), this));
    dl->addStretch();
    g->addWidget(new QLabel(tr("Duration"), this), 2, 0);
    g->addLayout(dl, 2, 1, 1, 2);
    layout->addLayout(g);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ButtOK"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("ButtCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &XOBWindPars::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &XOBWindPars::reject);
    layout->addWidget(buttons);

    connect(sliderFrom_, &QSlider::valueChanged, this, [this](int v) {
        if (busy_) return;
        edit_.moveFrom(v);
        showSector();
        putSlidersBack();
    });
    connect(sliderTo_, &QSlider::valueChanged, this, [this](int v) {
        if (busy_) return;
        edit_.moveTo(v);
        showSector();
        putSlidersBack();
    });
    // One degree per pixel of horizontal movement.
    connect(diagram_, &SectorDiagram::pressed, this, [this](Qt::MouseButton b, int x) {
        dragButton_ = b;
        dragX_ = x;
        dragStart_ = edit_;
    });
    connect(diagram_, &SectorDiagram::dragged, this, [this](int x) {
        if (dragButton_ == Qt::LeftButton) edit_.dragFrom(dragStart_, x - dragX_);
        else if (dragButton_ == Qt::RightButton) edit_.dragTo(dragStart_, x - dragX_);
        showSector();
    });
    connect(diagram_, &SectorDiagram::released, this, [this] {
        dragButton_ = Qt::NoButton;
        putSlidersBack();
    });

    putSlidersBack();
    showSector();
}

void XOBWindPars::showSector()
{
    diagram_->setSector(edit_.from(), edit_.to());
    fromText_->setText(QString::number(edit_.from()) + QChar(0x00B0));
    toText_->setText(QString::number(edit_.to()) + QChar(0x00B0));
}

void XOBWindPars::putSlidersBack()
{
    busy_ = true;
    sliderFrom_->setValue(edit_.from());
    sliderTo_->setValue(-edit_.to());
    busy_ = false;
}

void XOBWindPars::accept()
{
    edit_.setMinutes(int(duration_->value()));
    result_ = edit_.acceptedText();
    QDialog::accept();
}

} // namespace skyvane::conditions
