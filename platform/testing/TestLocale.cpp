#include "TestLocale.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace skyvane::testing {

bool haveCommaLocale()
{
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
        std::setlocale(LC_NUMERIC, "C");
        return true;
    }
    const QString bin = qEnvironmentVariable("SKYVANE_BIN_DIR");
    const QString dir = bin.isEmpty() ? QDir::temp().filePath(QStringLiteral("skyvane-test-locales"))
                                      : QDir(bin).filePath(QStringLiteral("../test-locales"));
    if (!QFileInfo::exists(dir + QStringLiteral("/de_DE.UTF-8/LC_NUMERIC"))) {
        QDir().mkpath(dir);
        QProcess::execute(QStringLiteral("localedef"), {QStringLiteral("-i"), QStringLiteral("de_DE"),
                                                         QStringLiteral("-f"), QStringLiteral("UTF-8"),
                                                         dir + QStringLiteral("/de_DE.UTF-8")});
    }
    qputenv("LOCPATH", QFile::encodeName(dir));
    const bool ok = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    std::setlocale(LC_NUMERIC, "C");
    return ok;
}

} // namespace skyvane::testing
