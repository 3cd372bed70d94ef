#include "HandOver.h"

namespace skyvane::updater {

std::vector<QStringList> parseRecords(const QByteArray& data)
{
    std::vector<QStringList> out;
    QStringList fields;
    QString field;
    bool quoted = false;    // inside quotes
    bool wasQuoted = false; // the field had quotes: keep its spaces
    bool any = false;       // the record has content
    bool closed = false;    // after the closing quote: only spaces until the comma
    const QString text = QString::fromUtf8(data);
    const auto endField = [&] {
        fields << (wasQuoted ? field : field.trimmed());
        field.clear();
        wasQuoted = closed = false;
    };
    const auto endRecord = [&] {
        endField();
        if (any) {
            while (fields.size() < 5) fields << QString();
            out.push_back(fields.mid(0, 5));
        }
        fields.clear();
        any = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                    closed = true;
                }
            } else {
                field += c;
            }
            continue;
        }
        if (c == QLatin1Char('"')) {
            quoted = wasQuoted = any = true;
            field = field.trimmed(); // spaces before a quote do not count
        } else if (c == QLatin1Char(',')) {
            any = true;
            endField();
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            endRecord();
        } else if (!closed) {
            if (!c.isSpace()) any = true;
            field += c;
        }
    }
    endRecord();
    return out;
}

QByteArray quoteField(const QString& text)
{
    QString t = text;
    t.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return '"' + t.toUtf8() + '"';
}

QByteArray titleRecord(const QString& caption, int left, int top, const QString& program)
{
    return quoteField(QStringLiteral("Title")) + ',' + quoteField(caption) + ',' + QByteArray::number(left) + ','
           + QByteArray::number(top) + ',' + quoteField(program) + "\r\n";
}

bool isPlainFileName(const QString& name)
{
    if (name.isEmpty() || name.size() > 255) return false;
    if (name == QLatin1String(".") || name == QLatin1String("..")) return false;
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))) return false;
    if (name.size() >= 2 && name.at(1) == QLatin1Char(':')) return false; // C:name
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) return false;
    return true;
}

QString addressProblem(const QString& address)
{
    const QString a = address.trimmed();
    const int colon = a.indexOf(QLatin1Char(':'));
    const QString scheme = colon > 0 ? a.left(colon).toLower() : QString();
    if (scheme == QLatin1String("https") && a.mid(colon).startsWith(QLatin1String("://")) && a.size() > 8) return {};
    if (scheme == QLatin1String("http")) {
        // Only this machine itself: http://127.0.0.1[:port]/...
        const QString rest = a.mid(colon + 3);
        const QString host = rest.section(QLatin1Char('/'), 0, 0).section(QLatin1Char(':'), 0, 0);
        const QString authority = rest.section(QLatin1Char('/'), 0, 0);
        if (a.mid(colon, 3) == QLatin1String("://") && host == QLatin1String("127.0.0.1")
            && !authority.contains(QLatin1Char('@')))
            return {};
        return QStringLiteral("plain http is refused (only https, or http to 127.0.0.1)");
    }
    return QStringLiteral("only https addresses are fetched");
}

HandOver interpret(const std::vector<QStringList>& records)
{
    HandOver h;
    std::size_t first = 0;
    if (!records.empty() && records[0].value(0).compare(QLatin1String("Title"), Qt::CaseInsensitive) == 0) {
        const QStringList& r = records[0];
        if (!r.value(1).isEmpty()) h.caption = r.value(1);
        h.left = r.value(2).toInt();
        h.top = r.value(3).toInt();
        h.program = r.value(4);
        first = 1;
        if (!h.program.isEmpty() && !isPlainFileName(h.program))
            h.problem = QStringLiteral("Refused program name \"%1\": not a plain file name").arg(h.program);
    }
    // Names that a download or a backup must never overwrite: what is
    // installed, the program started at the end, the updater itself.
    QStringList guarded{QStringLiteral("XOB_Updater"), QStringLiteral("XOB_Updater.exe"), QString::fromLatin1(kHandOverFile)};
    if (!h.program.isEmpty()) guarded << h.program;
    for (std::size_t i = first; i < records.size(); ++i)
        if (!records[i].value(3).isEmpty()) guarded << records[i].value(3);
    const auto isGuarded = [&](const QString& n) { return guarded.contains(n, Qt::CaseInsensitive); };
    for (std::size_t i = first; i < records.size(); ++i) {
        const QStringList& r = records[i];
        FileRecord f{r.value(0), r.value(1).trimmed(), r.value(2), r.value(3), r.value(4)};
        h.files.push_back(f);
        if (!h.problem.isEmpty()) continue;
        const QString what = f.display.isEmpty() ? f.address : f.display;
        if (const QString p = addressProblem(f.address); !p.isEmpty()) {
            h.problem = QStringLiteral("Refused address of %1: %2").arg(what, p);
            continue;
        }
        // The local name is always written; target and backup only when the
        // file is installed.
        QStringList names{f.local};
        if (!f.target.isEmpty()) names << f.target << f.backup;
        for (const QString& n : names)
            if (!isPlainFileName(n)) {
                h.problem = QStringLiteral("Refused file name \"%1\" of %2: not a plain file name").arg(n, what);
                break;
            }
        if (!h.problem.isEmpty()) continue;
        if (isGuarded(f.local))
            h.problem = QStringLiteral("Refused local name \"%1\" of %2: it would overwrite a program file").arg(f.local, what);
        else if (!f.target.isEmpty() && isGuarded(f.backup))
            h.problem = QStringLiteral("Refused backup name \"%1\" of %2: it would overwrite a program file").arg(f.backup, what);
    }
    return h;
}

} // namespace skyvane::updater
