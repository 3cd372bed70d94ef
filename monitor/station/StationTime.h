#pragma once
// The station writes its date and time as the local clock shows them, with
// no zone and no offset. Around the daylight-saving changes such a reading is
// not one moment: the hour repeated in autumn stands for two, the hour skipped
// in spring for none. These turn it into the moment to compare with the
// computer's clock.

#include <QDateTime>
#include <QList>
#include <QTimeZone>

namespace skyvane::station {

// The moments a local date and time can stand for in zone, oldest first:
// one as a rule, two in the repeated hour. In the skipped hour the reading
// is taken with the offset in force before and after the change, so there
// are two there as well; skipped says so.
struct LocalMoments {
    QList<QDateTime> moments; // in UTC
    bool skipped = false;
};
LocalMoments localMoments(QDate date, QTime time, const QTimeZone& zone);

// The moment the station's data were taken. Of two readings the file's own
// modification time decides when it lies within half an hour of one of
// them; otherwise the oldest is taken, so that doubt never makes data look
// fresher than they are. Invalid when date or time are.
QDateTime stationMoment(QDate date, QTime time, const QDateTime& modified,
                        const QTimeZone& zone = QTimeZone::systemTimeZone());

} // namespace skyvane::station
