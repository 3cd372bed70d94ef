#pragma once
// The six graphs on the main window with their controls: the generate and
// image boxes, the colour boxes, the points and period fields with the span
// labels, and the image format. The panes show the pictures the drawing
// pipeline made for the newest sample; nothing is drawn here per sample.

#include "GraphSettings.h"

#include <QWidget>
#include <array>

class QCheckBox;
class QLabel;
class QRadioButton;
class XOBGetNumber;

namespace skyvane {
class MonitorApi;
}

namespace skyvane::outputs {

class GraphPanel : public QWidget {
    Q_OBJECT
public:
    explicit GraphPanel(MonitorApi& core, QWidget* parent = nullptr);

    // Follows the core: locks while monitoring runs, refreshes the span
    // labels and the boxes.
    void render();

    QLabel* pane(GraphId g) const { return panes_[g]; }
    QCheckBox* generateBox(GraphId g) const { return generate_[g]; }
    QCheckBox* imageBox(GraphId g) const { return image_[g]; }
    QLabel* colourBox(GraphId g, int i) const { return colours_[g][size_t(i)]; }
    XOBGetNumber* pointsField() const { return points_; }
    XOBGetNumber* freqField() const { return freq_; }
    QLabel* spanLabel() const { return span_; }
    QLabel* spanDescLabel() const { return spanDesc_; }
    QCheckBox* imageTypeBox() const { return imageType_; }

    // The colour chooser of a colour box (a release of the mouse opens it).
    void chooseColour(GraphId g, int box);

signals:
    // An image box changed the monitor's configuration.
    void configEdited();

protected:
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    void showPictures();
    void drawNow();
    void generateClicked(GraphId g, bool on);
    void imageClicked(GraphId g, bool on);
    void applyImageType();
    void showSpan();

    MonitorApi& core_;
    bool rendering_ = false;
    std::array<QLabel*, GraphCount> panes_{};
    std::array<QCheckBox*, GraphCount> generate_{};
    std::array<QCheckBox*, GraphCount> image_{};
    std::array<std::array<QLabel*, 3>, GraphCount> colours_{};
    XOBGetNumber* points_ = nullptr;
    XOBGetNumber* freq_ = nullptr;
    QLabel* span_ = nullptr;
    QLabel* spanDesc_ = nullptr;
    QCheckBox* imageType_ = nullptr;
    QLabel* qualityLabel_ = nullptr;
    std::array<QRadioButton*, 3> quality_{};
    QList<QWidget*> locked_;
};

} // namespace skyvane::outputs
