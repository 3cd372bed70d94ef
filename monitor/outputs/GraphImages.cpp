#include "GraphImages.h"

#include "FreeImageLibrary.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <cstdio>

namespace skyvane::outputs {

QString imageFolderPart(const QString& folder)
{
    QString f = folder.trimmed();
    if (f.isEmpty()) return QString();
    // a folder typed with the old separator ends the same way
    if (f.endsWith(QLatin1Char('\\'))) f.chop(1);
    if (f.endsWith(QLatin1Char('/'))) return f;
    return f + QLatin1Char('/');
}

QString imageExtension(bool png) { return png ? QStringLiteral(".png") : QStringLiteral(".jpg"); }

QString imageFileName(const QString& folder, GraphId g, bool png)
{
    const QString part = imageFolderPart(folder);
    if (part.isEmpty()) return QString();
    return part + imageBaseName(g) + imageExtension(png);
}

int imageFormat(bool png) { return png ? FreeImageLibrary::kFormatPng : FreeImageLibrary::kFormatJpeg; }

int imageFlags(bool png, JpegQuality q)
{
    if (png) return 0;
    switch (q) {
    case JpegQuality::Top: return FreeImageLibrary::kJpegSuperb;
    case JpegQuality::Good: return FreeImageLibrary::kJpegGood;
    case JpegQuality::Normal: return FreeImageLibrary::kJpegNormal;
    case JpegQuality::None: break;
    }
    return 0;
}

SaveOutcome saveGraphImage(const FreeImageLibrary* library, const QImage& picture, const QString& fileName, int format,
                           int flags)
{
    if (!library || !library->isLoaded()) return SaveOutcome::NoLibrary;
    const QFileInfo target(fileName);
    // Hidden and in the same folder: the rename stays on one file system.
    const QString temp = target.absolutePath() + QLatin1String("/.") + target.fileName() + QLatin1String(".part");
    if (!library->save(picture, temp, format, flags)) {
        QFile::remove(temp);
        return SaveOutcome::Failed;
    }
    // rename() replaces the old file in one step; QFile::rename would not
    // overwrite it.
    if (std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target.absoluteFilePath()).constData()) != 0) {
        QFile::remove(temp);
        return SaveOutcome::Failed;
    }
    return SaveOutcome::Saved;
}

} // namespace skyvane::outputs
