#include "Dialogs.h"

#include "MonitorConfig.h"
#include "MonitorApi.h"
#include "SettingsStore.h"
#include "Startup.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

namespace skyvane {

// ---- XOBError ---------------------------------------------------------------

MessageDialog::MessageDialog(const QString& text, int flags, const QString& title, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("XOBError"));
    setWindowTitle(title);
    setModal(true);
    auto* lay = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    auto* icon = new QLabel;
    icon->setPixmap(style()->standardIcon(flags == MessageOk ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* label = new QLabel(text);
    label->setObjectName(QStringLiteral("Label1"));
    // Messages quote file names, server answers and settings; none of them
    // may be read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setMinimumWidth(280);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(label, 1);
    lay->addLayout(row);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    QStringList captions;
    QList<int> answers;
    if (flags == MessageYesNo) { captions = {"Yes", "No"}; answers = {AnswerYes, AnswerNo}; }
    else if (flags == MessageYesNoCancel) { captions = {"Yes", "No", "Cancel"}; answers = {AnswerYes, AnswerNo, AnswerCancel}; }
    else { captions = {"OK"}; answers = {AnswerOk}; }
    for (int i = 0; i < captions.size(); ++i) {
        auto* b = new QPushButton(captions[i]);
        b->setObjectName(QStringLiteral("Butt%1").arg(i));
        const int a = answers[i];
        connect(b, &QPushButton::clicked, this, [this, a] { answer_ = a; QDialog::accept(); });
        buttons->addWidget(b);
        buttons_[i] = b;
    }
    buttons->addStretch();
    lay->addLayout(buttons);
    if (buttons_[0]) buttons_[0]->setDefault(true);
}

// ---- XOBLegend --------------------------------------------------------------

QStringList LegendDialog::lines()
{
    return {QStringLiteral("c51 - CCDAutopilot Data File - open/write error"), QString(),
            QStringLiteral("a31 - XOB_Nephor data too old"),
            QStringLiteral("a41 - Weather Station data too old"),
            QStringLiteral("a42 - Weather Station data file not present"), QString(),
            QStringLiteral("d11 - USER Data File Path does not exist"),
            QStringLiteral("d12 - USER Data File Path could not be created"),
            QStringLiteral("d13 - USER Data cannot be written to data file"), QString(),
            QStringLiteral("i21 - Image File Path does not exist"),
            QStringLiteral("i22 - Image File Path could not be created"),
            QStringLiteral("i23 - Image Files cannot be created"),
            QStringLiteral("i24 - Image Files FreeImage problem"), QString(),
            QStringLiteral("s61 - Settings cannot be saved to the settings file"),
            QStringLiteral("s62 - Settings file damaged: kept aside, readable settings used")};
}

LegendDialog::LegendDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("XOBLegend"));
    setWindowTitle(QStringLiteral("Warnings"));
    auto* lay = new QVBoxLayout(this);
    auto* list = new QListWidget;
    list->setObjectName(QStringLiteral("List1"));
    list->addItems(lines());
    list->setMinimumSize(380, 290);
    lay->addWidget(list);
    auto* ok = new QPushButton(QStringLiteral("OK"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    lay->addWidget(ok, 0, Qt::AlignHCenter);
}

// ---- XOBAbout ---------------------------------------------------------------

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("XOBAbout"));
    setWindowTitle(QStringLiteral("About XOB_Skyvane"));
    auto* lay = new QVBoxLayout(this);
    auto* name = new QLabel(QStringLiteral("<b>XOB_Skyvane</b>"));
    name->setAlignment(Qt::AlignCenter);
    lay->addWidget(name);
    auto* what = new QLabel(QStringLiteral("Sky and weather safety monitor"));
    what->setAlignment(Qt::AlignCenter);
    lay->addWidget(what);
    auto* version = new QLabel(QStringLiteral("Version ") + versionDigits());
    version->setObjectName(QStringLiteral("LblVersion"));
    version->setAlignment(Qt::AlignCenter);
    lay->addWidget(version);
    auto* ok = new QPushButton(QStringLiteral("OK"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    lay->addWidget(ok, 0, Qt::AlignHCenter);
}

// ---- XOBSetupForm -----------------------------------------------------------

SetupDialog::SetupDialog(SettingsStore& store, QWidget* parent) : QDialog(parent), store_(store)
{
    setObjectName(QStringLiteral("XOBSetupForm"));
    setWindowTitle(titleText());
    auto* lay = new QVBoxLayout(this);
    auto* head = new QLabel(QStringLiteral("XOB_Skyvane is running for the first time"));
    QFont f = head->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.2);
    head->setFont(f);
    lay->addWidget(head);
    lay->addWidget(new QLabel(QStringLiteral("1- Ensure that the program controlling your weather station has been correctly setup\n"
                                             "    (see \"Operational Considerations\" in the manual)")));
    lay->addWidget(new QLabel(QStringLiteral("2- Setup the following parameters:")));

    auto* grid = new QGridLayout;
    int row = 0;
    auto addPath = [&](const QString& button, QLineEdit*& edit) {
        auto* b = new QPushButton(button);
        edit = new QLineEdit;
        edit->setMinimumWidth(320);
        grid->addWidget(b, row, 0);
        grid->addWidget(edit, row, 1);
        ++row;
        return b;
    };
    connect(addPath(QStringLiteral("Data File"), stationFile), &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Select data file"), stationFile->text(),
                                                       QStringLiteral("HTM files(*.htm*);;All files(*.*)"));
        if (!file.isEmpty()) stationFile->setText(file);
    });
    auto folder = [this](QLineEdit* e, const QString& title) {
        return [this, e, title] {
            const QString d = QFileDialog::getExistingDirectory(this, title, e->text());
            if (!d.isEmpty()) e->setText(d);
        };
    };
    connect(addPath(QStringLiteral("User Data"), userDataDir), &QPushButton::clicked, this,
            folder(userDataDir, QStringLiteral("Select a folder to store the User Data File.")));
    connect(addPath(QStringLiteral("CAP4 Data"), ccdapDir), &QPushButton::clicked, this,
            folder(ccdapDir, QStringLiteral("Select a folder to store the CAP4 Data File.")));
    connect(addPath(QStringLiteral("Graphs"), graphDir), &QPushButton::clicked, this,
            folder(graphDir, QStringLiteral("Select a folder to store the Graphs image files.")));
    lay->addLayout(grid);

    auto* options = new QHBoxLayout;
    auto* dateBox = new QGroupBox(QStringLiteral("Date format"));
    auto* dl = new QVBoxLayout(dateBox);
    dateDdMm = new QRadioButton(QStringLiteral("dd/mm/yy"));
    dateMmDd = new QRadioButton(QStringLiteral("mm/dd/yy"));
    dateDdMm->setChecked(true);
    dl->addWidget(dateDdMm);
    dl->addWidget(dateMmDd);
    auto* tempBox = new QGroupBox(QStringLiteral("Temperature"));
    auto* tl = new QVBoxLayout(tempBox);
    tempC = new QRadioButton(QStringLiteral("°C"));
    tempF = new QRadioButton(QStringLiteral("°F"));
    tempC->setChecked(true);
    tl->addWidget(tempC);
    tl->addWidget(tempF);
    auto* speedBox = new QGroupBox(QStringLiteral("Wind speed"));
    auto* sl = new QVBoxLayout(speedBox);
    const char* speeds[4] = {"km/h", "mph", "m/s", "knot"};
    for (int i = 0; i < 4; ++i) {
        speed[i] = new QRadioButton(QString::fromLatin1(speeds[i]));
        sl->addWidget(speed[i]);
    }
    speed[0]->setChecked(true);
    options->addWidget(dateBox);
    options->addWidget(tempBox);
    options->addWidget(speedBox);
    lay->addLayout(options);

    warning = new QLabel;
    warning->setStyleSheet(QStringLiteral("color: #c00000"));
    lay->addWidget(warning);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(box, &QDialogButtonBox::accepted, this, &SetupDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &SetupDialog::reject);
    lay->addWidget(box);
}

void SetupDialog::accept()
{
    if (stationFile->text().trimmed().isEmpty()) {
        warning->setText(QStringLiteral("Please define path for Weather Station Data File"));
        return;
    }
    flag_ = 1;
    const QString app = QString::fromLatin1(kAppName);
    auto b = [](bool v) { return settings_codec::fromBool(v); };
    store_.save(app, QStringLiteral("Setup"), QStringLiteral("HTMFile"), stationFile->text().trimmed());
    store_.save(app, QStringLiteral("Window"), QStringLiteral("PathName"), userDataDir->text().trimmed());
    store_.save(app, QStringLiteral("Window"), QStringLiteral("PathNameCCDAP4"), ccdapDir->text().trimmed());
    store_.save(app, QStringLiteral("Graphs"), QStringLiteral("GraphImagePath"), graphDir->text().trimmed());
    store_.save(app, QStringLiteral("Limit"), QStringLiteral("UnitsTemp0"), b(tempC->isChecked()));
    store_.save(app, QStringLiteral("Limit"), QStringLiteral("UnitsTemp1"), b(tempF->isChecked()));
    for (int i = 0; i < 4; ++i)
        store_.save(app, QStringLiteral("Limit"), QStringLiteral("UnitsSpeed%1").arg(i), b(speed[i]->isChecked()));
    store_.save(app, QStringLiteral("Limit"), QStringLiteral("DateFormat0"), b(dateDdMm->isChecked()));
    store_.save(app, QStringLiteral("Limit"), QStringLiteral("DateFormat1"), b(dateMmDd->isChecked()));
    if (ccdapDir->text().trimmed().isEmpty())
        store_.save(app, QStringLiteral("Window"), QStringLiteral("FileNameCCDAP4"), QString());
    if (graphDir->text().trimmed().isEmpty())
        for (const char* suffix : outputs::kImageSuffixes)
            store_.save(app, QStringLiteral("Graphs"), QStringLiteral("Image") + QLatin1String(suffix), QStringLiteral("0"));
    store_.sync();
    QDialog::accept();
}

void SetupDialog::reject()
{
    flag_ = 0;
    QDialog::reject();
}

bool passFirstRun(SettingsStore& store, QWidget* parent)
{
    if (!isFirstRun(store)) return true;
    SetupDialog setup(store, parent);
    setup.exec();
    return setup.firstRunFlag() != 0;
}

} // namespace skyvane
