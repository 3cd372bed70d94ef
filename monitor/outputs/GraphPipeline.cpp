#include "GraphPipeline.h"

#include "GraphRenderer.h"

#include <atomic>
#include <chrono>

namespace skyvane::outputs {

bool GraphJobResult::anyFailed() const
{
    for (const auto& s : saved)
        if (s && *s != SaveOutcome::Saved) return true;
    return false;
}

bool GraphJobResult::libraryMissing() const
{
    for (const auto& s : saved)
        if (s && *s == SaveOutcome::NoLibrary) return true;
    return false;
}

qint64 GraphPipeline::nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

GraphPipeline::GraphPipeline(const FreeImageLibrary* library, int workers, QObject* parent)
    : QObject(parent), library_(library), workers_(std::max(1, workers))
{
    qRegisterMetaType<std::shared_ptr<const GraphJobResult>>();
    helpers_.setMaxThreadCount(std::max(1, workers_ - 1));
    helpers_.setExpiryTimeout(-1);
    thread_ = std::thread([this] { run(); });
}

GraphPipeline::~GraphPipeline()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        pending_.reset();
    }
    wake_.notify_all();
    thread_.join();
    helpers_.waitForDone();
}

void GraphPipeline::submit(GraphJob job)
{
    if (!job.submittedNs) job.submittedNs = nowNs();
    {
        std::lock_guard lock(mutex_);
        if (pending_) ++replaced_;
        pending_ = std::move(job);
    }
    wake_.notify_all();
}

void GraphPipeline::waitIdle()
{
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !busy_ && !pending_; });
}

quint64 GraphPipeline::replaced() const
{
    std::lock_guard lock(mutex_);
    return replaced_;
}

quint64 GraphPipeline::completed() const
{
    std::lock_guard lock(mutex_);
    return completed_;
}

void GraphPipeline::run()
{
    for (;;) {
        GraphJob job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || pending_.has_value(); });
            if (quit_) break;
            job = std::move(*pending_);
            pending_.reset();
            busy_ = true;
        }
        auto result = std::make_shared<GraphJobResult>(process(job));
        // Delivered before the pipeline counts as idle, so that whoever waited
        // for it finds the result already posted.
        emit finished(result);
        {
            std::lock_guard lock(mutex_);
            busy_ = false;
            ++completed_;
        }
        idle_.notify_all();
    }
    std::lock_guard lock(mutex_);
    busy_ = false;
    idle_.notify_all();
}

GraphJobResult GraphPipeline::process(const GraphJob& job)
{
    GraphJobResult r;
    r.serial = job.serial;
    r.submittedNs = job.submittedNs;
    // The graphs of one job are shared out between the workers; each graph
    // writes its own file, so they never meet.
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < job.scenes.size();) {
            const GraphScene& s = job.scenes[i];
            QImage img = renderGraph(s);
            const QString& file = job.files[s.id];
            if (!file.isEmpty()) r.saved[s.id] = saveGraphImage(library_, img, file, job.format, job.flags);
            r.images[s.id] = std::move(img);
        }
    };
    const int extra = std::min<int>(workers_ - 1, int(job.scenes.size()) - 1);
    std::mutex doneMutex;
    std::condition_variable doneWake;
    int running = extra;
    for (int i = 0; i < extra; ++i)
        helpers_.start([&] {
            work();
            std::lock_guard lock(doneMutex);
            if (--running == 0) doneWake.notify_all();
        });
    work();
    std::unique_lock lock(doneMutex);
    doneWake.wait(lock, [&] { return running == 0; });
    r.finishedNs = nowNs();
    return r;
}

} // namespace skyvane::outputs
