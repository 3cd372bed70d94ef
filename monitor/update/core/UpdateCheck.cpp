#include "UpdateCheck.h"

#include "HandOver.h"
#include "HttpFetch.h"
#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryFile>

namespace skyvane::update {

namespace {
const QString kApp = QStringLiteral("XOB_Skyvane");
const QString kSetup = QStringLiteral("Setup");
// Far beyond any real file of the server: a larger answer is not one.
constexpr qint64 kMaxFetch = 64 * 1024;
} // namespace

QString defaultServer() { return QStringLiteral("https://updates.skyvane.org"); }

QString serverOf(const SettingsStore& store)
{
    QString s = store.get(kApp, kSetup, QStringLiteral("UpdateServer"), defaultServer()).trimmed();
    if (s.isEmpty()) s = defaultServer();
    while (s.endsWith(QLatin1Char('/'))) s.chop(1);
    return s;
}

QString installedVersionText()
{
    return QStringLiteral("%1.%2.%3")
        .arg(SKYVANE_VERSION_MAJOR)
        .arg(SKYVANE_VERSION_MINOR, 2, 10, QLatin1Char('0'))
        .arg(SKYVANE_VERSION_REVISION, 3, 10, QLatin1Char('0'));
}

QString stateText(int state)
{
    static const char* const texts[] = {"Looking up IP address", "Successfully found", "Connecting to host",
                                        "Successfully connected", "Sending a request", "Successfully sent",
                                        "Receiving a response", "Successfully received", "Disconnecting from host",
                                        "Successfully disconnected", "Communication error", "Sucessful response"};
    if (state == 0) return {};
    if (state >= 1 && state <= 12) return QString::fromLatin1(texts[state - 1]);
    return QStringLiteral("Unknown condition");
}

QString displayText(const QString& text, int max)
{
    QString out;
    out.reserve(qMin<qsizetype>(text.size(), max));
    for (const QChar c : text) {
        if (out.size() >= max) {
            out.chop(3);
            out += QStringLiteral("...");
            break;
        }
        if (c == QLatin1Char('\n') || c == QLatin1Char('\t')) {
            out += c;
        } else if (c == QLatin1Char('\r')) {
            continue;
        } else if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format
                   || c.category() == QChar::Other_NotAssigned || c.isSurrogate()) {
            continue;
        } else {
            out += c;
        }
    }
    return out;
}

QString newsFromBytes(const QByteArray& bytes)
{
    // One character per byte, as the news has always been read.
    return displayText(QString::fromLatin1(bytes.left(kNewsMax * 2)), kNewsMax);
}

QString versionFromBytes(const QByteArray& bytes)
{
    const QByteArray line = bytes.left(256).split('\n').value(0).trimmed();
    QString v;
    for (const char c : line)
        if (c >= 0x20 && c < 0x7F) v += QLatin1Char(c);
    return v.left(32);
}

bool programDirWritable(const QString& dir)
{
    if (!QDir(dir).exists()) return false;
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".xob_write_test_XXXXXX")));
    return probe.open();
}

UpdateCheck::UpdateCheck(SettingsStore& store, QString programDir, QString programFile, QObject* parent)
    : QObject(parent), store_(store), dir_(std::move(programDir)), program_(std::move(programFile)), server_(defaultServer())
{
}

UpdateCheck::~UpdateCheck()
{
    cancel_ = true;
    if (worker_.joinable()) worker_.join();
}

void UpdateCheck::readSettings()
{
    server_ = serverOf(store_);
    bool ok = false;
    const int s = store_.get(kApp, kSetup, QStringLiteral("UpdateTimeout"), QStringLiteral("30")).trimmed().toInt(&ok);
    timeoutMs_ = (ok && s >= 1 && s <= 600 ? s : 30) * 1000;
    caFile_ = store_.get(kApp, kSetup, QStringLiteral("UpdateCAFile")).trimmed();
}

QString UpdateCheck::handOverFile() const { return QDir(dir_).filePath(QString::fromLatin1(updater::kHandOverFile)); }

void UpdateCheck::start()
{
    if (running_) return;
    running_ = true;
    handOverWritten_ = false;
    emit status(QStringLiteral("Contacting Update Center"));
    if (worker_.joinable()) worker_.join();
    QPointer<UpdateCheck> self(this);
    const QString base = server_;
    const int timeout = timeoutMs_;
    const QString ca = caFile_;
    worker_ = std::thread([this, self, base, timeout, ca] {
        const auto post = [self](std::function<void(UpdateCheck*)> fn) {
            QMetaObject::invokeMethod(
                self.data(), [self, fn] { if (self) fn(self.data()); }, Qt::QueuedConnection);
        };
        const auto get = [&](const char* path, bool& ok) {
            post([](UpdateCheck* c) { emit c->status(stateText(3)); });
            updater::FetchRequest r;
            r.address = base + QLatin1String(path);
            r.timeoutMs = timeout;
            r.caFile = ca;
            r.maxBytes = kMaxFetch;
            const updater::FetchResult res = fetch(r, &cancel_);
            ok = res.ok;
            post([ok](UpdateCheck* c) { emit c->status(stateText(ok ? 12 : 11)); });
            if (!ok) qWarning("XOB_Skyvane update check: %s%s: %s", qPrintable(base), path, qPrintable(res.error));
            return ok ? res.body : QByteArray();
        };
        bool newsOk = false, versionOk = false, descriptionOk = false;
        QByteArray news = get(kNewsPath, newsOk);
        QByteArray version = get(kVersionPath, versionOk);
        QByteArray description = get(kUpdaterPath, descriptionOk);
        post([=](UpdateCheck* c) { c->done(news, newsOk, version, description, descriptionOk); });
    });
}

void UpdateCheck::done(QByteArray news, bool newsOk, QByteArray version, QByteArray description, bool descriptionOk)
{
    if (worker_.joinable()) worker_.join();
    running_ = false;
    // A failed fetch leaves the news as it was: only an answer replaces it.
    if (newsOk) {
        news_ = news.size() > 1 ? newsFromBytes(news) : QString();
        store_.save(kApp, QStringLiteral("Window"), QStringLiteral("XOB_News"), news_);
        store_.sync();
    } else {
        news_.clear();
    }
    version_ = versionFromBytes(version);
    writable_ = update::programDirWritable(dir_);
    // The updater can do nothing with a folder it can not write, nor without
    // its description.
    if (writable_ && descriptionOk) {
        QFile f(handOverFile());
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            f.write(updater::titleRecord(QStringLiteral("XOB_Skyvane"), left_, top_, program_));
            f.write(description);
            handOverWritten_ = f.error() == QFileDevice::NoError;
            f.close();
        }
    }
    emit finished();
}

} // namespace skyvane::update
