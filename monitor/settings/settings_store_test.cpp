#include "SettingsStore.h"
#include "Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace skyvane;

TEST(SettingsStore, DefaultsCaseInsensitiveNamesAndPersistence)
{
    QTemporaryDir dir;
    {
        SettingsStore s(dir.path());
        EXPECT_EQ(s.get("XOB_Skyvane", "Setup", "Emulator", "9"), "9");
        s.save("XOB_Skyvane", "Setup", "Emulator", "1");
        s.save("XOB_Skyvane", "setup", "HTMFILE", "/data/wx.htm");
        // the second write found the section and kept its spelling
        EXPECT_EQ(s.sections("XOB_Skyvane"), QStringList{"Setup"});
        s.save("XOB_Skyvane", "Window", "Text", "a, b; c = d");
    }
    SettingsStore s(dir.path());
    EXPECT_EQ(s.get("xob_skyvane", "SETUP", "emulator", "9"), "1");
    EXPECT_EQ(s.get("XOB_Skyvane", "Setup", "HtmFile"), "/data/wx.htm");
    EXPECT_EQ(s.get("XOB_Skyvane", "Window", "Text"), "a, b; c = d");
    EXPECT_TRUE(QFile::exists(dir.path() + "/XOB_Skyvane.ini"));
    // another application is another file
    EXPECT_EQ(s.get("XOB_Uploader", "Setup", "Emulator", "x"), "x");
}

TEST(SettingsStore, DeleteKeySectionAndApplication)
{
    QTemporaryDir dir;
    SettingsStore s(dir.path());
    s.save("XOB_Skyvane", "Limit", "A", "1");
    s.save("XOB_Skyvane", "Limit", "B", "2");
    s.save("XOB_Skyvane", "Color", "C", "3");
    s.save("XOB_Uploader", "Setup", "Running", "1");
    s.deleteKey("XOB_Skyvane", "limit", "a");
    EXPECT_EQ(s.keys("XOB_Skyvane", "Limit"), QStringList{"B"});
    s.deleteSection("XOB_Skyvane", "LIMIT");
    EXPECT_FALSE(s.contains("XOB_Skyvane", "Limit", "B"));
    EXPECT_EQ(s.get("XOB_Skyvane", "Color", "C"), "3");
    s.deleteApplication("XOB_Skyvane");
    EXPECT_FALSE(QFile::exists(dir.path() + "/XOB_Skyvane.ini"));
    EXPECT_EQ(s.get("XOB_Skyvane", "Color", "C", "none"), "none");
    EXPECT_EQ(s.get("XOB_Uploader", "Setup", "Running"), "1");
}

TEST(SettingsCodec, StoredEncodings)
{
    using namespace settings_codec;
    EXPECT_TRUE(toBool("True", false));
    EXPECT_FALSE(toBool("false", true));
    EXPECT_TRUE(toBool("-1", false));
    EXPECT_FALSE(toBool("0", true));
    EXPECT_TRUE(toBool("garbage", true));
    EXPECT_EQ(toInt("2", 0), 2);
    EXPECT_EQ(toInt("2.5", 0), 2); // round half to even, like the old conversions
    EXPECT_EQ(toInt("", 7), 7);
    EXPECT_EQ(toInt("99999999999", 7), 7);
    EXPECT_DOUBLE_EQ(toDouble("-12.5", 0), -12.5);
    EXPECT_DOUBLE_EQ(toDouble("x", 3), 3);
    EXPECT_EQ(fromBool(true), "True");
}

// ---- files that can not be used, and how files are written -----------------

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// A small settings file of the user's, as the permission cases start from.
bool writeIni(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::WriteOnly) && f.write("[Limit]\nWindCalm=12\n") > 0;
}

} // namespace

TEST(SettingsFiles, NewAndOlderFilesArePrivateToTheUser)
{
    QTemporaryDir dir;
    const QString older = dir.filePath("XOB_Uploader.ini");
    {
        QFile f(older);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Setup]\nPassword=secret\n");
    }
    QFile::setPermissions(older, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    {
        SettingsStore s(dir.path());
        s.save("XOB_Skyvane", "Setup", "Password", "secret");
        s.save("XOB_Uploader", "Setup", "Server", "ftp.example.org");
        EXPECT_TRUE(s.sync());
        EXPECT_TRUE(s.problems().isEmpty()) << s.problems().join('\n').toStdString();
    }
    struct stat st {};
    for (const QString& file : {dir.filePath("XOB_Skyvane.ini"), older}) {
        ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0) << file.toStdString();
        EXPECT_EQ(st.st_mode & 0777, 0600u) << file.toStdString();
    }
    SettingsStore back(dir.path());
    EXPECT_EQ(back.get("XOB_Uploader", "Setup", "Password"), "secret");
    // Written whole through a temporary file: nothing is left beside it.
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    for (const QString& f : left) EXPECT_TRUE(f.endsWith(".ini") || f.endsWith(".lock")) << f.toStdString();
}

TEST(SettingsFiles, GarbageIsKeptAsideAndWhatCanBeReadIsUsed)
{
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* emulator; // what Setup/Emulator reads afterwards ("9": absent)
        int recovered;
    };
    QByteArray binary;
    for (int i = 0; i < 4096; ++i) binary.append(char((i * 7919) & 0xFF));
    const Case cases[] = {
        {"binary", binary, "9", -1},
        {"text with a NUL", QByteArray("[Setup]\nEmulator=1\n\0\0\0\0", 24), "1", 1},
        {"control characters", QByteArray("[Setup]\nHTMFile=\x1b[2J\x07\n"), "9", 0},
        {"not an INI file", QByteArray("<html><body>weather</body></html>\n"), "9", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString file = dir.filePath("XOB_Skyvane.ini");
        {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.bytes);
        }
        {
            SettingsStore s(dir.path());
            EXPECT_EQ(s.get("XOB_Skyvane", "Setup", "Emulator", "9"), c.emulator);
            if (c.recovered >= 0) EXPECT_EQ(s.recovered("XOB_Skyvane"), c.recovered);
            EXPECT_TRUE(s.damaged("XOB_Skyvane"));
            ASSERT_EQ(s.problems().size(), 1);
            EXPECT_TRUE(s.problems().first().contains("XOB_Skyvane.ini.unreadable")) << s.problems().first().toStdString();
            EXPECT_LE(s.problemsBrief().first().size(), 60);
            s.save("XOB_Skyvane", "Setup", "Emulator", "1");
            EXPECT_TRUE(s.sync());
        }
        // The old bytes are kept, unchanged, beside the new file.
        EXPECT_EQ(readAll(file + ".unreadable"), c.bytes);
        SettingsStore again(dir.path());
        EXPECT_EQ(again.get("XOB_Skyvane", "Setup", "Emulator", "9"), "1");
        EXPECT_TRUE(again.problems().isEmpty());
    }
}

// A whole settings file with junk after its keys (a disk that lost the end
// of a block, a crash of a tool that appended): every key of it is kept, the
// damaged lines only are left out, and the new file is private.
TEST(SettingsFiles, EveryReadableKeyOfADamagedFileIsKept)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("XOB_Skyvane.ini");
    QByteArray text = "[Setup]\nEmulator=1\nHTMFile=/srv/station/wx.htm\nRefreshRead=2\n[Limit]\nWindCalm=12\n"
                      "WindWindy=25\n[Window]\nPathName=/home/obs/data\nFileName=night\n";
    const qsizetype whole = text.size();
    for (int i = 0; i < 4096; ++i) text.append(char((i * 131 + 7) & 0xFF));
    // a damaged line in the middle too: its key goes back to the default
    text.insert(whole - qsizetype(strlen("FileName=night\n")), QByteArray("Cadinal01=N\x01\x02orth\n"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    SettingsStore s(dir.path());
    EXPECT_EQ(s.get("XOB_Skyvane", "Setup", "Emulator"), "1");
    EXPECT_EQ(s.get("XOB_Skyvane", "Setup", "HTMFile"), "/srv/station/wx.htm");
    EXPECT_EQ(s.get("XOB_Skyvane", "Setup", "RefreshRead"), "2");
    EXPECT_EQ(s.get("XOB_Skyvane", "Limit", "WindCalm"), "12");
    EXPECT_EQ(s.get("XOB_Skyvane", "Limit", "WindWindy"), "25");
    EXPECT_EQ(s.get("XOB_Skyvane", "Window", "PathName"), "/home/obs/data");
    EXPECT_EQ(s.get("XOB_Skyvane", "Window", "FileName"), "night");
    EXPECT_FALSE(s.contains("XOB_Skyvane", "Window", "Cadinal01"));
    EXPECT_GE(s.recovered("XOB_Skyvane"), 7);
    ASSERT_EQ(s.problemsBrief().size(), 1);
    EXPECT_TRUE(s.problemsBrief().first().startsWith("Settings file damaged")) << s.problemsBrief().first().toStdString();
    EXPECT_LE(s.problemsBrief().first().size(), 60);
    EXPECT_EQ(readAll(file + ".unreadable"), text);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(SettingsFiles, HandEditedFilesAreStillRead)
{
    QTemporaryDir dir;
    const QByteArray text("\xEF\xBB\xBF; edited by hand\r\n[Setup]\r\nHTMFile = C:\\M\xe9t\xe9o\\wx.csv\r\n\r\n[Limit]\r\n"
                          "WindCalm=12\r\n");
    {
        QFile f(dir.filePath("XOB_Skyvane.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    SettingsStore s(dir.path());
    EXPECT_EQ(s.get("XOB_Skyvane", "Limit", "WindCalm"), "12");
    EXPECT_TRUE(s.contains("XOB_Skyvane", "Setup", "HTMFile"));
    EXPECT_TRUE(s.problems().isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath("XOB_Skyvane.ini.unreadable")));
}

TEST(SettingsFiles, SecondBadFileDoesNotReplaceTheFirstCopy)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("XOB_Skyvane.ini");
    for (const char* bytes : {"first\x01", "second\x01"}) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        SettingsStore s(dir.path());
        s.get("XOB_Skyvane", "Setup", "Emulator");
    }
    EXPECT_EQ(readAll(file + ".unreadable"), "first\x01");
    EXPECT_EQ(readAll(file + ".unreadable2"), "second\x01");
}

TEST(SettingsFiles, FolderOrPipeInThePlaceOfTheFileIsLeftAlone)
{
    for (const bool pipe : {false, true}) {
        SCOPED_TRACE(pipe ? "pipe" : "folder");
        QTemporaryDir dir;
        const QString file = dir.filePath("XOB_Skyvane.ini");
        if (pipe) ASSERT_EQ(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        else ASSERT_TRUE(QDir().mkdir(file));
        {
            SettingsStore s(dir.path());
            EXPECT_FALSE(s.writable("XOB_Skyvane"));
            EXPECT_EQ(s.get("XOB_Skyvane", "Setup", "Emulator", "9"), "9");
            // Changes live on in memory until the program ends...
            s.save("XOB_Skyvane", "Setup", "Emulator", "1");
            EXPECT_EQ(s.get("XOB_Skyvane", "Setup", "Emulator", "9"), "1");
            s.sync();
            EXPECT_EQ(s.problemsBrief().size(), 1);
        }
        // ... and nothing was written over what is there.
        const QFileInfo fi(file);
        EXPECT_EQ(fi.isDir(), !pipe);
        EXPECT_EQ(fi.isFile(), false);
        if (!pipe) EXPECT_TRUE(QDir(file).isEmpty());
        EXPECT_FALSE(QFile::exists(file + ".unreadable"));
    }
}

// The two permission cases run as an unprivileged user (permissions do not
// bind root, which runs the suite in CI); each reports what it saw, one
// observation a line.
TEST(SettingsFiles, ReadOnlyFileIsReadAndSavingSaysItFailed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(skyvane::testing::handToUnprivilegedUser(dir.path()));
    const QByteArray seen = skyvane::testing::asUnprivilegedUser([&] {
        const QString file = dir.filePath("XOB_Skyvane.ini");
        if (!writeIni(file)) return QByteArray("!cannot write the file");
        QFile::setPermissions(file, QFile::ReadOwner);
        SettingsStore s(dir.path());
        QByteArray out = "get " + s.get("XOB_Skyvane", "Limit", "WindCalm").toUtf8() + "\n";
        out += "problems " + s.problemsBrief().join('|').toUtf8() + "\n";
        s.save("XOB_Skyvane", "Limit", "WindCalm", "13");
        out += s.sync() ? "sync ok\n" : "sync failed\n";
        return out + "file " + readAll(file);
    });
    EXPECT_EQ(seen, "get 12\nproblems Settings file read-only: changes are not saved\nsync failed\n"
                    "file [Limit]\nWindCalm=12\n");
}

TEST(SettingsFiles, UnreadableFileIsNeitherReadNorOverwritten)
{
    QTemporaryDir dir;
    ASSERT_TRUE(skyvane::testing::handToUnprivilegedUser(dir.path()));
    const QByteArray seen = skyvane::testing::asUnprivilegedUser([&] {
        const QString file = dir.filePath("XOB_Skyvane.ini");
        if (!writeIni(file)) return QByteArray("!cannot write the file");
        QFile::setPermissions(file, QFileDevice::Permissions());
        QByteArray out;
        {
            SettingsStore s(dir.path());
            out += "get " + s.get("XOB_Skyvane", "Limit", "WindCalm", "10").toUtf8() + "\n";
            out += s.writable("XOB_Skyvane") ? "writable\n" : "not writable\n";
            s.save("XOB_Skyvane", "Limit", "WindCalm", "13");
        }
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        return out + "file " + readAll(file);
    });
    EXPECT_EQ(seen, "get 10\nnot writable\nfile [Limit]\nWindCalm=12\n");
}
