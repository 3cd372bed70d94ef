#include "GraphOutputs.h"

#include "GraphImages.h"

namespace skyvane::outputs {

GraphOutputs::GraphOutputs(QObject* parent) : QObject(parent) {}
GraphOutputs::~GraphOutputs() = default;

void GraphOutputs::setPipeline(GraphPipeline* pipeline)
{
    if (pipeline_) disconnect(pipeline_, nullptr, this, nullptr);
    pipeline_ = pipeline;
    if (pipeline_) connect(pipeline_, &GraphPipeline::finished, this, &GraphOutputs::received, Qt::QueuedConnection);
}

bool GraphOutputs::cycle(const HistorySample& sample, const GraphCycleContext& ctx)
{
    if (!counter_.tick(settings_.freq)) return false;
    history_.append(sample, settings_.points);
    ++serial_;
    if (pipeline_) pipeline_->submit(makeJob(ctx));
    return true;
}

GraphJob GraphOutputs::makeJob(const GraphCycleContext& ctx) const
{
    static const conditions::LevelConfig defaults = conditions::LevelConfig::defaults();
    const conditions::LevelConfig& levels = ctx.levels ? *ctx.levels : defaults;
    GraphJob job;
    job.serial = serial_;
    job.format = imageFormat(settings_.png);
    job.flags = imageFlags(settings_.png, settings_.quality);
    const qint64 span = spanSeconds(ctx.readIntervalSeconds);
    for (GraphId g : kAllGraphs) {
        if (!settings_.generate[g]) continue;
        job.scenes.push_back(makeScene(g, history_, settings_, levels, span, pictureSize_));
        if (ctx.imageBoxes[g]) job.files[g] = imageFileName(ctx.imageFolder, g, settings_.png);
    }
    return job;
}

int GraphOutputs::setPoints(double typed)
{
    settings_.points = clampGraphPoints(typed);
    if (settings_.points != history_.slotBound()) history_.clear();
    return settings_.points;
}

int GraphOutputs::setFreq(double typed)
{
    settings_.freq = clampGraphFreq(typed);
    return settings_.freq;
}

qint64 GraphOutputs::spanSeconds(int readIntervalSeconds) const
{
    return graphSpanSeconds(settings_.points, settings_.freq, readIntervalSeconds);
}

void GraphOutputs::received(std::shared_ptr<const GraphJobResult> r)
{
    // A late result of an older sample must not hide a newer one.
    if (r->serial < shown_) return;
    shown_ = r->serial;
    for (int g = 0; g < GraphCount; ++g)
        if (!r->images[size_t(g)].isNull()) pictures_[size_t(g)] = r->images[size_t(g)];
    emit picturesChanged();
    // The state of the image files stands until a later sample says
    // otherwise: a sample that wrote none says nothing.
    bool wroteAny = false;
    for (const auto& o : r->saved) wroteAny = wroteAny || o.has_value();
    if (r->anyFailed()) emit imageProblem(r->libraryMissing() ? QStringLiteral("i23 i24") : QStringLiteral("i23"));
    else if (wroteAny) emit imageProblem(QString());
}

} // namespace skyvane::outputs
