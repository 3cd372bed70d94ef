// Records both files as fast as it can until it is killed: the kill test
// starts it, kills it with SIGKILL at a random moment and looks at what is
// left. Arguments: folder. Each record carries its number in the rain value
// and in the heater power so that the test can rebuild it exactly.

#include "CcdAutopilotFile.h"
#include "UserDataFile.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

using namespace skyvane::outputs;

// The values of record n, shared with the test.
OutputValues childRecordValues(qint64 n)
{
    OutputValues v;
    v.now = QDateTime(QDate(2026, 12, 7), QTime(21, 0, 0)).addSecs(n % 86400);
    v.lastReading = v.now;
    v.skyTemperature = -double(n % 400) / 10;
    v.rainValue = double(n);
    v.rainHeaterPercent = double(n % 1000);
    v.windSpeed = double(n % 100000) / 10;
    v.levels = {int(n % 4), int(n % 4), int((n / 4) % 4), 0, 0, 0, 0, int((n / 16) % 4)};
    v.secondsSinceGoodData = n % 2 ? 3 : 1000;
    return v;
}

#ifndef RECORDS_CHILD_NO_MAIN
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    ColumnTable table = ColumnTable::defaults();
    UserDataFile file;
    if (!file.open(UserDataFile::fullName(folder, QStringLiteral("Skyvane")), true, table)) return 3;
    const QString ccd = ccdFullName(folder, QString::fromLatin1(kCcdDefaultFileName));
    std::fputs("recording\n", stdout);
    std::fflush(stdout);
    for (qint64 n = 0;; ++n) {
        const OutputValues v = childRecordValues(n);
        writeCcdRecord(ccd, ccdRecord(v));
        file.cycle(table, 1, v);
    }
}
#endif
