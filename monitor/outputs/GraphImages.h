#pragma once
// The graph image files: names, format and flags, and the writer that never
// leaves a half-written file where readers look.

#include "GraphSettings.h"

#include <QString>

class QImage;

namespace skyvane {
class FreeImageLibrary;
}

namespace skyvane::outputs {

// Folder part: the trimmed folder followed by a separator unless it ends in
// one already; empty for an empty folder (then no images are written).
QString imageFolderPart(const QString& folder);
// ".png" or ".jpg".
QString imageExtension(bool png);
// Full name of a graph's image; empty when the folder is empty.
QString imageFileName(const QString& folder, GraphId g, bool png);
// Format code and save flags of the choice.
int imageFormat(bool png);
int imageFlags(bool png, JpegQuality q);

enum class SaveOutcome { Saved, Failed, NoLibrary };
// The image saver: encodes the picture to a temporary file in the same
// folder and renames it over fileName, so readers see the old file or the
// new one, never a part. A failure leaves the old file in place.
SaveOutcome saveGraphImage(const FreeImageLibrary* library, const QImage& picture, const QString& fileName, int format,
                           int flags);

} // namespace skyvane::outputs
