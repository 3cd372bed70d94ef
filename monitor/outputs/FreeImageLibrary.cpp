#include "FreeImageLibrary.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLibrary>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace skyvane {

struct FreeImageLibrary::Api {
    QLibrary lib;
    using InitFn = void (*)(int);
    using DeInitFn = void (*)();
    using AllocateFn = void* (*)(int, int, int, unsigned, unsigned, unsigned);
    using GetBitsFn = unsigned char* (*)(void*);
    using GetUnsignedFn = unsigned (*)(void*);
    using ConvertFn = void* (*)(void*);
    using SaveFn = int (*)(int, void*, const char*, int);
    using UnloadFn = void (*)(void*);
    // The library's own I/O table: it writes through our functions, so that
    // a write that fails (a full disk) is seen. Saving by file name, the
    // library ignores a failed write and reports success over a cut file.
    struct Io {
        unsigned (*read)(void*, unsigned, unsigned, void*);
        unsigned (*write)(void*, unsigned, unsigned, void*);
        int (*seek)(void*, long, int);
        long (*tell)(void*);
    };
    using SaveToHandleFn = int (*)(int, void*, Io*, void*, int);
    InitFn initialise = nullptr;
    DeInitFn deinitialise = nullptr;
    AllocateFn allocate = nullptr;
    GetBitsFn getBits = nullptr;
    GetUnsignedFn getPitch = nullptr;
    GetUnsignedFn getBPP = nullptr;
    ConvertFn convertTo24 = nullptr;
    SaveFn save = nullptr;
    UnloadFn unload = nullptr;
    SaveToHandleFn saveToHandle = nullptr;
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
    api->allocate = reinterpret_cast<Api::AllocateFn>(api->lib.resolve("FreeImage_Allocate"));
    api->getBits = reinterpret_cast<Api::GetBitsFn>(api->lib.resolve("FreeImage_GetBits"));
    api->getPitch = reinterpret_cast<Api::GetUnsignedFn>(api->lib.resolve("FreeImage_GetPitch"));
    api->getBPP = reinterpret_cast<Api::GetUnsignedFn>(api->lib.resolve("FreeImage_GetBPP"));
    api->convertTo24 = reinterpret_cast<Api::ConvertFn>(api->lib.resolve("FreeImage_ConvertTo24Bits"));
    api->save = reinterpret_cast<Api::SaveFn>(api->lib.resolve("FreeImage_Save"));
    api->unload = reinterpret_cast<Api::UnloadFn>(api->lib.resolve("FreeImage_Unload"));
    api->saveToHandle = reinterpret_cast<Api::SaveToHandleFn>(api->lib.resolve("FreeImage_SaveToHandle"));
    if (!api->initialise || !api->deinitialise || !api->allocate || !api->getBits || !api->getPitch || !api->getBPP
        || !api->convertTo24 || !api->save || !api->unload) {
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

namespace {

// One file written through the library's I/O table; the first error stays.
struct FileSink {
    int fd = -1;
    int error = 0;

    static unsigned read(void*, unsigned, unsigned, void*) { return 0; }
    static unsigned write(void* buffer, unsigned size, unsigned count, void* handle)
    {
        auto* f = static_cast<FileSink*>(handle);
        if (f->error) return 0;
        const char* p = static_cast<const char*>(buffer);
        size_t left = size_t(size) * count;
        while (left > 0) {
            const ssize_t n = ::write(f->fd, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                f->error = n < 0 ? errno : ENOSPC;
                return 0;
            }
            p += n;
            left -= size_t(n);
        }
        return count;
    }
    static int seek(void* handle, long offset, int origin)
    {
        auto* f = static_cast<FileSink*>(handle);
        return ::lseek(f->fd, off_t(offset), origin) < 0 ? -1 : 0;
    }
    static long tell(void* handle) { return long(::lseek(static_cast<FileSink*>(handle)->fd, 0, SEEK_CUR)); }
};

} // namespace

bool FreeImageLibrary::save(const QImage& picture, const QString& fileName, int format, int flags) const
{
    if (!api_ || picture.isNull()) return false;
    const QImage src = picture.convertToFormat(QImage::Format_RGB32);
    const int w = src.width(), h = src.height();
    void* bitmap = api_->allocate(w, h, 24, 0, 0, 0);
    if (!bitmap) return false;
    if (api_->getBPP(bitmap) != 24) {
        void* converted = api_->convertTo24(bitmap);
        api_->unload(bitmap);
        if (!converted) return false;
        bitmap = converted;
    }
    unsigned char* bits = api_->getBits(bitmap);
    const unsigned pitch = api_->getPitch(bitmap);
    if (!bits) {
        api_->unload(bitmap);
        return false;
    }
    // The library's rows run bottom-up with blue first in each pixel.
    for (int y = 0; y < h; ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        unsigned char* out = bits + size_t(h - 1 - y) * pitch;
        for (int x = 0; x < w; ++x) {
            out[3 * x] = uchar(qBlue(in[x]));
            out[3 * x + 1] = uchar(qGreen(in[x]));
            out[3 * x + 2] = uchar(qRed(in[x]));
        }
    }
    const QByteArray name = QFile::encodeName(fileName);
    bool ok = false;
    if (api_->saveToHandle) {
        FileSink sink;
        sink.fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (sink.fd >= 0) {
            Api::Io io{&FileSink::read, &FileSink::write, &FileSink::seek, &FileSink::tell};
            ok = api_->saveToHandle(format, bitmap, &io, &sink, flags) == 1 && sink.error == 0;
            // late allocation reports a full disk only here
            if (ok && ::fsync(sink.fd) != 0 && errno != EINVAL) ok = false;
            if (::close(sink.fd) != 0) ok = false;
        }
    } else {
        ok = api_->save(format, bitmap, name.constData(), flags) == 1;
    }
    api_->unload(bitmap);
    return ok;
}

} // namespace skyvane
