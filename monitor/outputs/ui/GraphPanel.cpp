#include "GraphPanel.h"

#include "GraphRenderer.h"
#include "MonitorApi.h"
#include "XOBColor.h"
#include "XOBGetNumber.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QRadioButton>
#include <QVBoxLayout>

namespace skyvane::outputs {

namespace {
int configImageIndex(GraphId g) { return kImageOfGraph[g]; }

QString graphCaption(GraphId g) { return QString::fromLatin1(kGraphFacts[g].caption); }

void paintBox(QLabel* l, int stored)
{
    const QColor c = storedColour(stored);
    l->setStyleSheet(QStringLiteral("background-color: %1; border: 1px solid black;").arg(c.name()));
}
} // namespace

GraphPanel::GraphPanel(MonitorApi& core, QWidget* parent) : QWidget(parent), core_(core)
{
    setObjectName(QStringLiteral("GraphPanel"));
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(4);

    auto* settingsRow = new QHBoxLayout;
    points_ = new XOBGetNumber;
    points_->setObjectName(QStringLiteral("GraphNoPoints"));
    points_->setDigitsMostSignificant(4); // what is typed is held to 20..2000 when the field is left
    points_->setDigitsDecimal(0);
    points_->setMaximumWidth(64);
    freq_ = new XOBGetNumber;
    freq_->setObjectName(QStringLiteral("GraphFreq"));
    freq_->setDigitsMostSignificant(4);
    freq_->setDigitsDecimal(0);
    freq_->setMaximumWidth(64);
    span_ = new QLabel;
    span_->setObjectName(QStringLiteral("GraphSpan"));
    spanDesc_ = new QLabel;
    spanDesc_->setObjectName(QStringLiteral("GraphSpanDesc"));
    imageType_ = new QCheckBox;
    imageType_->setObjectName(QStringLiteral("ImageType"));
    qualityLabel_ = new QLabel(QStringLiteral("Quality"));
    auto* qualityGroup = new QButtonGroup(this);
    const char* qualities[3] = {"Top", "Good", "Normal"};
    settingsRow->addWidget(new QLabel(QStringLiteral("Points")));
    settingsRow->addWidget(points_);
    settingsRow->addWidget(new QLabel(QStringLiteral("every")));
    settingsRow->addWidget(freq_);
    settingsRow->addWidget(new QLabel(QStringLiteral("reads  Span")));
    settingsRow->addWidget(span_);
    settingsRow->addWidget(new QLabel(QStringLiteral("s =")));
    settingsRow->addWidget(spanDesc_);
    settingsRow->addSpacing(12);
    settingsRow->addWidget(imageType_);
    settingsRow->addWidget(qualityLabel_);
    for (int i = 0; i < 3; ++i) {
        quality_[size_t(i)] = new QRadioButton(QString::fromLatin1(qualities[i]));
        quality_[size_t(i)]->setObjectName(QStringLiteral("ImageQuality_%1").arg(i));
        qualityGroup->addButton(quality_[size_t(i)], i);
        settingsRow->addWidget(quality_[size_t(i)]);
    }
    settingsRow->addStretch();
    root->addLayout(settingsRow);
    locked_ << points_ << freq_ << imageType_ << quality_[0] << quality_[1] << quality_[2];

    auto* grid = new QGridLayout;
    grid->setSpacing(6);
    const QSize picture = core_.graphs().pictureSize();
    for (GraphId g : kAllGraphs) {
        auto* cell = new QVBoxLayout;
        cell->setSpacing(1);
        auto* head = new QHBoxLayout;
        head->setSpacing(3);
        const QString suffix = graphSuffix(g);
        generate_[g] = new QCheckBox(graphCaption(g));
        generate_[g]->setObjectName(QStringLiteral("GraphGenerate") + suffix);
        image_[g] = new QCheckBox(QStringLiteral("Image"));
        image_[g]->setObjectName(QStringLiteral("GraphImage") + suffix);
        head->addWidget(generate_[g]);
        head->addWidget(image_[g]);
        head->addStretch();
        const char* tips[3] = {"Axis and text colour", "Curve colour", "Background colour"};
        for (int b = 0; b < (g == GraphDir ? 3 : 2); ++b) {
            auto* box = new QLabel;
            box->setObjectName(QStringLiteral("GraphColor%1_%2").arg(suffix).arg(b));
            box->setFixedSize(14, 14);
            box->setToolTip(QString::fromLatin1(tips[b]));
            box->installEventFilter(this);
            colours_[g][size_t(b)] = box;
            head->addWidget(box);
            locked_ << box;
        }
        panes_[g] = new QLabel;
        panes_[g]->setObjectName(QStringLiteral("Graph") + suffix);
        panes_[g]->setFixedSize(picture);
        cell->addLayout(head);
        cell->addWidget(panes_[g]);
        grid->addLayout(cell, int(g) / 2, int(g) % 2);
        locked_ << generate_[g] << image_[g];
        connect(generate_[g], &QCheckBox::clicked, this, [this, g](bool on) { generateClicked(g, on); });
        connect(image_[g], &QCheckBox::clicked, this, [this, g](bool on) { imageClicked(g, on); });
    }
    root->addLayout(grid);
    root->addStretch();

    // Typed numbers count when the field is left or Return is pressed.
    connect(points_, &XOBGetNumber::validate, this, [this](bool&) {
        if (!points_->isUserEdited()) return;
        int points = 0;
        core_.editGraphs([&](GraphOutputs& g) { points = g.setPoints(points_->value()); });
        points_->setValue(points);
        showSpan();
    });
    connect(freq_, &XOBGetNumber::validate, this, [this](bool&) {
        if (!freq_->isUserEdited()) return;
        int freq = 0;
        core_.editGraphs([&](GraphOutputs& g) { freq = g.setFreq(freq_->value()); });
        freq_->setValue(freq);
        showSpan();
    });
    connect(imageType_, &QCheckBox::clicked, this, [this](bool on) {
        core_.editGraphs([on](GraphOutputs& g) { g.settings().png = on; });
        applyImageType();
    });
    connect(qualityGroup, &QButtonGroup::idClicked, this,
            [this](int id) { core_.editGraphs([id](GraphOutputs& g) { g.settings().quality = JpegQuality(id); }); });
    connect(&core_.graphs(), &GraphOutputs::picturesChanged, this, &GraphPanel::showPictures);
    render();
    drawNow();
}

void GraphPanel::render()
{
    rendering_ = true;
    const GraphSettings& s = core_.graphs().settings();
    const MonitorConfig& c = core_.config();
    const bool editable = core_.state().setupEnabled;
    for (QWidget* w : locked_) w->setEnabled(editable);
    points_->showValue(s.points);
    freq_->showValue(s.freq);
    for (GraphId g : kAllGraphs) {
        generate_[g]->setChecked(s.generate[g]);
        image_[g]->setChecked(c.graphImage[size_t(configImageIndex(g))]);
        image_[g]->setEnabled(editable && core_.graphImageUsable(configImageIndex(g)));
        panes_[g]->setVisible(s.generate[g]);
        for (int b = 0; b < 3; ++b)
            if (colours_[g][size_t(b)]) paintBox(colours_[g][size_t(b)], s.colours[g][size_t(b)]);
    }
    imageType_->setChecked(s.png);
    if (s.quality != JpegQuality::None) {
        quality_[size_t(s.quality)]->setChecked(true);
    } else if (QButtonGroup* group = quality_[0]->group()) {
        // none selected: an exclusive group can not show that by itself
        group->setExclusive(false);
        for (QRadioButton* b : quality_) b->setChecked(false);
        group->setExclusive(true);
    }
    applyImageType();
    showSpan();
    rendering_ = false;
}

void GraphPanel::applyImageType()
{
    const bool png = imageType_->isChecked();
    imageType_->setText(png ? QStringLiteral("Image PNG") : QStringLiteral("Image JPEG"));
    qualityLabel_->setVisible(!png);
    for (QRadioButton* b : quality_) b->setVisible(!png);
}

void GraphPanel::showSpan()
{
    const qint64 span = core_.graphs().spanSeconds(int(core_.config().readIntervalMs() / 1000));
    span_->setText(QString::number(span));
    spanDesc_->setText(graphSpanText(span));
}

void GraphPanel::generateClicked(GraphId g, bool on)
{
    core_.setGraphGenerate(g, on);
    render();
    emit configEdited();
}

void GraphPanel::imageClicked(GraphId g, bool on)
{
    core_.setGraphImage(configImageIndex(g), on);
    render();
    emit configEdited();
}

void GraphPanel::chooseColour(GraphId g, int box)
{
    conditions::LevelStyle style{QString(), core_.graphs().settings().colours[g][size_t(box)]};
    conditions::XOBColor dialog(style, this);
    if (dialog.exec() != QDialog::Accepted) return;
    const int colour = dialog.result().colour;
    core_.editGraphs([g, box, colour](GraphOutputs& out) { out.settings().colours[g][size_t(box)] = colour; });
    render();
    // used from the next drawing on; a stopped monitor shows it at once
    if (!core_.isRunning()) drawNow();
}

bool GraphPanel::eventFilter(QObject* o, QEvent* e)
{
    if (e->type() == QEvent::MouseButtonRelease) {
        for (GraphId g : kAllGraphs)
            for (int b = 0; b < 3; ++b)
                if (o == colours_[g][size_t(b)] && colours_[g][size_t(b)]->isEnabled()) {
                    chooseColour(g, b);
                    return true;
                }
    }
    return QWidget::eventFilter(o, e);
}

void GraphPanel::showPictures()
{
    const auto& pictures = core_.graphs().pictures();
    for (GraphId g : kAllGraphs)
        if (!pictures[g].isNull()) panes_[g]->setPixmap(QPixmap::fromImage(pictures[g]));
}

void GraphPanel::drawNow()
{
    // The panes before the first sample: bands, axes and frame of the
    // history as it is (empty at start).
    const GraphOutputs& graphs = core_.graphs();
    const qint64 span = graphs.spanSeconds(int(core_.config().readIntervalMs() / 1000));
    for (GraphId g : kAllGraphs) {
        const GraphScene s = makeScene(g, graphs.history(), graphs.settings(), core_.conditionsConfig().levels, span,
                                       graphs.pictureSize());
        panes_[g]->setPixmap(QPixmap::fromImage(renderGraph(s)));
    }
}

} // namespace skyvane::outputs
