#pragma once
// The image library that turns graph pictures into PNG or JPEG files. It is
// loaded at run time so that a missing library costs only the graph images
// (code i24), never the monitor.

#include <QString>
#include <memory>

class QImage;

namespace skyvane {

class FreeImageLibrary {
public:
    FreeImageLibrary();
    ~FreeImageLibrary();
    // Loads the library (from the program folder first, then the system) and
    // initialises it. False, with errorString() set, when it can not.
    bool initialise(const QString& programDir);
    void deinitialise();
    bool isLoaded() const;
    QString errorString() const { return error_; }

    // Format codes and save flags of the library.
    static constexpr int kFormatJpeg = 2;
    static constexpr int kFormatPng = 13;
    static constexpr int kJpegSuperb = 128;
    static constexpr int kJpegGood = 256;
    static constexpr int kJpegNormal = 512;

    // Copies the picture into a 24-bit library image and saves it under
    // fileName with the format code and flags. True exactly when the library
    // reports success and every byte reached the file (a full disk gives
    // false, never a cut file reported as saved). Safe to call from several threads at once for
    // different files.
    bool save(const QImage& picture, const QString& fileName, int format, int flags) const;

    struct Api;
    const Api* api() const { return api_.get(); }

private:
    std::unique_ptr<Api> api_;
    QString error_;
};

} // namespace skyvane
