#pragma once
// The graphs as the read cycle and the window see them: the history ring,
// the graph settings, the sample counter, and the hand-over of each sample's
// pictures to the drawing pipeline. The read cycle calls cycle() once per
// cycle; the rest happens on the pipeline's threads, and the pictures and
// any image problem come back here on this object's thread.

#include "GraphGeometry.h"
#include "GraphHistory.h"
#include "GraphPipeline.h"
#include "GraphSettings.h"

#include <QObject>
#include <array>

namespace skyvane::outputs {

// What a sample takes from the rest of the monitor besides its values.
struct GraphCycleContext {
    const conditions::LevelConfig* levels = nullptr;
    int readIntervalSeconds = 10;
    QString imageFolder;                           // GraphImagePath
    std::array<bool, GraphCount> imageBoxes{};     // GraphImageWind ... in graph order
};

class GraphOutputs : public QObject {
    Q_OBJECT
public:
    explicit GraphOutputs(QObject* parent = nullptr);
    ~GraphOutputs() override;

    GraphHistory& history() { return history_; }
    const GraphHistory& history() const { return history_; }
    GraphSettings& settings() { return settings_; }
    const GraphSettings& settings() const { return settings_; }
    SampleCounter& counter() { return counter_; }

    // Where the pictures are drawn; without one a sample only fills the ring.
    void setPipeline(GraphPipeline* pipeline);
    GraphPipeline* pipeline() const { return pipeline_; }
    void setPictureSize(QSize s) { pictureSize_ = s; }
    QSize pictureSize() const { return pictureSize_; }

    // One read cycle: samples every graph period; true when it sampled.
    bool cycle(const HistorySample& sample, const GraphCycleContext& ctx);

    // GraphNoPoints typed: the value the field shows afterwards. A value
    // that differs from the ring's size clears the history.
    int setPoints(double typed);
    // GraphFreq typed: the value the field shows afterwards.
    int setFreq(double typed);
    qint64 spanSeconds(int readIntervalSeconds) const;

    // The scenes of the enabled graphs for the current history.
    GraphJob makeJob(const GraphCycleContext& ctx) const;

    // The newest pictures (null for graphs not drawn yet).
    const std::array<QImage, GraphCount>& pictures() const { return pictures_; }
    quint64 samples() const { return serial_; }

signals:
    // New pictures arrived from the pipeline.
    void picturesChanged();
    // Writing images failed for the newest sample: "i23", or "i23 i24" when
    // the image library is missing; empty once a sample's images were all
    // written again.
    void imageProblem(const QString& codes);

private:
    void received(std::shared_ptr<const GraphJobResult> r);

    GraphHistory history_;
    GraphSettings settings_;
    SampleCounter counter_;
    GraphPipeline* pipeline_ = nullptr;
    QSize pictureSize_{300, 130};
    std::array<QImage, GraphCount> pictures_;
    quint64 serial_ = 0;
    quint64 shown_ = 0;
};

} // namespace skyvane::outputs
