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
// A stored colour as a style-sheet colour, "rgb(r,g,b)".
QString cssColour(int bgr);
// Sets a widget's style sheet only when it differs from the one it has:
// re-applying a style sheet repolishes the widget, and the window redraws
// after every read cycle.
void setStyleOnce(QWidget* w, const QString& style);

} // namespace skyvane
