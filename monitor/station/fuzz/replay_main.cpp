// Runs a fuzz target over files and folders given on the command line, so
// that ordinary builds (without libFuzzer) check every input of the corpus.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int runFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return -1;
    }
    const QByteArray bytes = f.readAll();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
    return 1;
}

int main(int argc, char** argv)
{
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const QFileInfo fi(arg);
        if (fi.isDir()) {
            QDirIterator it(arg, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const int r = runFile(it.next());
                if (r < 0) return 2;
                files += r;
            }
        } else {
            const int r = runFile(arg);
            if (r < 0) return 2;
            files += r;
        }
    }
    std::printf("replayed %d inputs\n", files);
    // An empty corpus means the test checked nothing.
    return files > 0 ? 0 : 1;
}
