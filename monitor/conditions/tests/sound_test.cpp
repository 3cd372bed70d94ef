#include "LoadedSoundPlayer.h"
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

namespace {

// A valid, short WAV file: 0.2 s of a quiet tone.
QByteArray toneWav()
{
    const int rate = 8000, samples = rate / 5;
    QByteArray data;
    for (int i = 0; i < samples; ++i) data.append(char((i % 20) < 10 ? 100 : -100));
    QByteArray h("RIFF");
    auto u32 = [&](quint32 v) { for (int i = 0; i < 4; ++i) h.append(char((v >> (8 * i)) & 0xff)); };
    auto u16 = [&](quint16 v) { h.append(char(v & 0xff)); h.append(char(v >> 8)); };
    u32(36 + quint32(data.size()));
    h += "WAVEfmt ";
    u32(16); u16(1); u16(1); u32(rate); u32(rate); u16(1); u16(8);
    h += "data";
    u32(quint32(data.size()));
    return h + data;
}

// The module the headless program loads: found beside the programs, it
// gives a working player; missing, every sound is refused and nothing else
// happens.
TEST(LoadedSoundPlayer, LoadsTheModuleWithTheFirstSoundOrGoesOnWithout)
{
    LoadedSoundPlayer none({QStringLiteral("/no/such/folder")});
    EXPECT_FALSE(none.play(QStringLiteral("/no/such/alarm.wav"), false));
    EXPECT_FALSE(none.loaded());
    EXPECT_FALSE(none.isPlaying());
    none.stop();

    LoadedSoundPlayer real({qEnvironmentVariable("SKYVANE_BIN_DIR")});
    EXPECT_FALSE(real.loaded()); // nothing is loaded before a sound is asked for
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("tone.wav"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(toneWav());
    f.close();
    real.play(file, false);
    EXPECT_TRUE(real.loaded()) << "the sound module was not found in SKYVANE_BIN_DIR";
    EXPECT_FALSE(real.play(QStringLiteral("/no/such/alarm.wav"), false));
    real.stop();
    EXPECT_FALSE(real.isPlaying());
}

} // namespace
