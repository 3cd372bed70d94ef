#pragma once
// The user data file: a CSV log of the columns the user chose, one header
// line each time recording starts and one data line every save period.
//
// Every line has the same form: each value in double quotes followed by a
// comma (the last one too), then CR LF. Quotes inside a value are written as
// they are; readers of these files have always split on '",'.

#include "OutputValues.h"

#include <QString>
#include <QByteArray>
#include <array>
#include <functional>

namespace skyvane::outputs {

inline constexpr int kColumnCount = 25;
inline constexpr int kHeaderWidth = 25; // header texts are kept to 25 characters

struct DataColumn {
    QString header;     // trimmed before use
    int quantity = 0;   // 1..25
    bool include = true;
    bool operator==(const DataColumn&) const = default;
};

// Positions 1..25 are elements 0..24: the position is the output order.
struct ColumnTable {
    std::array<DataColumn, kColumnCount> columns;
    static ColumnTable defaults();
    bool operator==(const ColumnTable&) const = default;
};

// Default header word of a quantity id 1..25 ("Date" ... "Safe Condtition");
// empty outside.
QString defaultHeader(int quantity);
// The chooser's default item text: "(01) Date" ... "(25) Safe Condtition".
QString defaultChooserText(int quantity);

// The value of one quantity as written to the file; empty for an id
// outside 1..25. Numbers use the regional decimal symbol.
QString formatQuantity(int quantity, const OutputValues& v);

// The header line and a data line, CR LF included, as text.
QString headerLine(const ColumnTable& table);
QString dataLine(const ColumnTable& table, const OutputValues& v);

// The file itself and its save period. Each line goes to the file in one
// write and is synced before the call returns, so that a crash or a power
// cut costs at most the line being written and the file still parses.
class UserDataFile {
public:
    UserDataFile() = default;
    ~UserDataFile();
    UserDataFile(const UserDataFile&) = delete;
    UserDataFile& operator=(const UserDataFile&) = delete;

    // folder + "/" + trimmed name + ".csv"
    static QString fullName(const QString& folder, const QString& name);

    // Opens for appending or for output (created or truncated), then writes
    // the header line. False, with the reason in errorString(), when the
    // file could not be opened; recording is then off.
    bool open(const QString& path, bool append, const ColumnTable& table);
    void close();
    bool isRecording() const { return fd_ >= 0; }
    QString path() const { return path_; }
    QString errorString() const { return error_; }

    // The line writer of one read cycle: the first recording cycle after
    // program start writes, then every save-period-th recording cycle.
    // Cycles without recording do not count, and stopping does not reset
    // the count. True when a line was written; a line that could not be
    // written (see lastWriteOk()) is lost, never left cut in the file.
    bool cycle(const ColumnTable& table, int savePeriod, const OutputValues& v);
    int cycleCounter() const { return counter_; }
    // False after a line that could not be written, with errorString() set,
    // until a line is written again.
    bool lastWriteOk() const { return lastWriteOk_; }

private:
    void endUnfinishedLine();
    bool writeLine(const QByteArray& line);

    int fd_ = -1;
    int counter_ = 0;
    bool lastWriteOk_ = true;
    bool cutLine_ = false; // a cut line of ours that could not be taken back
    QString path_;
    QString error_;
};

// What the user's Start did.
enum class StartOutcome {
    Started,
    NoName,      // empty file name: refused without a word
    NoFolder,    // "Define the PATH for User Data File"
    Cancelled,   // Cancel to "Append to existing file"
    OpenFailed,  // d13
};

// The answer to "Append to existing file".
enum class AppendAnswer { Yes, No, Cancel };

// Start by the user: checks the name and folder, asks about an existing
// file (only then is askAppend called), opens and writes the header.
StartOutcome startByUser(UserDataFile& file, const QString& folder, const QString& name, const ColumnTable& table,
                         const std::function<AppendAnswer()>& askAppend);

} // namespace skyvane::outputs
