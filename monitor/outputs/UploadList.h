#pragma once
// The upload list of the main window (XOBFileList) without its list box: the
// items, the rows as the list box shows them, and the selected row. Item
// indexes are 1-based as the window's code has always used them; the
// selection is the 0-based row, -1 for none.
//
// Time stamps are not stored with the list: every item starts at "never
// handed over" after a program start, so upload-once files are sent once.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

namespace skyvane::outputs {

struct FileItem {
    QString fileName;          // without folder
    QString folder;            // normally without trailing separator
    QDateTime handedOverStamp; // modification time when last handed over; invalid for a new entry
    bool uploadOnce = false;
    int key = 0;               // the running counter it was added under
};

class XOBFileList {
public:
    void Add(const QString& name, const QString& path, const QDateTime& stamp = {}, bool uploadOnce = false);
    void Remove(int index);
    void Clear();

    QString ItemName(int index) const;
    void setItemName(int index, const QString& name);
    QString ItemPath(int index) const;
    void setItemPath(int index, const QString& path);
    QDateTime ItemDateTimeStamp(int index) const;
    void setItemDateTimeStamp(int index, const QDateTime& stamp);
    bool ItemUploadOnce(int index) const;
    void setItemUploadOnce(int index, bool once);
    // path + separator + name; no second separator when the path ends in one.
    QString ItemPathName(int index) const;
    // Splits at the last separator into path and name.
    void setItemPathName(int index, const QString& pathName);

    int ListCount() const { return int(items_.size()); }
    int ListIndex() const { return listIndex_; }
    void setListIndex(int row);
    bool DisplayFullName() const { return displayFullName_; }
    void setDisplayFullName(bool full);

    // What row k-1 of the list box shows for item k.
    QString row(int index) const;
    QStringList rows() const;
    // True when the full name is already listed (exact comparison).
    bool contains(const QString& pathName) const;
    // Adds each full name that is not listed yet; returns how many were added.
    int addFiles(const QStringList& pathNames);

    const QVector<FileItem>& items() const { return items_; }

private:
    bool valid(int index) const { return index >= 1 && index <= items_.size(); }
    QVector<FileItem> items_;
    int counter_ = 0;
    int listIndex_ = -1;
    bool displayFullName_ = true;
};

// The row prefix: "*** " for an upload-once item, five blanks otherwise.
QString rowPrefix(bool uploadOnce);

// The checks made on leaving the server fields: the address ends in "/"; the
// folder ends in "/" and does not start with one. Empty stays empty.
QString checkedServerAddress(const QString& text);
QString checkedServerPath(const QString& text);

// Splits a full name at its last separator ('/' or '\'): {path, name}.
std::pair<QString, QString> splitPathName(const QString& pathName);

} // namespace skyvane::outputs
