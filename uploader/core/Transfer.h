#pragma once
// What the upload run needs from an FTP client: one command at a time, a busy
// flag while it runs, the last response, and numbered state reports on the
// user-interface thread. The numbers are the ones the log has always shown:
//
//   1 resolving host     2 host resolved     3 connecting      4 connected
//   5 requesting         6 request sent      7 receiving       8 response received
//   9 disconnecting     10 disconnected     11 error          12 response completed
//
// Every command ends with exactly one 11 or 12 (CLOSE ends with 10), reported
// after stillExecuting() has turned false.

#include <QString>
#include <functional>

namespace skyvane {

struct TransferSetup {
    QString url;          // server URL, ending in "/"
    QString username;
    QString password;     // never written to a log or status text
    int timeoutSeconds = 60;
};

class Transfer {
public:
    virtual ~Transfer() = default;
    virtual void configure(const TransferSetup& setup) = 0;
    // Sends the local file under the remote name (relative to the URL).
    virtual void put(const QString& localPath, const QString& remoteName) = 0;
    // Ends the session with the server.
    virtual void close() = 0;
    virtual bool stillExecuting() const = 0;
    virtual int responseCode() const = 0;
    virtual QString responseInfo() const = 0;
    // Number of the last failure (0 when none).
    virtual int errorNumber() const = 0;
    // The last failure came from the local file (it vanished or changed
    // while being sent), not from the server: only that file is lost.
    virtual bool localFault() const = 0;
    // The last failure in a few words for people ("login refused",
    // "certificate not trusted", ...); empty when there was none.
    virtual QString failureReason() const = 0;

    std::function<void(int state)> onStateChanged;
};

} // namespace skyvane
