#pragma once
// A lamp pair: two small round lamps that blink alternately.
#include <QWidget>

namespace skyvane {

class LampWidget : public QWidget {
    Q_OBJECT
public:
    explicit LampWidget(int lamps = 2, QWidget* parent = nullptr);
    void setColours(int c0, int c1 = -1);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    int lamps_;
    int c_[2];
};

QColor toQColor(int bgr);

} // namespace skyvane
