// A monitor killed at any moment leaves record files that still serve their
// readers: the CSV parses line by line (at most its last line cut), and the
// 100-byte file is always one whole record, old or new.

#define RECORDS_CHILD_NO_MAIN
#include "records_writer_child.cpp"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <csignal>

namespace {

QString childProgram()
{
    return QDir(qEnvironmentVariable("SKYVANE_BIN_DIR")).filePath(QStringLiteral("records_writer_child"));
}

// The child writes record n, then line n. So the record left is the one of
// the last line, the one after it, or the first of a run that was killed
// before its first line.
bool isWholeRecord(const QByteArray& rec, qint64 lastLine)
{
    if (rec.size() != kCcdRecordLength) return false;
    for (qint64 n : {lastLine, lastLine + 1, qint64(0)})
        if (ccdRecord(childRecordValues(n)) == rec) return true;
    return false;
}

} // namespace

TEST(RecordsKill, EveryKillLeavesParsableFiles)
{
    const QString program = childProgram();
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << qPrintable(program);
    QTemporaryDir dir;
    const QString csv = UserDataFile::fullName(dir.path(), QStringLiteral("Skyvane"));
    const QString ccd = ccdFullName(dir.path(), QString::fromLatin1(kCcdDefaultFileName));
    // a whole line: quoted values each followed by a comma, then CR LF
    const QRegularExpression wholeLine(QStringLiteral("^(\"[^\"\\r\\n]*\",)*\\r$"));
    // a line cut by a kill and ended by the next start: whole values, then
    // part of one, then CR LF
    const QRegularExpression cutThenEnded(QStringLiteral("^(\"[^\"\\r\\n]*\",)*(\"[^\"\\r\\n]*\"?)?\\r$"));
    QRandomGenerator rng(20261207);
    QElapsedTimer total;
    total.start();
    int kills = 0;
    qint64 lastRain = 0;
    for (; kills < 200 && total.elapsed() < 20000; ++kills) {
        QProcess child;
        child.start(program, {dir.path()});
        ASSERT_TRUE(child.waitForStarted(5000));
        // once it says it records, kill it 0 to 40 ms later
        ASSERT_TRUE(child.waitForReadyRead(5000));
        QThread::usleep(rng.bounded(40000));
        ::kill(pid_t(child.processId()), SIGKILL);
        ASSERT_TRUE(child.waitForFinished(5000));

        QFile f(csv);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        // The last piece follows the last line end: empty, or a cut line.
        // A kill inside a write can cut a line; the next start ends it
        // (its bytes stay) before its header, so a cut line inside the file
        // is always followed by a header and never by data glued to it.
        for (int i = 0; i + 1 < lines.size(); ++i) {
            const QString line = QString::fromLatin1(lines[i]);
            if (wholeLine.match(line).hasMatch()) continue;
            ASSERT_TRUE(cutThenEnded.match(line).hasMatch() && i + 2 < lines.size() && lines[i + 1].startsWith("\"Date"))
                << "kill " << kills << ", line " << i + 1 << ": " << lines[i].constData();
        }
        // the rain value of the last whole data line is the last record number
        for (int i = int(lines.size()) - 2; i >= 0; --i) {
            const QList<QByteArray> fields = lines[i].split(',');
            if (fields.size() > 12 && !fields[0].startsWith("\"Date")) {
                lastRain = fields[11].mid(1, fields[11].size() - 2).toLongLong();
                break;
            }
        }
        QFile r(ccd);
        if (!r.exists()) continue; // killed before its first record
        ASSERT_TRUE(r.open(QIODevice::ReadOnly));
        const QByteArray rec = r.readAll();
        ASSERT_TRUE(isWholeRecord(rec, lastRain)) << "kill " << kills << ": " << rec.constData();
    }
    EXPECT_GE(kills, 50) << "too few kills in the time";
    RecordProperty("kills", kills);
}
