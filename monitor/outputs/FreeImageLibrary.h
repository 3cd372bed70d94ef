#pragma once
// The image library that turns graph pictures into PNG or JPEG files. It is
// loaded at run time so that a missing library costs only the graph images
// (code i24), never the monitor.

#include <QString>
#include <memory>

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

    struct Api;
    const Api* api() const { return api_.get(); }

private:
    std::unique_ptr<Api> api_;
    QString error_;
};

} // namespace skyvane
