#include "XOBColor.h"

#include "Clock.h"
#include "Colours.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace skyvane::conditions {

namespace {
QString cssColour(int bgr)
{
    return QStringLiteral("#%1%2%3")
        .arg(colour::red(bgr), 2, 16, QLatin1Char('0'))
        .arg(colour::green(bgr), 2, 16, QLatin1Char('0'))
        .arg(colour::blue(bgr), 2, 16, QLatin1Char('0'));
}

// A swatch that reports double clicks.
class Swatch : public QPushButton {
public:
    Swatch(std::function<void()> onDouble, QWidget* parent) : QPushButton(parent), onDouble_(std::move(onDouble)) {}

protected:
    void mouseDoubleClickEvent(QMouseEvent* e) override
    {
        if (e->button() == Qt::LeftButton) onDouble_();
    }

private:
    std::function<void()> onDouble_;
};
} // namespace

std::vector<int> colourPalette()
{
    using colour::rgb;
    return {colour::LightGreen, colour::LightYellow, colour::LightOrange, rgb(255, 192, 192), rgb(192, 255, 255),
            rgb(192, 192, 255),  rgb(255, 192, 255),   rgb(255, 255, 255),   rgb(224, 224, 224), rgb(128, 255, 128),
            rgb(255, 255, 128),  rgb(255, 128, 64),    rgb(255, 128, 128),   rgb(128, 255, 255), rgb(128, 128, 255),
            rgb(0, 192, 0),      rgb(255, 255, 0),     rgb(255, 0, 0),       rgb(0, 255, 255),   rgb(0, 0, 255)};
}

XOBColor::XOBColor(const LevelStyle& style, QWidget* parent, Clock* clock)
    : QDialog(parent), palette_(colourPalette()), result_(style)
{
    setWindowTitle(tr("Colour and description"));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    layout->addLayout(grid);

    for (std::size_t i = 0; i < palette_.size(); ++i)
        if (palette_[i] == style.colour) current_ = int(i);
    if (current_ < 0) {
        // A colour set by a client may not be in the palette: offer it too.
        palette_.push_back(style.colour);
        current_ = int(palette_.size() - 1);
    }
    for (std::size_t i = 0; i < palette_.size(); ++i) {
        auto* b = new Swatch([this, i] { applySwatchAtOnce(int(i)); }, this);
        b->setFixedSize(28, 22);
        connect(b, &QPushButton::clicked, this, [this, i] { selectSwatch(int(i)); });
        grid->addWidget(b, int(i) / 5, int(i) % 5);
        swatches_.push_back(b);
    }

    layout->addWidget(new QLabel(tr("Description"), this));
    description_ = new QLineEdit(style.description, this);
    description_->setObjectName(QStringLiteral("Description"));
    layout->addWidget(description_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ButtOK"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("ButtCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &XOBColor::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &XOBColor::reject);
    layout->addWidget(buttons);

    selected_ = current_;
    if (!clock) {
        ownClock_ = std::make_unique<SystemClock>();
        clock = ownClock_.get();
    }
    blink_ = clock->createTimer();
    blink_->setCallback([this] {
        blinkOn_ = !blinkOn_;
        refreshFrames();
    });
    blink_->setInterval(400);
    blink_->start();
    refreshFrames();
}

XOBColor::~XOBColor() = default;

void XOBColor::refreshFrames()
{
    for (std::size_t i = 0; i < swatches_.size(); ++i) {
        QString border = QStringLiteral("1px solid gray");
        if (int(i) == selected_) border = QStringLiteral("3px solid black");
        if (int(i) == current_ && !blinkOn_) border = QStringLiteral("3px solid white");
        swatches_[i]->setStyleSheet(
            QStringLiteral("background-color: %1; border: %2;").arg(cssColour(palette_[i]), border));
    }
}

void XOBColor::selectSwatch(int index)
{
    if (index < 0 || index >= int(palette_.size())) return;
    selected_ = index;
    refreshFrames();
}

void XOBColor::applySwatchAtOnce(int index)
{
    if (index < 0 || index >= int(palette_.size())) return;
    selected_ = index;
    result_.colour = palette_[std::size_t(index)];
    result_.description = description_->text().trimmed();
    markFollows_ = false;
    QDialog::accept();
}

void XOBColor::accept()
{
    if (selected_ >= 0) result_.colour = palette_[std::size_t(selected_)];
    result_.description = description_->text().trimmed();
    markFollows_ = true;
    QDialog::accept();
}

} // namespace skyvane::conditions
