// Writes the class's introspection document and member page from the member
// table: nephor_class_doc <folder>  ->  <folder>/nephor-class.xml, .md
// With --check, compares instead of writing (exit 1 when they differ).
#include "NephorClass.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool check = args.removeAll(QStringLiteral("--check")) > 0;
    if (args.size() != 1 || args.first().startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr, "usage: nephor_class_doc [--check] <docs folder>\n");
        return 2;
    }
    const QDir dir(args.first());
    const QList<QPair<QString, QString>> files = {
        {QStringLiteral("nephor-class.xml"), skyvane::nephor::introspectionDocument()},
        {QStringLiteral("nephor-class.md"), skyvane::nephor::markdownPage()},
    };
    int rc = 0;
    for (const auto& [name, text] : files) {
        QFile f(dir.filePath(name));
        if (check) {
            if (!f.open(QIODevice::ReadOnly) || QString::fromUtf8(f.readAll()) != text) {
                std::fprintf(stderr, "%s is not up to date\n", qPrintable(f.fileName()));
                rc = 1;
            }
            continue;
        }
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text.toUtf8()) < 0) {
            std::fprintf(stderr, "can not write %s: %s\n", qPrintable(f.fileName()), qPrintable(f.errorString()));
            return 1;
        }
        std::printf("wrote %s\n", qPrintable(f.fileName()));
    }
    return rc;
}
