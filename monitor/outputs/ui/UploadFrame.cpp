#include "UploadFrame.h"

#include "XOBGetNumber.h"

#include "MonitorApi.h"
#include "Uploads.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace skyvane::outputs {

QStringList uploadFileFilters()
{
    // The dialog's filters of old, in its own words; the file dialog here
    // takes blank-separated patterns.
    return {QStringLiteral("PNG images(*.png)"),
            QStringLiteral("JPG Images(*.jpg)"),
            QStringLiteral("GIF Images(*.gif)"),
            QStringLiteral("BMP Images(*.bmp)"),
            QStringLiteral("HTML Files(*.htm*)"),
            QStringLiteral("SCRIPT Files (*.vbs *.js)"),
            QStringLiteral("ALL Images (*.bmp *.jpg *.gif *.png)"),
            QStringLiteral("ALL Files(*)")};
}

namespace {
QLineEdit* field(const char* name, QWidget* parent)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    return e;
}
} // namespace

UploadFrame::UploadFrame(MonitorApi& core, QWidget* parent) : QGroupBox(QStringLiteral("Upload"), parent), core_(core)
{
    setObjectName(QStringLiteral("FrameUpload"));
    auto* lay = new QHBoxLayout(this);

    // The list and its buttons.
    auto* left = new QVBoxLayout;
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("XOBFileList"));
    // Rows line up by their prefix ("*** " or blanks).
    list_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    list_->setMinimumSize(260, 110);
    list_->viewport()->installEventFilter(this);
    left->addWidget(list_, 1);
    auto* buttons = new QHBoxLayout;
    add_ = new QPushButton(QStringLiteral("Add..."), this);
    add_->setObjectName(QStringLiteral("ButtFileADD"));
    del_ = new QPushButton(QStringLiteral("Delete"), this);
    del_->setObjectName(QStringLiteral("ButtFileDEL"));
    uploadOnce_ = new QCheckBox(QStringLiteral("Upload once"), this);
    uploadOnce_->setObjectName(QStringLiteral("UploadOnce"));
    dispFileNameOnly_ = new QCheckBox(QStringLiteral("File name only"), this);
    dispFileNameOnly_->setObjectName(QStringLiteral("DispFileNameOnly"));
    buttons->addWidget(add_);
    buttons->addWidget(del_);
    buttons->addWidget(uploadOnce_);
    buttons->addWidget(dispFileNameOnly_);
    buttons->addStretch();
    left->addLayout(buttons);
    lay->addLayout(left, 3);

    // The server and the upload settings.
    auto* g = new QGridLayout;
    int r = 0;
    server_ = field("ServerAddress", this);
    server_->setPlaceholderText(QStringLiteral("ftp://host/"));
    serverPath_ = field("ServerPath", this);
    user_ = field("UserName", this);
    password_ = field("PassWord", this);
    password_->setEchoMode(QLineEdit::Password);
    for (QLineEdit* e : {server_, serverPath_, user_, password_}) e->installEventFilter(this);
    g->addWidget(new QLabel(QStringLiteral("Server"), this), r, 0);
    g->addWidget(server_, r++, 1, 1, 3);
    g->addWidget(new QLabel(QStringLiteral("Folder"), this), r, 0);
    g->addWidget(serverPath_, r++, 1, 1, 3);
    g->addWidget(new QLabel(QStringLiteral("User"), this), r, 0);
    g->addWidget(user_, r, 1);
    g->addWidget(new QLabel(QStringLiteral("Password"), this), r, 2);
    g->addWidget(password_, r++, 3);

    // Whole seconds: three digits hold any sensible time-out (0 would mean
    // "wait for ever" to the transfer, so 1 is the least taken).
    timeout_ = new XOBGetNumber(this);
    timeout_->setObjectName(QStringLiteral("TimeoutUPLOAD"));
    timeout_->setDigitsMostSignificant(3);
    timeout_->setDigitsDecimal(0);
    timeout_->setMaximumWidth(64);
    refresh_ = new QComboBox(this);
    refresh_->setObjectName(QStringLiteral("RefreshUpload"));
    refresh_->addItems({QStringLiteral(" 5 sec"), QStringLiteral("10 sec"), QStringLiteral("30 sec"), QStringLiteral("60 sec")});
    g->addWidget(new QLabel(QStringLiteral("Time-out (s)"), this), r, 0);
    g->addWidget(timeout_, r, 1);
    g->addWidget(new QLabel(QStringLiteral("Check every"), this), r, 2);
    g->addWidget(refresh_, r++, 3);

    uploadOnSec_ = new XOBGetNumber(this);
    uploadOnSec_->setObjectName(QStringLiteral("UploadOnSec"));
    uploadOnSec_->setDigitsMostSignificant(2);
    uploadOnSec_->setDigitsDecimal(0);
    uploadOnSec_->setMaximumWidth(64);
    tls_ = new QComboBox(this);
    tls_->setObjectName(QStringLiteral("UploadTLS"));
    for (UploadTls t : {UploadTls::Required, UploadTls::IfOffered, UploadTls::None}) tls_->addItem(uploadTlsItem(t));
    tls_->setToolTip(QStringLiteral("How the login and the files are protected on the way to the server"));
    g->addWidget(new QLabel(QStringLiteral("On second"), this), r, 0);
    g->addWidget(uploadOnSec_, r, 1);
    g->addWidget(new QLabel(QStringLiteral("Security"), this), r, 2);
    g->addWidget(tls_, r++, 3);

    caFile_ = field("UploadCAFile", this);
    caFile_->setPlaceholderText(QStringLiteral("system certificates"));
    caFile_->setToolTip(QStringLiteral("A CA certificate (PEM) to trust besides the system's, e.g. for a server's own certificate"));
    caButton_ = new QPushButton(QStringLiteral("CA file..."), this);
    caButton_->setObjectName(QStringLiteral("ButtCAFile"));
    g->addWidget(caButton_, r, 0);
    g->addWidget(caFile_, r++, 1, 1, 3);
    uploader_ = new QLabel(this);
    uploader_->setObjectName(QStringLiteral("LblUploader"));
    g->addWidget(uploader_, r++, 0, 1, 4);
    g->setColumnStretch(1, 1);
    g->setColumnStretch(3, 1);
    g->setRowStretch(r, 1);
    lay->addLayout(g, 2);

    // The pop-up menu of the list.
    popup_ = new QMenu(this);
    popup_->setObjectName(QStringLiteral("mPopup1"));
    popOnce_ = popup_->addAction(QStringLiteral("&Upload Once"));
    popOnce_->setCheckable(true);
    popup_->addSeparator();
    popDelete_ = popup_->addAction(QStringLiteral("&Delete"));
    popAdd_ = popup_->addAction(QStringLiteral("&Add"));

    auto openAdd = [this] {
        QFileDialog* d = makeAddDialog();
        if (d->exec() == QDialog::Accepted) addFiles(d->selectedFiles());
        d->deleteLater();
    };
    connect(add_, &QPushButton::clicked, this, openAdd);
    connect(popAdd_, &QAction::triggered, this, openAdd);
    connect(del_, &QPushButton::clicked, this, &UploadFrame::deleteSelected);
    connect(popDelete_, &QAction::triggered, this, &UploadFrame::deleteSelected);
    connect(popOnce_, &QAction::triggered, this, [this](bool on) { setUploadOnce(on); });
    connect(uploadOnce_, &QCheckBox::clicked, this, [this](bool on) { setUploadOnce(on); });
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (refreshing_) return;
        core_.editUploads([row](Uploads& u) { u.list().setListIndex(row); });
        uploadOnce_->setChecked(uploads().list().ItemUploadOnce(row + 1));
    });
    connect(dispFileNameOnly_, &QCheckBox::toggled, this, [this](bool on) {
        if (refreshing_) return;
        core_.editUploads([on](Uploads& u) { u.list().setDisplayFullName(!on); });
        refresh();
    });
    connect(server_, &QLineEdit::editingFinished, this, [this] { checkServerField(server_, false); });
    connect(serverPath_, &QLineEdit::editingFinished, this, [this] { checkServerField(serverPath_, true); });
    for (QLineEdit* e : {user_, password_, caFile_}) connect(e, &QLineEdit::editingFinished, this, &UploadFrame::pull);
    // Typed numbers count when the field is left or Return is pressed.
    connect(timeout_, &XOBGetNumber::validate, this, [this](bool&) {
        if (timeout_->isUserEdited()) pull();
    });
    connect(uploadOnSec_, &XOBGetNumber::validate, this, [this](bool&) {
        if (uploadOnSec_->isUserEdited()) pull();
    });
    connect(refresh_, &QComboBox::currentIndexChanged, this, &UploadFrame::pull);
    connect(tls_, &QComboBox::currentIndexChanged, this, &UploadFrame::pull);
    connect(caButton_, &QPushButton::clicked, this, [this] {
        const QString f = QFileDialog::getOpenFileName(this, QStringLiteral("Select a CA certificate"),
                                                       QFileInfo(caFile_->text()).path(),
                                                       QStringLiteral("Certificates (*.pem *.crt);;All Files (*)"));
        if (!f.isEmpty()) {
            caFile_->setText(f);
            pull();
        }
    });
    connect(&core_, &MonitorApi::changed, this, [this] {
        // The window redraws after every read cycle: the list only when it
        // may differ.
        QTimer::singleShot(0, this, &UploadFrame::refresh);
    });
    refresh();
}

const Uploads& UploadFrame::uploads() const { return core_.uploads(); }

QFileDialog* UploadFrame::makeAddDialog()
{
    auto* d = new QFileDialog(this, QStringLiteral("Select Files to UPLOAD"), uploads().config().uploadDir);
    d->setObjectName(QStringLiteral("AddFilesDialog"));
    d->setNameFilters(uploadFileFilters());
    d->selectNameFilter(uploadFileFilters().first());
    d->setFileMode(QFileDialog::ExistingFiles);
    d->setAcceptMode(QFileDialog::AcceptOpen);
    d->selectFile(QString());
    return d;
}

void UploadFrame::addFiles(const QStringList& names)
{
    if (names.isEmpty()) return;
    QString dir = QFileInfo(names.first()).path();
    if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
    core_.editUploads([&](Uploads& u) {
        u.config().uploadDir = dir;
        u.list().addFiles(names);
    });
    refresh();
}

void UploadFrame::deleteSelected()
{
    if (uploads().list().ListIndex() < 0) return;
    core_.editUploads([](Uploads& u) { u.list().Remove(u.list().ListIndex() + 1); });
    refresh();
}

void UploadFrame::setUploadOnce(bool on)
{
    if (uploads().list().ListIndex() < 0) return;
    core_.editUploads([on](Uploads& u) { u.list().setItemUploadOnce(u.list().ListIndex() + 1, on); });
    refresh();
}

void UploadFrame::checkServerField(QLineEdit* f, bool path)
{
    const QString checked = path ? checkedServerPath(f->text()) : checkedServerAddress(f->text());
    if (checked != f->text()) {
        f->setText(checked);
        // The user sees what was changed before going on.
        f->setFocus();
    }
    pull();
}

void UploadFrame::pull()
{
    if (refreshing_) return;
    core_.editUploads([this](Uploads& u) {
        UploadConfig& c = u.config();
        c.server = server_->text();
        c.serverPath = serverPath_->text();
        c.username = user_->text();
        c.password = password_->text();
        c.timeoutUpload = std::max(1, int(timeout_->value()));
        c.uploadOnSec = std::max(0, int(uploadOnSec_->value()));
        c.refreshUpload = refresh_->currentIndex();
        c.tls = UploadTls(std::clamp(tls_->currentIndex(), 0, 2));
        c.caFile = caFile_->text();
    });
}

void UploadFrame::refresh()
{
    refreshing_ = true;
    const Uploads& u = uploads();
    const XOBFileList& l = u.list();
    const QStringList rows = l.rows();
    QStringList shown;
    for (int i = 0; i < list_->count(); ++i) shown << list_->item(i)->text();
    if (shown != rows) {
        list_->clear();
        list_->addItems(rows);
    }
    if (list_->currentRow() != l.ListIndex()) list_->setCurrentRow(l.ListIndex());
    uploadOnce_->setChecked(l.ItemUploadOnce(l.ListIndex() + 1));
    dispFileNameOnly_->setChecked(!l.DisplayFullName());
    const UploadConfig& c = u.config();
    auto setText = [](QLineEdit* e, const QString& t) {
        if (!e->hasFocus() && e->text() != t) e->setText(t);
    };
    setText(server_, c.server);
    setText(serverPath_, c.serverPath);
    setText(user_, c.username);
    setText(password_, c.password);
    setText(caFile_, c.caFile);
    timeout_->showValue(double(c.timeoutUpload));
    uploadOnSec_->showValue(double(c.uploadOnSec));
    refresh_->setCurrentIndex(std::clamp(c.refreshUpload, 0, 3));
    tls_->setCurrentIndex(int(c.tls));
    const bool open = !u.locked();
    for (QWidget* w : std::initializer_list<QWidget*>{server_, serverPath_, user_, password_, timeout_, uploadOnSec_,
                                                      refresh_, uploadOnce_, add_, del_, tls_, caFile_, caButton_})
        w->setEnabled(open);
    uploader_->setText(u.uploaderRunning() ? QStringLiteral("Uploader running")
                       : u.armed()         ? QStringLiteral("Waiting for changed files")
                                           : QString());
    refreshing_ = false;
}

void UploadFrame::showPopupAt(const QPoint& globalPos, bool exec)
{
    const XOBFileList& l = uploads().list();
    const bool selected = l.ListIndex() >= 0;
    popOnce_->setEnabled(selected);
    popDelete_->setEnabled(selected);
    popOnce_->setChecked(selected && l.ItemUploadOnce(l.ListIndex() + 1));
    if (exec) popup_->exec(globalPos);
}

bool UploadFrame::eventFilter(QObject* o, QEvent* e)
{
    if (o == list_->viewport() && e->type() == QEvent::MouseButtonRelease) {
        auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() == Qt::RightButton && add_->isEnabled()) {
            showPopupAt(me->globalPosition().toPoint());
            return true;
        }
    }
    if (e->type() == QEvent::FocusIn) {
        // Entering a server field selects its whole text.
        if (auto* le = qobject_cast<QLineEdit*>(o)) QTimer::singleShot(0, le, &QLineEdit::selectAll);
    }
    return QGroupBox::eventFilter(o, e);
}

} // namespace skyvane::outputs
