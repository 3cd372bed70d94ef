#include "QtSoundPlayer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace skyvane::conditions;

namespace {

TEST(QtSoundPlayer, MissingFileIsRefusedSilently)
{
    QtSoundPlayer p;
    EXPECT_FALSE(p.play(QStringLiteral("/no/such/alarm.wav"), false));
    EXPECT_FALSE(p.isPlaying());
    p.stop();
    EXPECT_FALSE(p.isPlaying());
}

TEST(QtSoundPlayer, UndecodableFileEndsWithoutComplaint)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("broken.wav"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("this is not a sound");
    f.close();

    QtSoundPlayer p;
    p.play(file, true);
    // The backend decodes asynchronously; give it a moment to give up.
    QDeadlineTimer deadline(5000);
    while (p.isPlaying() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_FALSE(p.isPlaying());
    p.stop();
}

} // namespace
