#include "FreeImageLibrary.h"

#include <QDir>
#include <QLibrary>

namespace skyvane {

struct FreeImageLibrary::Api {
    QLibrary lib;
    using InitFn = void (*)(int);
    using DeInitFn = void (*)();
    InitFn initialise = nullptr;
    DeInitFn deinitialise = nullptr;
    bool initialised = false;
};

FreeImageLibrary::FreeImageLibrary() = default;
FreeImageLibrary::~FreeImageLibrary() { deinitialise(); }

bool FreeImageLibrary::initialise(const QString& programDir)
{
    deinitialise();
    auto api = std::make_unique<Api>();
    QStringList candidates;
    const QByteArray forced = qgetenv("SKYVANE_FREEIMAGE");
    if (!forced.isEmpty()) {
        candidates << QString::fromLocal8Bit(forced);
    } else {
        candidates << QDir(programDir).filePath(QStringLiteral("libfreeimage.so.3")) << QStringLiteral("freeimage")
                   << QStringLiteral("libfreeimage.so.3");
    }
    for (const QString& c : candidates) {
        api->lib.setFileName(c);
        if (api->lib.load()) break;
    }
    if (!api->lib.isLoaded()) {
        error_ = api->lib.errorString();
        return false;
    }
    api->initialise = reinterpret_cast<Api::InitFn>(api->lib.resolve("FreeImage_Initialise"));
    api->deinitialise = reinterpret_cast<Api::DeInitFn>(api->lib.resolve("FreeImage_DeInitialise"));
    if (!api->initialise || !api->deinitialise) {
        error_ = QStringLiteral("not a FreeImage library: %1").arg(api->lib.fileName());
        return false;
    }
    api->initialise(0);
    api->initialised = true;
    api_ = std::move(api);
    error_.clear();
    return true;
}

void FreeImageLibrary::deinitialise()
{
    if (api_ && api_->initialised && api_->deinitialise) api_->deinitialise();
    api_.reset();
}

bool FreeImageLibrary::isLoaded() const { return api_ != nullptr; }

} // namespace skyvane
