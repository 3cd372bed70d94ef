#include "UploadList.h"

namespace skyvane::outputs {

namespace {
int lastSeparator(const QString& s)
{
    return std::max(s.lastIndexOf(QLatin1Char('/')), s.lastIndexOf(QLatin1Char('\\')));
}
} // namespace

QString rowPrefix(bool uploadOnce) { return uploadOnce ? QStringLiteral("*** ") : QStringLiteral("     "); }

std::pair<QString, QString> splitPathName(const QString& pathName)
{
    const int sep = lastSeparator(pathName);
    if (sep < 0) return {QString(), pathName};
    return {pathName.left(sep), pathName.mid(sep + 1)};
}

QString checkedServerAddress(const QString& text)
{
    if (text.isEmpty() || text.endsWith(QLatin1Char('/'))) return text;
    return text + QLatin1Char('/');
}

QString checkedServerPath(const QString& text)
{
    if (text.isEmpty()) return text;
    QString t = text;
    if (!t.endsWith(QLatin1Char('/'))) t += QLatin1Char('/');
    // Remote names are relative to the login folder: "/night" would send
    // the files to the server's root wherever the account lives.
    if (t.startsWith(QLatin1Char('/'))) t.remove(0, 1);
    return t;
}

void XOBFileList::Add(const QString& name, const QString& path, const QDateTime& stamp, bool uploadOnce)
{
    FileItem it;
    it.fileName = name;
    it.folder = path;
    it.handedOverStamp = stamp;
    it.uploadOnce = uploadOnce;
    it.key = ++counter_;
    items_.push_back(it);
}

void XOBFileList::Remove(int index)
{
    if (!valid(index)) return;
    items_.remove(index - 1);
    // The selection stays on the same row, or the last one when that row
    // is gone.
    if (listIndex_ >= items_.size()) listIndex_ = int(items_.size()) - 1;
}

void XOBFileList::Clear()
{
    items_.clear();
    listIndex_ = -1;
}

QString XOBFileList::ItemName(int index) const { return valid(index) ? items_[index - 1].fileName : QString(); }
void XOBFileList::setItemName(int index, const QString& name)
{
    if (valid(index)) items_[index - 1].fileName = name;
}
QString XOBFileList::ItemPath(int index) const { return valid(index) ? items_[index - 1].folder : QString(); }
void XOBFileList::setItemPath(int index, const QString& path)
{
    if (valid(index)) items_[index - 1].folder = path;
}
QDateTime XOBFileList::ItemDateTimeStamp(int index) const
{
    return valid(index) ? items_[index - 1].handedOverStamp : QDateTime();
}
void XOBFileList::setItemDateTimeStamp(int index, const QDateTime& stamp)
{
    if (valid(index)) items_[index - 1].handedOverStamp = stamp;
}
bool XOBFileList::ItemUploadOnce(int index) const { return valid(index) && items_[index - 1].uploadOnce; }
void XOBFileList::setItemUploadOnce(int index, bool once)
{
    if (valid(index)) items_[index - 1].uploadOnce = once;
}

QString XOBFileList::ItemPathName(int index) const
{
    if (!valid(index)) return QString();
    const FileItem& it = items_[index - 1];
    if (it.folder.endsWith(QLatin1Char('/')) || it.folder.endsWith(QLatin1Char('\\'))) return it.folder + it.fileName;
    return it.folder + QLatin1Char('/') + it.fileName;
}

void XOBFileList::setItemPathName(int index, const QString& pathName)
{
    if (!valid(index)) return;
    const auto [path, name] = splitPathName(pathName);
    items_[index - 1].fileName = name;
    if (lastSeparator(pathName) >= 0) items_[index - 1].folder = path;
}

void XOBFileList::setListIndex(int row) { listIndex_ = (row >= 0 && row < items_.size()) ? row : -1; }

void XOBFileList::setDisplayFullName(bool full) { displayFullName_ = full; }

QString XOBFileList::row(int index) const
{
    if (!valid(index)) return QString();
    const FileItem& it = items_[index - 1];
    return rowPrefix(it.uploadOnce) + (displayFullName_ ? ItemPathName(index) : it.fileName);
}

QStringList XOBFileList::rows() const
{
    QStringList r;
    for (int i = 1; i <= ListCount(); ++i) r << row(i);
    return r;
}

bool XOBFileList::contains(const QString& pathName) const
{
    for (int i = 1; i <= ListCount(); ++i)
        if (ItemPathName(i) == pathName) return true;
    return false;
}

int XOBFileList::addFiles(const QStringList& pathNames)
{
    int added = 0;
    for (const QString& full : pathNames) {
        if (full.isEmpty() || contains(full)) continue;
        const auto [path, name] = splitPathName(full);
        Add(name, path);
        ++added;
    }
    return added;
}

} // namespace skyvane::outputs
