#pragma once
// Draws the graph pictures and writes their image files on worker threads,
// so that a sample costs the user-interface thread only the copy of the
// scenes. One job runs at a time; a job that arrives while one runs waits in
// a single place, and a newer one replaces it (the newest sample wins).
// Results come back as a queued signal on the pipeline's own thread.

#include "GraphGeometry.h"
#include "GraphImages.h"

#include <QImage>
#include <QObject>
#include <QThreadPool>
#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace skyvane::outputs {

struct GraphJob {
    quint64 serial = 0;
    std::vector<GraphScene> scenes;           // the graphs to draw, in drawing order
    std::array<QString, GraphCount> files;    // image file per graph; empty: no image
    int format = 0;
    int flags = 0;
    qint64 submittedNs = 0;                   // steady-clock time of submission
};

struct GraphJobResult {
    quint64 serial = 0;
    std::array<QImage, GraphCount> images;    // null for graphs not drawn
    std::array<std::optional<SaveOutcome>, GraphCount> saved;
    qint64 submittedNs = 0;
    qint64 finishedNs = 0;                    // all files renamed into place
    bool anyFailed() const;
    bool libraryMissing() const;
};

class GraphPipeline : public QObject {
    Q_OBJECT
public:
    // library may be null or not loaded: images then fail with NoLibrary.
    explicit GraphPipeline(const FreeImageLibrary* library, int workers = 2, QObject* parent = nullptr);
    ~GraphPipeline() override;

    void submit(GraphJob job);
    // Blocks until no job runs or waits (tests, benchmark, exit).
    void waitIdle();
    // Jobs dropped because a newer one replaced them before they started.
    quint64 replaced() const;
    quint64 completed() const;

    static qint64 nowNs();

signals:
    void finished(std::shared_ptr<const GraphJobResult> result);

private:
    void run();
    GraphJobResult process(const GraphJob& job);

    const FreeImageLibrary* library_;
    int workers_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::optional<GraphJob> pending_;
    bool busy_ = false;
    bool quit_ = false;
    quint64 replaced_ = 0;
    quint64 completed_ = 0;
    // Helpers that live as long as the pipeline: each thread keeps its own
    // font cache, which a thread made per job would build again every time.
    QThreadPool helpers_;
    std::thread thread_;
};

} // namespace skyvane::outputs

Q_DECLARE_METATYPE(std::shared_ptr<const skyvane::outputs::GraphJobResult>)
