#include "CliValues.h"

#include "Automation.h"

#include <QDBusObjectPath>
#include <algorithm>
#include <QDateTime>

namespace skyvane::cli {

QString usage()
{
    return QStringLiteral(
        "usage: skyvane-cli [options] <command> [arguments]\n"
        "\n"
        "Reads and sets members of the monitor's class XOB_Skyvane.Nephor on the\n"
        "session bus. Each run attaches as one client for its duration.\n"
        "\n"
        "commands:\n"
        "  list                      the members in interface order (-l: with kinds and types)\n"
        "  get <Member>              read a property, or call a method without arguments\n"
        "  set <Member> <value>      write a property\n"
        "  call <Member> [args...]   call a method; by-reference arguments are printed\n"
        "                            after the result as <name>=<value>\n"
        "\n"
        "options:\n"
        "  --class <name>            another class (default XOB_Skyvane.Nephor)\n"
        "  --timeout <ms>            call timeout, 1 to 2000 (default 2000); Device_Start\n"
        "                            waits up to 125 s, until the start has ended\n"
        "  --no-start                do not let the bus start the monitor\n"
        "  -l                        long list\n"
        "  -h, --help                this text\n"
        "  --version                 the program's version\n"
        "\n"
        "Values are converted to the member's declared type: numbers in the C\n"
        "locale (3.5), booleans True/False or a number, texts as typed; write\n"
        "@list:a,b,c for an array.\n"
        "\n"
        "examples:\n"
        "  skyvane-cli call Device_Start\n"
        "  skyvane-cli get Safe\n"
        "  skyvane-cli set XOB_SpeedUnits k\n"
        "  skyvane-cli call XOB_DataDisplayed value cloud\n"
        "\n"
        "exit status: 0 done, 1 the member failed or does not exist, 2 bad\n"
        "command line, 3 no bus or the class could not be created.\n");
}

Options parseArguments(const QStringList& argv)
{
    Options o;
    QStringList rest;
    for (int i = 0; i < argv.size(); ++i) {
        const QString& a = argv[i];
        if (!rest.isEmpty()) {
            rest << a; // everything after the command belongs to it, "-5" included
            continue;
        }
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            o.command = Command::Help;
            return o;
        }
        if (a == QLatin1String("--version")) {
            o.command = Command::Version;
            return o;
        }
        if (a == QLatin1String("-l")) {
            o.longList = true;
        } else if (a == QLatin1String("--no-start")) {
            o.noStart = true;
        } else if (a == QLatin1String("--class") || a == QLatin1String("--timeout")) {
            if (i + 1 >= argv.size()) {
                o.error = QStringLiteral("%1 needs a value").arg(a);
                return o;
            }
            const QString v = argv[++i];
            if (a == QLatin1String("--class")) {
                o.progId = v;
            } else {
                bool ok = false;
                o.timeoutMs = v.toInt(&ok);
                if (!ok || o.timeoutMs < 1 || o.timeoutMs > 2000) {
                    o.error = QStringLiteral("--timeout takes 1 to 2000 milliseconds, not \"%1\"").arg(v);
                    return o;
                }
            }
        } else if (a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            o.error = QStringLiteral("unknown option %1").arg(a);
            return o;
        } else {
            rest << a;
        }
    }
    if (rest.isEmpty()) {
        o.error = QStringLiteral("no command given");
        return o;
    }
    const QString cmd = rest.takeFirst();
    auto need = [&](int min, int max) {
        if (rest.size() < min || (max >= 0 && rest.size() > max)) {
            o.error = max == min ? QStringLiteral("%1 takes %2 argument(s)").arg(cmd).arg(min)
                                 : QStringLiteral("%1 takes at least %2 argument(s)").arg(cmd).arg(min);
            return false;
        }
        return true;
    };
    if (cmd == QLatin1String("list")) {
        if (rest.removeAll(QStringLiteral("-l")) > 0) o.longList = true;
        if (!need(0, 0)) return o;
        o.command = Command::List;
    } else if (cmd == QLatin1String("get")) {
        if (!need(1, 1)) return o;
        o.command = Command::Get;
    } else if (cmd == QLatin1String("set")) {
        if (!need(2, 2)) return o;
        o.command = Command::Set;
    } else if (cmd == QLatin1String("call")) {
        if (!need(1, -1)) return o;
        o.command = Command::Call;
    } else {
        o.error = QStringLiteral("unknown command \"%1\"").arg(cmd);
        return o;
    }
    if (!rest.isEmpty()) o.member = rest.takeFirst();
    o.args = rest;
    return o;
}

QVariant argumentValue(const QString& word)
{
    if (word.startsWith(QLatin1String("@list:"))) {
        QVariantList list;
        const QString body = word.mid(6);
        if (!body.isEmpty())
            for (const QString& part : body.split(QLatin1Char(','))) list << part;
        return list;
    }
    return word;
}

namespace {
bool isList(const QVariant& v) { return v.metaType().id() == QMetaType::QVariantList; }
} // namespace

QString formatValue(const QVariant& v)
{
    if (!v.isValid()) return {};
    if (v.canConvert<QDBusObjectPath>() && v.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return v.value<QDBusObjectPath>().path();
    if (isList(v)) {
        const QVariantList items = v.toList();
        bool twoD = !items.isEmpty();
        for (const QVariant& e : items) twoD = twoD && isList(e);
        QStringList lines;
        for (const QVariant& e : items) {
            if (!twoD) {
                lines << formatValue(e);
                continue;
            }
            QStringList cells;
            for (const QVariant& c : e.toList()) cells << formatValue(c);
            lines << cells.join(QLatin1Char('\t'));
        }
        return lines.join(QLatin1Char('\n'));
    }
    return automation::toText(v);
}

int memberTimeoutMs(const QString& member, int normalMs)
{
    if (member == QLatin1String("Device_Start")) return std::max(normalMs, kStartCallMs);
    return normalMs;
}

} // namespace skyvane::cli
