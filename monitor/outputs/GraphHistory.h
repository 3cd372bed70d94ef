#pragma once
// The short history the graphs are drawn from: a fixed ring of samples, one
// every graph period read cycles. Slot 0 is never used; slots 1..N hold the
// samples, the oldest at first(), the newest at last(). The layout is the one
// automation clients have always read (rows 0..7 of slots 0..N), so it is
// kept exactly, including the quirk that the first sample after an
// allocation sits in slots 1 and 2.

#include "Units.h"

#include <QDateTime>
#include <QVariantList>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace skyvane::outputs {

inline constexpr int kMinGraphPoints = 20;
inline constexpr int kMaxGraphPoints = 2000;

// Rows of one sample. Row 1 is the time of the sensor server's reading; the
// others are weather-station values in display units.
enum HistoryRow { RowTime = 1, RowWind = 2, RowGust = 3, RowDir = 4, RowDew = 5, RowHum = 6, RowTemp = 7 };
inline constexpr int kHistoryRows = 8;

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

struct HistorySample {
    qint64 timeMs = 0;   // milliseconds since the epoch; 0 when the time is not known
    // rows 2..7; a value the station did not give is NaN
    std::array<double, 6> values{kNoValue, kNoValue, kNoValue, kNoValue, kNoValue, kNoValue};
    double& row(int r) { return values[size_t(r - 2)]; }
    double row(int r) const { return values[size_t(r - 2)]; }
    bool operator==(const HistorySample&) const = default;
};

class GraphHistory final : public conditions::HistoryUnitConverter {
public:
    GraphHistory() : slots_(1) {}

    // Upper slot bound of the table: 0 until the first sample.
    int slotBound() const { return int(slots_.size()) - 1; }
    int first() const { return first_; }
    int last() const { return last_; }
    // Number of stored samples (slots 1 and 2 both count after an allocation).
    int count() const;
    bool empty() const { return last_ == 0; }

    // Stores one sample; points is the current GraphNoPoints. A table of a
    // different size is allocated anew first (old samples dropped) and the
    // sample lands in slots 1 and 2.
    void append(const HistorySample& s, int points);
    // Back to slot 0 only with first = last = 0.
    void clear();

    const HistorySample& slot(int i) const { return slots_[size_t(i)]; }
    // Calls f(sample) from first to last in ring order.
    template <class F> void forEach(F&& f) const
    {
        if (last_ == 0) return;
        const int n = slotBound();
        for (int i = first_;; i = i >= n ? 1 : i + 1) {
            f(slots_[size_t(i)]);
            if (i == last_) break;
        }
    }

    // rows 0..7 as clients read them: each row a list of slots 0..N, the time
    // as a date-time, a missing value or an unused slot as an empty variant.
    QVariantList table() const;

    // A unit change converts the stored samples of the affected rows, from
    // first to last, so the history stays in display units.
    void convertSpeeds(const std::function<double(double)>& convert) override;
    void convertTemperatures(const std::function<double(double)>& absolute,
                             const std::function<double(double)>& difference) override;

private:
    template <class F> void forEachMutable(F&& f)
    {
        if (last_ == 0) return;
        const int n = slotBound();
        for (int i = first_;; i = i >= n ? 1 : i + 1) {
            f(slots_[size_t(i)]);
            if (i == last_) break;
        }
    }

    bool slotInUse(int i) const;

    std::vector<HistorySample> slots_;
    int first_ = 0;
    int last_ = 0;
};

// GraphNoPoints as the field takes it: held between 20 and 2000.
int clampGraphPoints(double typed);
// GraphFreq as the field takes it: an integer of at least 1.
int clampGraphFreq(double typed);

// Span of the graphs in seconds: points x period x read interval.
qint64 graphSpanSeconds(int points, int freq, int intervalSeconds);
// "01 h 00 m 00 s" for 3600.
QString graphSpanText(qint64 seconds);

// The sample counter of the read cycle: true when this cycle samples.
class SampleCounter {
public:
    bool tick(int period)
    {
        if (counter_ >= period) counter_ = 0;
        const bool sample = counter_ == 0;
        ++counter_;
        return sample;
    }
    void reset() { counter_ = 0; }
    int value() const { return counter_; }

private:
    int counter_ = 0;
};

} // namespace skyvane::outputs
