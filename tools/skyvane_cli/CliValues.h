#pragma once
// How skyvane-cli reads its command line and prints results.

#include <QString>
#include <QStringList>
#include <QVariant>

namespace skyvane::cli {

inline constexpr const char* kDefaultClass = "XOB_Skyvane.Nephor";

enum class Command { None, List, Get, Set, Call, Help, Version };

struct Options {
    Command command = Command::None;
    QString progId = QString::fromLatin1(kDefaultClass);
    int timeoutMs = 2000;
    bool longList = false; // list with kinds and signatures
    bool noStart = false;  // do not start the monitor through the bus
    QString member;
    QStringList args;      // values as typed
    QString error;         // usage error, empty when the line is good
};

Options parseArguments(const QStringList& argv); // without the program name
QString usage();

// A typed word as a call argument: "True"/"False" stay text (the call
// converts them for a bool), numbers stay text too, so the declared type of
// the member decides. Only the form "@list:a,b,c" builds an array.
QVariant argumentValue(const QString& word);

// A result as text for the terminal: numbers in the C locale, booleans as
// True/False, dates as yyyy-MM-dd hh:mm:ss, arrays one element per line and
// two-dimensional arrays one row per line with tabs between the elements.
QString formatValue(const QVariant& v);

// How long a call of member may take. Device_Start answers when the start
// has ended, which includes the monitor's wait for the sensor server's first
// data (its NPTimeout setting): it gets kStartCallMs; every other member the
// normal timeout.
inline constexpr int kStartCallMs = 125000;
int memberTimeoutMs(const QString& member, int normalMs);

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1; // the member failed or does not exist
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoServer = 3; // no bus, or the class could not be created

} // namespace skyvane::cli
