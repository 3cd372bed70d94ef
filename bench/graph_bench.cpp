// Graph benchmark: one sampling cycle with six graphs of 2,000 points each,
// images on, PNG and JPEG separately. Prints the time the sample costs the
// calling (user-interface) thread, the wall time from the sample to all six
// files renamed into place, the resident memory over a long run, and - when
// python3 with matplotlib and gnuplot are installed - the time those take to
// draw and save the same six graphs (same size, data, bands and curve) as PNG.
//
//   ./build/bin/graph_bench [samples-per-format] [memory-samples]
#include "BenchUtil.h"
#include "FreeImageLibrary.h"
#include "GraphImages.h"
#include "GraphOutputs.h"
#include "GraphPipeline.h"
#include "GraphRenderer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <vector>

using namespace skyvane;
using namespace skyvane::outputs;

using bench::rssKb;

namespace {
double report(const char* what, std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) { return bench::quantile(v, q); };
    std::printf("  %-36s median %8.3f ms   p90 %8.3f ms   max %8.3f ms\n", what, at(0.5), at(0.9), v.back());
    return at(0.5);
}

const qint64 kT0 = 1'800'000'000'000;

HistorySample sampleAt(int i)
{
    HistorySample s;
    s.timeMs = kT0 + qint64(i) * 10'000;
    const double p = i / 40.0;
    s.row(RowWind) = 12 + 10 * std::sin(p);
    s.row(RowGust) = 17 + 12 * std::sin(p);
    s.row(RowDir) = std::fmod(180 + 150 * std::sin(p / 3) + 360, 360);
    s.row(RowDew) = 4 + 3 * std::cos(p / 2);
    s.row(RowHum) = 70 + 25 * std::sin(p / 3);
    s.row(RowTemp) = 4 + 6 * std::sin(p / 7);
    return s;
}

// The six graphs of the current sample as plain files for the other tools:
// per graph the points (seconds, height in band units 0..3 from the top, or
// degrees), and a line of band colours and captions.
void writeScenes(const QString& dir, const GraphJob& job)
{
    for (const GraphScene& s : job.scenes) {
        QFile f(QStringLiteral("%1/g%2.dat").arg(dir).arg(int(s.id)));
        f.open(QIODevice::WriteOnly);
        QTextStream out(&f);
        for (const auto& [t, v] : s.points) {
            const double x = (t - s.range.t0) / 1000.0;
            const double y = s.kind == GraphKind::Line ? 3.0 - s.scale.y(v, 3.0) : v;
            out << x << ' ' << y << '\n';
        }
        QFile b(QStringLiteral("%1/g%2.band").arg(dir).arg(int(s.id)));
        b.open(QIODevice::WriteOnly);
        QTextStream bo(&b);
        bo << (s.range.t1 - s.range.t0) / 1000.0 << '\n';
        for (int i = 0; i < 3; ++i)
            bo << storedColour(s.bandColours[size_t(i)]).name() << '\n' << (s.bandCaptions[size_t(i)].isEmpty() ? "-" : s.bandCaptions[size_t(i)]) << '\n';
        bo << storedColour(s.curveColour).name() << '\n' << storedColour(s.backColour).name() << '\n';
    }
}

const char* kMatplotlib = R"PY(
import sys, time, os
import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
d, runs = sys.argv[1], int(sys.argv[2])
graphs = []
for g in range(6):
    xs, ys = [], []
    for line in open(f"{d}/g{g}.dat"):
        a, b = line.split()
        xs.append(float(a)); ys.append(float(b))
    band = open(f"{d}/g{g}.band").read().split("\n")
    graphs.append((xs, ys, band))
times = []
for r in range(runs):
    t = time.perf_counter()
    for g, (xs, ys, band) in enumerate(graphs):
        fig = plt.figure(figsize=(3.0, 1.3), dpi=100)
        ax = fig.add_axes([0, 0.1, 1, 0.9])
        span = float(band[0])
        ax.set_xlim(0, span)
        if g == 2:
            ax.set_facecolor(band[8])
            ax.set_ylim(0, 360)
            ax.set_yticks([45 * k for k in range(9)])
            ax.grid(axis="y")
            ax.plot(xs, ys, linestyle="none", marker="s", markersize=1.5, color=band[7])
        else:
            ax.set_ylim(0, 3)
            for i in range(3):
                ax.axhspan(2 - i, 3 - i, color=band[1 + 2 * i])
                ax.text(span / 2, 2.5 - i, band[2 + 2 * i], ha="center", va="center", fontsize=14)
            ax.plot(xs, ys, color=band[7], linewidth=2)
        ax.text(span, 3 if g != 2 else 360, "XOB_Skyvane ", ha="right", va="top", fontsize=8)
        fig.savefig(f"{d}/mpl{g}.png", dpi=100)
        plt.close(fig)
    times.append((time.perf_counter() - t) * 1000)
times.sort()
print(times[len(times) // 2])
)PY";

QString gnuplotScript(const QString& dir, int runs)
{
    QString s;
    QTextStream o(&s);
    o << "set terminal pngcairo size 300,130 font 'sans,7'\nset lmargin 0\nset rmargin 0\nset tmargin 0\nset bmargin 1\n"
      << "set xtics 300 format ''\nunset key\n";
    o << "do for [run=1:" << runs << "] {\n";
    for (int g = 0; g < 6; ++g) {
        QFile b(QStringLiteral("%1/g%2.band").arg(dir).arg(g));
        b.open(QIODevice::ReadOnly);
        const QStringList band = QString::fromUtf8(b.readAll()).split('\n');
        o << "unset object\nunset label\nset output '" << dir << "/gp" << g << ".png'\n";
        o << "set xrange [0:" << band[0] << "]\n";
        if (g == 2) {
            o << "set yrange [0:360]\nset ytics 45\nset grid ytics\n";
            o << "set object 1 rect from graph 0,0 to graph 1,1 fc rgb '" << band[8] << "' behind\n";
            o << "set label 1 'XOB_Skyvane ' at graph 1,0.95 right\n";
            o << "plot '" << dir << "/g2.dat' with points pt 5 ps 0.2 lc rgb '" << band[7] << "'\n";
        } else {
            o << "unset grid\nset yrange [0:3]\nunset ytics\n";
            for (int i = 0; i < 3; ++i) {
                o << "set object " << i + 1 << " rect from graph 0," << (2 - i) / 3.0 << " to graph 1," << (3 - i) / 3.0
                  << " fc rgb '" << band[1 + 2 * i] << "' fs solid behind\n";
                o << "set label " << i + 1 << " '" << band[2 + 2 * i] << "' at graph 0.5," << (2.5 - i) / 3.0 << " center font 'sans,14'\n";
            }
            o << "set label 4 'XOB_Skyvane ' at graph 1,0.95 right\n";
            o << "plot '" << dir << "/g" << g << ".dat' with lines lw 2 lc rgb '" << band[7] << "'\n";
        }
    }
    o << "}\n";
    return s;
}
} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(20, atoi(argv[1])) : 200;
    const int memorySamples = argc > 2 ? std::max(100, atoi(argv[2])) : 10000;
    QTemporaryDir dir;
    FreeImageLibrary library;
    if (!library.initialise(QCoreApplication::applicationDirPath())) {
        std::fprintf(stderr, "FreeImage: %s\n", qPrintable(library.errorString()));
        return 1;
    }
    const conditions::LevelConfig levels = conditions::LevelConfig::defaults();
    GraphCycleContext ctx;
    ctx.levels = &levels;
    ctx.readIntervalSeconds = 10;
    ctx.imageFolder = dir.path();
    ctx.imageBoxes.fill(true);

    std::printf("Six graphs of 2000 points, %dx%d pixels, images on, %d samples per format\n", 300, 130, samples);
    double pngWall = 0;
    for (bool png : {true, false}) {
        GraphPipeline pipeline(&library);
        GraphOutputs graphs;
        graphs.settings().points = 2000;
        graphs.settings().freq = 1;
        graphs.settings().png = png;
        graphs.setPipeline(&pipeline);
        std::mutex m;
        std::vector<double> wall;
        QObject::connect(&pipeline, &GraphPipeline::finished, &pipeline, [&](std::shared_ptr<const GraphJobResult> r) {
            std::lock_guard l(m);
            wall.push_back((r->finishedNs - r->submittedNs) / 1e6);
        }, Qt::DirectConnection);
        for (int i = 0; i < 2000; ++i) graphs.history().append(sampleAt(i), 2000);
        std::vector<double> ui;
        for (int i = 0; i < samples; ++i) {
            const qint64 t = GraphPipeline::nowNs();
            graphs.cycle(sampleAt(2000 + i), ctx);
            ui.push_back((GraphPipeline::nowNs() - t) / 1e6);
            pipeline.waitIdle();
            QCoreApplication::processEvents();
        }
        std::printf("%s:\n", png ? "PNG" : "JPEG (Normal)");
        {
            // one thread, one graph at a time: where the time goes
            const GraphJob job = graphs.makeJob(ctx);
            std::vector<double> render, encode;
            for (int i = 0; i < 20; ++i)
                for (const GraphScene& sc : job.scenes) {
                    qint64 t = GraphPipeline::nowNs();
                    const QImage img = renderGraph(sc);
                    render.push_back((GraphPipeline::nowNs() - t) / 1e6);
                    t = GraphPipeline::nowNs();
                    saveGraphImage(&library, img, job.files[sc.id], job.format, job.flags);
                    encode.push_back((GraphPipeline::nowNs() - t) / 1e6);
                }
            report("one graph drawn (one thread)", render);
            report("one graph encoded and renamed", encode);
        }
        report("UI-thread time per sample", ui);
        const double w = report("sample to six files renamed", wall);
        if (png) pngWall = w;
        if (png) writeScenes(dir.path(), graphs.makeJob(ctx));
    }

    // Memory: every sample drawn and written, pictures back through the
    // event loop as in the monitor.
    {
        GraphPipeline pipeline(&library);
        GraphOutputs graphs;
        graphs.settings().points = 2000;
        graphs.settings().freq = 1;
        graphs.setPipeline(&pipeline);
        for (int i = 0; i < 2000; ++i) graphs.history().append(sampleAt(i), 2000);
        std::printf("Memory over %d samples at 2000 points, every sample drawn and written:\n", memorySamples);
        QElapsedTimer el;
        el.start();
        for (int i = 1; i <= memorySamples; ++i) {
            graphs.cycle(sampleAt(2000 + i), ctx);
            pipeline.waitIdle();
            QCoreApplication::processEvents();
            if (i == 100 || i == 1000 || i % 2500 == 0) std::printf("  RSS after %6d samples: %7ld kB\n", i, rssKb());
        }
        pipeline.waitIdle();
        QCoreApplication::processEvents();
        std::printf("  RSS at the end:              %7ld kB  (%llu drawn, %llu replaced, %.1f s)\n", rssKb(),
                    (unsigned long long)pipeline.completed(), (unsigned long long)pipeline.replaced(), el.elapsed() / 1000.0);
    }

    // The same six graphs by matplotlib and gnuplot.
    const int runs = 10;
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"), {QStringLiteral("/usr/bin")});
    if (!python.isEmpty()) {
        QFile py(dir.filePath("mpl.py"));
        py.open(QIODevice::WriteOnly);
        py.write(kMatplotlib);
        py.close();
        QProcess p;
        p.start(python, {py.fileName(), dir.path(), QString::number(runs)});
        p.waitForFinished(600000);
        const double ms = p.readAllStandardOutput().trimmed().toDouble();
        if (p.exitCode() == 0 && ms > 0)
            std::printf("matplotlib (Agg), six PNGs:     median %8.3f ms   -> this monitor is %.1fx faster\n", ms, ms / pngWall);
        else
            std::printf("matplotlib not available: %s\n", p.readAllStandardError().left(200).constData());
    }
    const QString gnuplot = QStandardPaths::findExecutable(QStringLiteral("gnuplot"));
    if (!gnuplot.isEmpty()) {
        QFile gp(dir.filePath("plot.gp"));
        gp.open(QIODevice::WriteOnly);
        gp.write(gnuplotScript(dir.path(), runs).toUtf8());
        gp.close();
        QElapsedTimer el;
        el.start();
        QProcess p;
        p.start(gnuplot, {gp.fileName()});
        p.waitForFinished(600000);
        const double ms = el.nsecsElapsed() / 1e6 / runs;
        if (p.exitCode() == 0)
            std::printf("gnuplot (pngcairo), six PNGs:   mean   %8.3f ms   -> this monitor is %.1fx faster\n", ms, ms / pngWall);
        else
            std::printf("gnuplot failed: %s\n", p.readAllStandardError().left(300).constData());
    } else {
        std::printf("gnuplot not installed\n");
    }
    if (qEnvironmentVariableIsSet("GRAPH_BENCH_KEEP")) {
        const QString keep = qEnvironmentVariable("GRAPH_BENCH_KEEP");
        QDir().mkpath(keep);
        for (const QString& f : QDir(dir.path()).entryList({"*.png", "*.jpg"}, QDir::Files)) {
            QFile::remove(keep + "/" + f);
            QFile::copy(dir.filePath(f), keep + "/" + f);
        }
    }
    return 0;
}
