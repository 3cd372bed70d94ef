#pragma once
// The sector editor of a wind or gust direction label (DirectionWind(i),
// DirectionGust(i)): two sliders for the from- and to-direction, the minutes
// the direction must stay inside, and a compass rose that shows the sector
// (north at the top, clockwise) and can be dragged: the left button moves
// the from-direction, the right button the to-direction. OK gives the sector
// text; Cancel and Escape leave the label as it was.

#include "SectorEditing.h"

#include <QDialog>
#include <QPoint>

class QLabel;
class QSlider;
class XOBGetNumber;

namespace skyvane::conditions {

// The compass rose with the sector drawn on it.
class SectorDiagram : public QWidget {
    Q_OBJECT
public:
    explicit SectorDiagram(QWidget* parent = nullptr);
    void setSector(int from, int to);
    QSize sizeHint() const override { return {240, 240}; }

signals:
    // A button went down (left or right) at x, a drag moved to x, the
    // button came up.
    void pressed(Qt::MouseButton button, int x);
    void dragged(int x);
    void released();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    int from_ = 0;
    int to_ = 359;
    Qt::MouseButton button_ = Qt::NoButton;
};

class XOBWindPars : public QDialog {
    Q_OBJECT
public:
    // `title` names the label being edited ("Wind - Windy").
    explicit XOBWindPars(const QString& sectorText, const QString& title = QString(), QWidget* parent = nullptr);

    // The text for the label; valid after the dialog was accepted.
    QString sectorText() const { return result_; }
    // The sector as the editor holds it now.
    const SectorEdit& sector() const { return edit_; }

    // For tests and keyboard users.
    QSlider* sliderFrom() const { return sliderFrom_; }
    QSlider* sliderTo() const { return sliderTo_; }
    XOBGetNumber* duration() const { return duration_; }
    SectorDiagram* diagram() const { return diagram_; }

    void accept() override;

private:
    void showSector();
    void putSlidersBack();

    SectorEdit edit_;
    SectorEdit dragStart_;
    int dragX_ = 0;
    Qt::MouseButton dragButton_ = Qt::NoButton;
    bool busy_ = false; // the editor itself is moving the sliders
    QSlider* sliderFrom_ = nullptr;
    QSlider* sliderTo_ = nullptr;
    QLabel* fromText_ = nullptr;
    QLabel* toText_ = nullptr;
    XOBGetNumber* duration_ = nullptr;
    SectorDiagram* diagram_ = nullptr;
    QString result_;
};

} // namespace skyvane::conditions
