#include "UploaderWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QScreen>

namespace skyvane {

namespace {
// The stored sizes are twips: 15 to a pixel on a 96 dpi screen.
constexpr int kTwipsPerPixel = 15;
constexpr int kMargin = 8;
constexpr int kTop = 8;

int twipsToPx(int t) { return t / kTwipsPerPixel; }
QString pxToTwips(int px) { return QString::number(px * kTwipsPerPixel); }
} // namespace

bool isStopKey(int key, Qt::KeyboardModifiers mods)
{
    return key == Qt::Key_F6 && !(mods & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier));
}

UploaderWindow::UploaderWindow(SettingsStore& store, UploadRun& run, QWidget* parent)
    : QWidget(parent), store_(store), run_(run), msgList_(new QListWidget(this))
{
    setObjectName(QStringLiteral("XOBUploaderMain"));
    msgList_->setObjectName(QStringLiteral("MsgList"));
    // Keys go to the window, so F6 works wherever the focus is.
    msgList_->setFocusPolicy(Qt::NoFocus);
    setMinimumSize(twipsToPx(4650), twipsToPx(2895));
    setWindowTitle(normalCaption());
    run_.onLog = [this](const QString& l) { addLine(l); };
    run_.onClearLog = [this] { msgList_->clear(); };
    run_.onProgress = [this] { updateCaption(); };
    run_.onSaveWindow = [this] { saveWindow(); };
}

QString UploaderWindow::normalCaption()
{
    return QStringLiteral("XOB_Uploader (v%1.%2)     (<F6>=stop)")
        .arg(SKYVANE_VERSION_MAJOR)
        .arg(SKYVANE_VERSION_MINOR, 2, 10, QLatin1Char('0'));
}

void UploaderWindow::updateCaption()
{
    if (isMinimized())
        setWindowTitle(QStringLiteral("XOB_Uploader %1 of %2").arg(run_.currentIndex()).arg(run_.fileCount()));
    else
        setWindowTitle(normalCaption());
}

void UploaderWindow::addLine(const QString& line)
{
    msgList_->addItem(line);
    msgList_->setCurrentRow(msgList_->count() - 1);
}

void UploaderWindow::restoreAndShow()
{
    auto get = [&](const char* key, const QString& def) {
        return store_.get(kUploaderApp, QStringLiteral("Window"), QString::fromLatin1(key), def);
    };
    const int w = std::max(twipsToPx(settings_codec::toInt(get("Width", "5000"), 5000)), minimumWidth());
    const int h = std::max(twipsToPx(settings_codec::toInt(get("Height", "3000"), 3000)), minimumHeight());
    resize(w, h);
    const QRect screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry()
                                                          : QRect(0, 0, 1024, 768);
    const int cx = screen.x() + (screen.width() - w) / 2, cy = screen.y() + (screen.height() - h) / 2;
    const int left = twipsToPx(settings_codec::toInt(get("Left", pxToTwips(cx)), cx * kTwipsPerPixel));
    const int top = twipsToPx(settings_codec::toInt(get("Top", pxToTwips(cy)), cy * kTwipsPerPixel));
    move(left, top);
    switch (settings_codec::toInt(get("State", "0"), 0)) {
    case 1: showMinimized(); break;
    case 2: showMaximized(); break;
    default: show(); break;
    }
    updateCaption();
}

void UploaderWindow::saveWindow()
{
    const int state = isMinimized() ? 1 : isMaximized() ? 2 : 0;
    const QString win = QStringLiteral("Window");
    store_.save(kUploaderApp, win, QStringLiteral("State"), QString::number(state));
    if (state == 0) {
        store_.save(kUploaderApp, win, QStringLiteral("Left"), pxToTwips(x()));
        store_.save(kUploaderApp, win, QStringLiteral("Top"), pxToTwips(y()));
        store_.save(kUploaderApp, win, QStringLiteral("Height"), pxToTwips(height()));
        store_.save(kUploaderApp, win, QStringLiteral("Width"), pxToTwips(width()));
    }
}

void UploaderWindow::keyPressEvent(QKeyEvent* e)
{
    if (isStopKey(e->key(), e->modifiers())) {
        run_.stopKey();
        e->accept();
        return;
    }
    QWidget::keyPressEvent(e);
}

void UploaderWindow::closeEvent(QCloseEvent* e)
{
    if (run_.requestClose()) e->accept();
    else e->ignore();
}

void UploaderWindow::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::WindowStateChange) updateCaption();
    QWidget::changeEvent(e);
}

void UploaderWindow::resizeEvent(QResizeEvent* e)
{
    msgList_->setGeometry(kMargin, kTop, std::max(0, width() - 2 * kMargin), std::max(0, height() - kTop));
    QWidget::resizeEvent(e);
}

} // namespace skyvane
