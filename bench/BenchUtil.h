#pragma once
// What every benchmark program measures with: the process's CPU time, its
// resident memory, and quantiles of a set of timings; and the weather-station
// file the benchmarks that run the monitor give it.

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace skyvane::bench {

// A weather-station CSV file stamped `now`, with ordinary calm values.
inline void writeStation(const QString& path, const QDateTime& now)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
    f.write(QStringLiteral("Date,,%1\nTime,,%2\nOutTemp,\u00b0C,5.2\nWindSpeed,km/h,5\nGust,km/h,8\n"
                           "WindDirection,,NNE\nRainDayMin,mm,0\nRainDayMax,mm,0\nOutHumidity,%,60\n"
                           "DewPoint,\u00b0C,-2.0\nBarometer,hPa,1013\n")
                .arg(now.toString(QStringLiteral("dd/MM/yy")), now.toString(QStringLiteral("hh:mm:ss")))
                .toUtf8());
}

// CPU time of the whole process (all its threads), in milliseconds.
inline double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Resident memory in kB, -1 when /proc can not tell.
inline long rssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// The q-quantile (0..1) of sorted values.
inline double quantile(const std::vector<double>& sorted, double q)
{
    return sorted[std::min(sorted.size() - 1, size_t(q * double(sorted.size())))];
}

// One line of timings: median, p90 and max.
inline void printTimings(const char* what, std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    std::printf("%-22s median %7.3f ms   p90 %7.3f ms   max %7.3f ms\n", what, quantile(v, 0.5), quantile(v, 0.9), v.back());
}

} // namespace skyvane::bench
