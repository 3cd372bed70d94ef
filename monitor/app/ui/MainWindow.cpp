#include "MainWindow.h"
#include "UploadFrame.h"

#include "ConditionsTabs.h"
#include "GraphPanel.h"
#include "EditWatch.h"
#include "FileStructDialog.h"
#include "Dialogs.h"
#include "LampWidget.h"
#include "MonitorApi.h"
#include "XOBGetNumber.h"
#include "XOBUpdateForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QScreen>
#include "SettingsStore.h"
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace skyvane {

int helpContext(int tab1, int tab3)
{
    if (tab1 == 4) return (tab1 + 201) * 10 + tab3 + 1;
    return 2001 + tab1;
}

namespace {
QLabel* named(const QString& name, const QString& text = QString())
{
    auto* l = new QLabel(text);
    l->setObjectName(name);
    return l;
}

QLabel* valueBox(const QString& name)
{
    auto* l = named(name);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    l->setAlignment(Qt::AlignCenter);
    l->setMinimumWidth(90);
    return l;
}
} // namespace

namespace {
constexpr int kTwipsPerPixel = 15;
}

MainWindow::MainWindow(MonitorApi& core, conditions::SoundPlayer* player, QWidget* parent)
    : QMainWindow(parent), core_(core), player_(player)
{
    setObjectName(QStringLiteral("XOBSVMainform"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                   | Qt::WindowCloseButtonHint);
    build();
    buildMenus();
    bindConfig();
    // The centred position is the default of the stored one: known before
    // the settings are loaded.
    {
        const QRect screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry() : QRect(0, 0, 1280, 900);
        const QSize size = sizeHint().expandedTo(QSize(860, 680));
        core_.editWindowLayout([&](WindowLayout& w) {
            w.centreLeft = (screen.width() - size.width()) / 2 * kTwipsPerPixel;
            w.centreTop = (screen.height() - size.height()) / 2 * kTwipsPerPixel;
        });
    }
    // The position and the selected tab live in the window: every save,
    // the timed ones too, takes them from here.
    core_.setBeforeSave([this] { savePosition(); });
    // Edits in this window and in every dialog opened from it.
    new EditWatch(core_, this);
    connect(ssTab1_, &QTabWidget::currentChanged, this, [this](int i) {
        if (i < 0) return;
        core_.editWindowLayout([i](WindowLayout& w) { w.ssTab[0] = i; });
        core_.settingsTouched();
    });
    connect(&core_, &MonitorApi::changed, this, &MainWindow::scheduleRender);
    connect(&core_, &MonitorApi::beep, this, [] { QApplication::beep(); });
    // to the session's log (the journal under a desktop session)
    connect(&core_, &MonitorApi::note, this, [](const QString& text) { qInfo().noquote() << "XOB_Skyvane:" << text; });
    core_.setPrompter([this](const QString& text, int flags, const QString& title) {
        if (isMinimized() || !isVisible()) restoreFromTray();
        if (flags == MessageOk) {
            // A message that only informs does not hold the monitor up: the
            // read cycle, the clients and a client's next Start go on while
            // it waits for a person.
            auto* d = new MessageDialog(text, flags, title, this);
            d->setAttribute(Qt::WA_DeleteOnClose);
            d->open();
            return int(AnswerOk);
        }
        MessageDialog d(text, flags, title, this);
        d.exec();
        return d.answer() == 0 ? (flags == MessageOk ? int(AnswerOk) : int(AnswerCancel)) : d.answer();
    });
    render();
    // Timer6: right after the load, the pending news and the last update's
    // result (shown once; the cleared text is saved at unload).
    QTimer::singleShot(0, this, [this] {
        QString lastUpdateMsg = core_.config().lastUpdateMsg;
        update::startupTick(this, core_.store(), core_.config().news, lastUpdateMsg,
                            [this](const QString& m) { core_.showMessage(m, MessageOk, QStringLiteral("Last Update Status")); });
        if (lastUpdateMsg != core_.config().lastUpdateMsg)
            core_.editConfig([&](MonitorConfig& c) { c.lastUpdateMsg = lastUpdateMsg; });
    });
}

MainWindow::~MainWindow() { core_.setBeforeSave({}); }

void MainWindow::apply(QLabel* l, const LabelState& s, bool background)
{
    if (!l) return;
    if (l->text() != s.text) l->setText(s.text);
    QString style;
    if (s.colour >= 0) style = (background ? QStringLiteral("background-color: %1; color: black;") : QStringLiteral("color: %1;")).arg(cssColour(s.colour));
    setStyleOnce(l, style);
    if (l->isVisibleTo(l->parentWidget()) != s.visible) l->setVisible(s.visible);
}

void MainWindow::build()
{
    setWindowTitle(core_.state().caption);
    setWindowIcon(QIcon(QStringLiteral(":/skyvane/skyvane.svg")));
    auto* central = new QWidget;
    auto* root = new QVBoxLayout(central);
    root->addWidget(buildCurrentValues());

    // Start / Stop row
    auto* row = new QHBoxLayout;
    buttStart_ = new QPushButton(QStringLiteral("Start"));
    buttStart_->setObjectName(QStringLiteral("ButtStart"));
    buttStop_ = new QPushButton(QStringLiteral("Stop"));
    buttStop_->setObjectName(QStringLiteral("ButtStop"));
    flgReadStation_ = new QCheckBox(QStringLiteral("Weather"));
    flgReadStation_->setObjectName(QStringLiteral("flgReadStation"));
    flgUpload_ = new QCheckBox(QStringLiteral("Upload"));
    flgUpload_->setObjectName(QStringLiteral("flgUpload"));
    refreshRead_ = new QComboBox;
    refreshRead_->setObjectName(QStringLiteral("RefreshRead"));
    for (const QString& s : kRefreshReadItems) refreshRead_->addItem(s);
    ledRead_ = new LampWidget(2);
    ledRead_->setObjectName(QStringLiteral("LEDRead"));
    ledUpload_ = new LampWidget(2);
    ledUpload_->setObjectName(QStringLiteral("LEDUpload"));
    row->addWidget(buttStart_);
    row->addWidget(buttStop_);
    row->addSpacing(12);
    row->addWidget(flgReadStation_);
    row->addWidget(ledRead_);
    row->addWidget(flgUpload_);
    row->addWidget(ledUpload_);
    row->addSpacing(12);
    row->addWidget(new QLabel(QStringLiteral("Read every")));
    row->addWidget(refreshRead_);
    row->addStretch();
    root->addLayout(row);
    connect(buttStart_, &QPushButton::clicked, this, [this] { pullConfig(); core_.startProcedure(); });
    connect(buttStop_, &QPushButton::clicked, this, [this] { core_.stopProcedure(); });

    ssTab1_ = new QTabWidget;
    ssTab1_->setObjectName(QStringLiteral("SSTab1"));
    conditionsTabs_ = new ConditionsTabs(core_, player_, this);
    ssTab1_->addTab(buildStationTab(), QStringLiteral("Weather Station"));
    ssTab1_->addTab(conditionsTabs_->conditionsTab(), QStringLiteral("Conditions"));
    ssTab1_->addTab(conditionsTabs_->alarmsTab(), QStringLiteral("Alarms"));
    ssTab1_->addTab(buildSensorTab(), QStringLiteral("XOB_Nephor"));
    ssTab1_->addTab(buildFilesTab(), QStringLiteral("Files"));
    root->addWidget(ssTab1_, 1);
    setCentralWidget(central);

    statusbar1_ = named(QStringLiteral("Statusbar1"));
    statusbar1_->setMinimumWidth(360);
    statusbar2_ = named(QStringLiteral("Statusbar2"));
    statusbar2_->setToolTip(QStringLiteral("Right-click for the list of codes"));
    statusbar2_->setMinimumWidth(120);
    statusbar2_->installEventFilter(this);
    statusBar()->addWidget(statusbar1_, 3);
    statusBar()->addWidget(statusbar2_, 1);
    setupControls_ << flgReadStation_ << flgUpload_ << npTimeout_ << swRole_[0] << swRole_[1] << dateFormat_[0] << dateFormat_[1];
    // the image boxes are enabled by their own rule (render)
}

QWidget* MainWindow::buildCurrentValues()
{
    auto* box = new QGroupBox(QStringLiteral("Current values"));
    auto* outer = new QHBoxLayout(box);
    auto* g = new QGridLayout;
    g->setVerticalSpacing(2);
    auto nameLabel = [](const QString& objectName) {
        QLabel* l = named(objectName);
        l->setAutoFillBackground(true);
        l->setMinimumWidth(90);
        l->setAlignment(Qt::AlignCenter);
        return l;
    };
    auto condLabel = [](const QString& objectName) {
        QLabel* l = valueBox(objectName);
        l->setMinimumWidth(120);
        return l;
    };
    // rows: sensor quantities, then the station's
    const char* sensorNames[3] = {"Label0_0", "Label0_1", "Label0_2"};
    QLabel** vals[3] = {&lValCloud_, &lValRain_, &lValBrightness_};
    const char* valNames[3] = {"LValCloud", "LValRain", "LValBrightness"};
    const char* condNames[8] = {"LCondCloud", "LCondRain", "LCondBrightness", "LCondWind",
                                "LCondGust", "LCondTemp", "LCondDewPoint", "LCondHumidity"};
    for (int q = 0; q < 8; ++q) lCond_[q] = condLabel(QString::fromLatin1(condNames[q]));
    int row = 0;
    for (int i = 0; i < 3; ++i) {
        label0_[i] = nameLabel(QString::fromLatin1(sensorNames[i]));
        *vals[i] = valueBox(QString::fromLatin1(valNames[i]));
        g->addWidget(label0_[i], row, 0);
        g->addWidget(*vals[i], row, 1);
        g->addWidget(lCond_[i], row, 2);
        ++row;
    }
    // station rows: names Wind, Gust, Direction, DewPoint, Humidity, Temperature
    const char* stationNames[6] = {"LblWind", "LblGust", "LblDirection", "LblDewPoint", "LblHumidity", "LblTemperature"};
    for (int i = 0; i < 6; ++i) stationName_[i] = nameLabel(QString::fromLatin1(stationNames[i]));
    lValTemperature_ = valueBox(QStringLiteral("LValTemperature"));
    lValWind_ = valueBox(QStringLiteral("LValWindSpeed"));
    lValGust_ = valueBox(QStringLiteral("LValWindGust"));
    lValDir_ = valueBox(QStringLiteral("LValWindDir"));
    lValDew_ = valueBox(QStringLiteral("LValDewPoint"));
    lValHum_ = valueBox(QStringLiteral("LValHumidity"));
    struct StationRow { int name; QLabel* value; int cond; };
    const StationRow rows[6] = {{5, lValTemperature_, 5}, {0, lValWind_, 3}, {1, lValGust_, 4},
                                {2, lValDir_, -1},        {3, lValDew_, 6},  {4, lValHum_, 7}};
    for (const StationRow& r : rows) {
        g->addWidget(stationName_[r.name], row, 0);
        g->addWidget(r.value, row, 1);
        if (r.cond >= 0) g->addWidget(lCond_[r.cond], row, 2);
        ++row;
    }
    outer->addLayout(g);

    // right column: the decision, times, switch, alarms
    auto* right = new QVBoxLayout;
    unsafeFlag_ = named(QStringLiteral("LblUnsafe"));
    unsafeFlag_->setAlignment(Qt::AlignCenter);
    QFont big = unsafeFlag_->font();
    big.setPointSizeF(big.pointSizeF() * 2.0);
    big.setBold(true);
    unsafeFlag_->setFont(big);
    unsafeFlag_->setMinimumHeight(44);
    unsafeFlag_->setFrameShape(QFrame::Panel);
    unsafeFlag_->setFrameShadow(QFrame::Sunken);
    auto* flagRow = new QHBoxLayout;
    ledUnsafe_ = new LampWidget(1);
    ledUnsafe_->setObjectName(QStringLiteral("LEDUnsafe"));
    flagRow->addWidget(ledUnsafe_);
    flagRow->addWidget(unsafeFlag_, 1);
    right->addLayout(flagRow);
    safeDelayMsg_ = named(QStringLiteral("SafeDelayMsg"));
    safeDelayMsg_->setAlignment(Qt::AlignCenter);
    right->addWidget(safeDelayMsg_);
    // Why the flag is unsafe, from the evaluation that set it; empty when safe.
    auto* reasons = named(QStringLiteral("LblUnsafeReasons"));
    reasons->setAlignment(Qt::AlignCenter);
    reasons->setWordWrap(true);
    right->addWidget(reasons);
    auto showReasons = [this, reasons] {
        const QString text = core_.unsafeReasonsText();
        if (reasons->text() != text) reasons->setText(text);
    };
    connect(&core_, &MonitorApi::changed, reasons, showReasons);
    showReasons();

    auto* info = new QFormLayout;
    info->setVerticalSpacing(2);
    lastReading_ = named(QStringLiteral("Label3_0"));
    stationTime_ = named(QStringLiteral("Label3_2"));
    lastReadingPanel_ = named(QStringLiteral("Label3_3"));
    info->addRow(QStringLiteral("Sensor reading:"), lastReading_);
    info->addRow(QStringLiteral("Station data:"), stationTime_);
    lblSwitch_ = named(QStringLiteral("LblSwitch"), QStringLiteral("Switch Ctrl"));
    lValSwitch_ = valueBox(QStringLiteral("LValSwitch"));
    info->addRow(lblSwitch_, lValSwitch_);
    right->addLayout(info);

    auto* msgs = new QHBoxLayout;
    npAlarmMsg_ = named(QStringLiteral("NPAlarmMsg"));
    wsAlarmMsg_ = named(QStringLiteral("WSAlarmMsg"));
    lblStatus_ = named(QStringLiteral("LblStatus"));
    for (QLabel* l : {npAlarmMsg_, wsAlarmMsg_, lblStatus_}) msgs->addWidget(l);
    msgs->addStretch();
    right->addLayout(msgs);

    auto* alarmRow = new QHBoxLayout;
    alarmRow->setSpacing(2);
    const char* icons[10] = {"C", "R", "W", "G", "T", "P", "H", "D", "WS", "NP"};
    const char* tips[10] = {"Cloud", "Rain", "Wind", "Gust", "Temperature", "Dew point", "Humidity", "Daylight",
                            "Weather-station data", "Sensor data"};
    for (int i = 0; i < 10; ++i) {
        playAlarm_[i] = named(QStringLiteral("PlayAlarm_%1").arg(i), QString::fromLatin1(icons[i]));
        playAlarm_[i]->setAlignment(Qt::AlignCenter);
        playAlarm_[i]->setFixedSize(26, 20);
        playAlarm_[i]->setFrameShape(QFrame::Panel);
        playAlarm_[i]->setToolTip(QString::fromLatin1(tips[i]));
        alarmRow->addWidget(playAlarm_[i]);
    }
    buttStopAlarm_ = new QPushButton(QStringLiteral("Stop Alarm"));
    buttStopAlarm_->setObjectName(QStringLiteral("ButtStopAlarm"));
    connect(buttStopAlarm_, &QPushButton::clicked, this, [this] { core_.alarmStop(); });
    alarmRow->addWidget(buttStopAlarm_);
    alarmRow->addStretch();
    right->addLayout(alarmRow);
    label5_ = named(QStringLiteral("Label5"));
    right->addWidget(label5_);
    right->addStretch();
    outer->addLayout(right, 1);
    return box;
}

QWidget* MainWindow::buildStationTab()
{
    auto* w = new QWidget;
    auto* g = new QGridLayout(w);
    const char* captions[kStationLabels] = {"Date", "Time", "OutTemp", "WindSpeed", "Gust", "WindDirection", "RainDaily",
                                "OutHumidity", "DewPoint", "Barometer", "Units", "Units", "Units"};
    for (int i = 0; i < kStationLabels; ++i) {
        wsDesc_[i] = named(QStringLiteral("LblWSDesc_%1").arg(i), QString::fromLatin1(captions[i]));
        wsValue_[i] = valueBox(QStringLiteral("LblWSValue_%1").arg(i));
        const int col = i < 7 ? 0 : 2;
        const int row = i < 7 ? i : i - 7;
        g->addWidget(wsDesc_[i], row, col);
        g->addWidget(wsValue_[i], row, col + 1);
    }
    g->setColumnStretch(4, 1);
    g->setRowStretch(7, 1);
    // The graphs fill the room right of the station values, so all six are
    // in view with the values while monitoring.
    auto* tab = new QWidget;
    auto* row = new QHBoxLayout(tab);
    row->addWidget(w, 0, Qt::AlignTop);
    graphPanel_ = new outputs::GraphPanel(core_);
    row->addWidget(graphPanel_, 1);
    connect(graphPanel_, &outputs::GraphPanel::configEdited, this, [this] { render(); });
    // the span labels follow the read period once the window has taken it
    connect(refreshRead_, &QComboBox::currentIndexChanged, graphPanel_, &outputs::GraphPanel::render, Qt::QueuedConnection);
    return tab;
}

QWidget* MainWindow::buildSensorTab()
{
    auto* w = new QWidget;
    auto* lay = new QHBoxLayout(w);
    auto* left = new QVBoxLayout;

    auto* conn = new QGroupBox(QStringLiteral("Connection"));
    auto* f = new QFormLayout(conn);
    npTimeout_ = new XOBGetNumber;
    npTimeout_->setObjectName(QStringLiteral("NPTimeout"));
    npTimeout_->setDigitsMostSignificant(3);
    npTimeout_->setDigitsDecimal(0);
    npTimeout_->setMaximumWidth(100);
    f->addRow(QStringLiteral("(sec) reading XOB_Nephor"), npTimeout_);
    emulatorFlag_ = new QCheckBox(QStringLiteral("Connect to XOB_Skyvane"));
    emulatorFlag_->setObjectName(QStringLiteral("EmulatorFlag"));
    f->addRow(QStringLiteral("Emulator"), emulatorFlag_);
    left->addWidget(conn);

    auto* role = new QGroupBox(QStringLiteral("Switch control"));
    auto* rl = new QHBoxLayout(role);
    swRole_[0] = new QRadioButton(QStringLiteral("Enabled"));
    swRole_[0]->setObjectName(QStringLiteral("SWRole_0"));
    swRole_[1] = new QRadioButton(QStringLiteral("Disable"));
    swRole_[1]->setObjectName(QStringLiteral("SWRole_1"));
    rl->addWidget(swRole_[0]);
    rl->addWidget(swRole_[1]);
    left->addWidget(role);

    left->addStretch();
    lay->addLayout(left, 1);

    frameCom_ = new QGroupBox(QStringLiteral("Client programs"));
    frameCom_->setObjectName(QStringLiteral("FrameCOM"));
    auto* cl = new QFormLayout(frameCom_);
    lblUsers_ = named(QStringLiteral("LblUsers"));
    comCalls_ = valueBox(QStringLiteral("COMCalls"));
    comPeriod_ = valueBox(QStringLiteral("COMPeriod"));
    ledCom_ = new LampWidget(2);
    ledCom_->setObjectName(QStringLiteral("LEDCOM"));
    cl->addRow(lblUsers_);
    cl->addRow(QStringLiteral("Calls"), comCalls_);
    cl->addRow(QStringLiteral("Period"), comPeriod_);
    cl->addRow(QStringLiteral("Activity"), ledCom_);
    lay->addWidget(frameCom_, 1, Qt::AlignTop);
    return w;
}

QWidget* MainWindow::buildFilesTab()
{
    auto* w = new QWidget;
    auto* g = new QGridLayout(w);
    int r = 0;
    buttHtmPath_ = new QPushButton(QStringLiteral("Data File"));
    buttHtmPath_->setObjectName(QStringLiteral("ButtHTMPath"));
    htmFile_ = named(QStringLiteral("HTMFile"));
    htmFile_->setFrameShape(QFrame::Panel);
    htmFile_->setFrameShadow(QFrame::Sunken);
    htmFile_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    g->addWidget(buttHtmPath_, r, 0);
    g->addWidget(htmFile_, r++, 1, 1, 3);
    connect(buttHtmPath_, &QPushButton::clicked, this, [this] {
        const QString f = QFileDialog::getOpenFileName(this, QStringLiteral("Select data file"), core_.config().htmFile,
                                                       QStringLiteral("HTM files(*.htm*);;All files(*.*)"));
        if (!f.isEmpty()) {
            core_.editConfig([&](MonitorConfig& c) { c.htmFile = f; });
            render();
        }
    });

    timeoutRead_ = new XOBGetNumber;
    timeoutRead_->setObjectName(QStringLiteral("TimeoutREAD"));
    timeoutRead_->setDigitsMostSignificant(3);
    timeoutRead_->setDigitsDecimal(0);
    timeoutRead_->setMaximumWidth(100);
    g->addWidget(new QLabel(QStringLiteral("Data too old after (min)")), r, 0);
    g->addWidget(timeoutRead_, r++, 1);
    dateFormat_[0] = new QRadioButton(QStringLiteral("dd/mm/yy"));
    dateFormat_[0]->setObjectName(QStringLiteral("DateFormat_0"));
    dateFormat_[1] = new QRadioButton(QStringLiteral("mm/dd/yy"));
    dateFormat_[1]->setObjectName(QStringLiteral("DateFormat_1"));
    g->addWidget(new QLabel(QStringLiteral("Station date format")), r, 0);
    g->addWidget(dateFormat_[0], r, 1);
    g->addWidget(dateFormat_[1], r++, 2);

    auto folderRow = [&](const QString& caption, QLabel*& label, const QString& name, const QString& title, QString MonitorConfig::*field) {
        auto* b = new QPushButton(caption);
        label = named(name);
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        g->addWidget(b, r, 0);
        g->addWidget(label, r++, 1, 1, 3);
        setupControls_ << b;
        connect(b, &QPushButton::clicked, this, [this, title, field] {
            const QString d = QFileDialog::getExistingDirectory(this, title, core_.config().*field);
            if (!d.isEmpty()) {
                core_.editConfig([&](MonitorConfig& c) { c.*field = d; });
                render();
            }
        });
    };
    folderRow(QStringLiteral("User Data"), lblPathName_, QStringLiteral("LblPathName"),
              QStringLiteral("Select a folder to store the User Data File."), &MonitorConfig::pathName);
    buttPath_ = qobject_cast<QPushButton*>(g->itemAtPosition(r - 1, 0)->widget());
    buttPath_->setObjectName(QStringLiteral("ButtPATH"));
    folderRow(QStringLiteral("Graph Images"), graphImagePath_, QStringLiteral("GraphImagePath"),
              QStringLiteral("Select a folder to store the Graphs image files."), &MonitorConfig::graphImagePath);

    auto* images = new QHBoxLayout;
    for (int i = 0; i < GraphImageCount; ++i) {
        const outputs::GraphFacts& graph = outputs::kGraphFacts[outputs::kGraphOfImage[std::size_t(i)]];
        graphImage_[i] = new QCheckBox(QString::fromLatin1(graph.caption));
        graphImage_[i]->setObjectName(QStringLiteral("GraphImage") + QLatin1String(graph.suffix));
        images->addWidget(graphImage_[i]);
    }
    images->addStretch();
    g->addWidget(new QLabel(QStringLiteral("Save graph images")), r, 0);
    g->addLayout(images, r++, 1, 1, 3);
    g->addWidget(buildRecordFiles(), r++, 0, 1, 4);
    g->addWidget(new outputs::UploadFrame(core_), r++, 0, 1, 4);
    g->setRowStretch(r, 1);
    g->setColumnStretch(3, 1);
    return w;
}

QWidget* MainWindow::buildRecordFiles()
{
    auto* w = new QWidget;
    auto* lay = new QHBoxLayout(w);
    lay->setContentsMargins(0, 0, 0, 0);

    // the user data file and its Record frame
    auto* user = new QGroupBox(QStringLiteral("User Data File"));
    auto* ug = new QGridLayout(user);
    auto* record = new QGroupBox(QStringLiteral("Record"));
    record->setObjectName(QStringLiteral("FrameRecord"));
    auto* rl = new QHBoxLayout(record);
    const char* options[2] = {"Start", "Stop"};
    for (int i = 0; i < 2; ++i) {
        recOption_[i] = new QRadioButton(QString::fromLatin1(options[i]));
        recOption_[i]->setObjectName(QStringLiteral("RecOption_%1").arg(i));
        rl->addWidget(recOption_[i]);
    }
    recOption_[1]->setChecked(true);
    fileName_ = new QLineEdit;
    fileName_->setObjectName(QStringLiteral("FileName"));
    fileName_->setMinimumWidth(140);
    fileName_->installEventFilter(this);
    saveFreq_ = new XOBGetNumber;
    saveFreq_->setObjectName(QStringLiteral("SaveFreq"));
    saveFreq_->setDigitsMostSignificant(4);
    saveFreq_->setDigitsDecimal(0);
    saveFreq_->setMaximumWidth(100);
    buttFileStructure_ = new QPushButton(QStringLiteral("File Structure..."));
    buttFileStructure_->setObjectName(QStringLiteral("ButtFileStructure"));
    ug->addWidget(record, 0, 0, 1, 3);
    ug->addWidget(new QLabel(QStringLiteral("File name")), 1, 0);
    ug->addWidget(fileName_, 1, 1);
    ug->addWidget(new QLabel(QStringLiteral("(.csv)")), 1, 2);
    ug->addWidget(new QLabel(QStringLiteral("Save every (cycles)")), 2, 0);
    ug->addWidget(saveFreq_, 2, 1);
    ug->addWidget(buttFileStructure_, 3, 0, 1, 2);
    ug->setColumnStretch(1, 1);
    lay->addWidget(user, 1);

    // the CCDAutopilot data file
    auto* ccd = new QGroupBox(QStringLiteral("CCDAutopilot Data File"));
    auto* cg = new QGridLayout(ccd);
    buttCcdap4_ = new QPushButton(QStringLiteral("Folder..."));
    buttCcdap4_->setObjectName(QStringLiteral("ButtCCDAP4"));
    lblPathNameCcdap4_ = named(QStringLiteral("LblPathNameCCDAP4"));
    lblPathNameCcdap4_->setFrameShape(QFrame::Panel);
    lblPathNameCcdap4_->setFrameShadow(QFrame::Sunken);
    lblPathNameCcdap4_->setMinimumWidth(160);
    fileNameCcdap4_ = new QLineEdit;
    fileNameCcdap4_->setObjectName(QStringLiteral("FileNameCCDAP4"));
    fileNameCcdap4_->setToolTip(QStringLiteral("Leave blank to write no CCDAutopilot file"));
    fileNameCcdap4_->installEventFilter(this);
    cg->addWidget(buttCcdap4_, 0, 0);
    cg->addWidget(lblPathNameCcdap4_, 0, 1);
    cg->addWidget(new QLabel(QStringLiteral("File name")), 1, 0);
    cg->addWidget(fileNameCcdap4_, 1, 1);
    cg->setColumnStretch(1, 1);
    cg->setRowStretch(2, 1);
    lay->addWidget(ccd, 1);

    connect(recOption_[0], &QRadioButton::clicked, this, [this] {
        pullConfig();
        core_.recordStartByUser();
        render();
    });
    connect(recOption_[1], &QRadioButton::clicked, this, [this] {
        core_.recordStop();
        render();
    });
    connect(fileName_, &QLineEdit::editingFinished, this,
            [this] { core_.editOutputs([this](outputs::OutputsConfig& o) { o.fileName = fileName_->text(); }); });
    connect(fileNameCcdap4_, &QLineEdit::editingFinished, this,
            [this] { core_.editOutputs([this](outputs::OutputsConfig& o) { o.fileNameCcdap4 = fileNameCcdap4_->text(); }); });
    // Typed numbers count when the field is left or Return is pressed.
    connect(saveFreq_, &XOBGetNumber::validate, this, [this](bool&) {
        if (!saveFreq_->isUserEdited()) return;
        core_.editOutputs([this](outputs::OutputsConfig& o) { o.freqSave = std::max(1, int(saveFreq_->value())); });
        saveFreq_->setValue(core_.outputsConfig().freqSave);
    });
    connect(buttFileStructure_, &QPushButton::clicked, this, &MainWindow::chooseRecordColumns);
    connect(buttCcdap4_, &QPushButton::clicked, this, [this] {
        const QString d = QFileDialog::getExistingDirectory(this, QStringLiteral("Select a folder to store the CCDAP4 file."),
                                                            core_.outputsConfig().pathNameCcdap4);
        if (!d.isEmpty()) {
            core_.editOutputs([&](outputs::OutputsConfig& o) { o.pathNameCcdap4 = d; });
            render();
        }
    });
    return w;
}

void MainWindow::chooseRecordColumns()
{
    // The dialog edits a copy; the core takes it when the dialog closes.
    outputs::ColumnTable columns = core_.outputsConfig().columns;
    outputs::FileStructDialog d(columns, this);
    d.exec();
    core_.editOutputs([&](outputs::OutputsConfig& o) { o.columns = columns; });
}

void MainWindow::renderRecordFiles()
{
    const outputs::OutputsConfig& o = core_.outputsConfig();
    const bool rec = core_.recording();
    recOption_[rec ? 0 : 1]->setChecked(true);
    if (!fileName_->hasFocus() && fileName_->text() != o.fileName) fileName_->setText(o.fileName);
    if (!fileNameCcdap4_->hasFocus() && fileNameCcdap4_->text() != o.fileNameCcdap4) fileNameCcdap4_->setText(o.fileNameCcdap4);
    saveFreq_->showValue(o.freqSave);
    lblPathNameCcdap4_->setText(o.pathNameCcdap4);
    // the layout of the file never changes while it is written
    fileName_->setEnabled(!rec);
    saveFreq_->setEnabled(!rec);
    buttFileStructure_->setEnabled(!rec);
    buttPath_->setEnabled(!rec && core_.state().setupEnabled);
}

void MainWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("Filemenu"));
    mnuStart_ = file->addAction(QStringLiteral("&Start"), this, [this] { pullConfig(); core_.startProcedure(); });
    mnuStart_->setObjectName(QStringLiteral("mnuStart"));
    mnuStop_ = file->addAction(QStringLiteral("S&top"), this, [this] { core_.stopProcedure(); });
    mnuStop_->setObjectName(QStringLiteral("mnuStop"));
    mSep0_ = file->addSeparator();
    mnuExit_ = file->addAction(QStringLiteral("E&xit"), this, &MainWindow::exitProgram);
    mnuExit_->setObjectName(QStringLiteral("MnuExit"));

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mHelp"));
    QAction* contents = help->addAction(QStringLiteral("&Contents"), this, &MainWindow::showHelp);
    contents->setObjectName(QStringLiteral("mnuHelp1"));
    mnuUpdate_ = help->addAction(QStringLiteral("Check &update"));
    mnuUpdate_->setObjectName(QStringLiteral("mnuUpdate"));
    connect(mnuUpdate_, &QAction::triggered, this, [this] {
        // The updater replaces our files: once it runs, this program ends.
        const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        if (update::runUpdateCheck(this, core_.store(), core_.config().programDir, self, {},
                                   [this] { return core_.requestClose(); }))
            exitProgram();
    });
    QAction* about = help->addAction(QStringLiteral("&About"), this, [this] { AboutDialog(this).exec(); });
    about->setObjectName(QStringLiteral("mnuAbout"));

    trayMenu_ = new QMenu(QStringLiteral("&SysTray"), this);
    trayMenu_->setObjectName(QStringLiteral("mPopupSys"));
    mPopStart_ = trayMenu_->addAction(QStringLiteral("&Start"), this, [this] { pullConfig(); core_.startProcedure(); });
    mPopStart_->setObjectName(QStringLiteral("mPopStart"));
    mPopStop_ = trayMenu_->addAction(QStringLiteral("S&top"), this, [this] { core_.stopProcedure(); });
    mPopStop_->setObjectName(QStringLiteral("mPopStop"));
    mSep1_ = trayMenu_->addSeparator();
    mPopRestore_ = trayMenu_->addAction(QStringLiteral("&Restore"), this, &MainWindow::restoreFromTray);
    mPopRestore_->setObjectName(QStringLiteral("mPopRestore"));
    mPopMinimize_ = trayMenu_->addAction(QStringLiteral("&Minimize"), this, &MainWindow::minimizeToTray);
    mPopMinimize_->setObjectName(QStringLiteral("mPopMinimize"));
    trayMenu_->addSeparator();
    mPopExit_ = trayMenu_->addAction(QStringLiteral("&Exit"), this, &MainWindow::exitProgram);
    mPopExit_->setObjectName(QStringLiteral("mPopExit"));
}

void MainWindow::bindConfig()
{
    // Every edit goes straight into the configuration the core uses.
    auto changed = [this] {
        if (rendering_) return;
        pullConfig();
        core_.settingsTouched();
    };
    connect(flgReadStation_, &QCheckBox::toggled, this, changed);
    connect(flgUpload_, &QCheckBox::toggled, this, changed);
    connect(refreshRead_, &QComboBox::currentIndexChanged, this, changed);
    connect(npTimeout_, &XOBGetNumber::validate, this, changed);
    connect(timeoutRead_, &XOBGetNumber::validate, this, changed);
    for (QRadioButton* b : {swRole_[0], swRole_[1], dateFormat_[0], dateFormat_[1]}) connect(b, &QRadioButton::toggled, this, changed);
    // The image boxes follow the same rules as their twins on the graphs'
    // tab: the core holds one model for both.
    for (int i = 0; i < 6; ++i)
        connect(graphImage_[i], &QCheckBox::clicked, this, [this, i](bool on) {
            core_.setGraphImage(i, on);
            render();
        });
    connect(swRole_[0], &QRadioButton::toggled, this, [this] { if (!rendering_) core_.followSwitchRole(); });
    connect(emulatorFlag_, &QCheckBox::clicked, this, [this](bool on) { core_.setEmulator(on); });
}

void MainWindow::pullConfig()
{
    core_.editConfig([this](MonitorConfig& c) {
        c.readStation = flgReadStation_->isChecked();
        c.upload = flgUpload_->isChecked();
        c.refreshRead = std::max(0, refreshRead_->currentIndex());
        c.npTimeout = npTimeout_->value();
        c.timeoutRead = timeoutRead_->value();
        c.swRole = swRole_[1]->isChecked() ? 1 : 0;
        c.dateFormat = dateFormat_[1]->isChecked() ? 1 : 0;
    });
}

void MainWindow::scheduleRender()
{
    // Many changes can arrive at once (a burst of client calls, one read
    // cycle): draw once when control is back in the event loop.
    if (renderPending_) return;
    renderPending_ = true;
    QMetaObject::invokeMethod(this, [this] { render(); }, Qt::QueuedConnection);
}

void MainWindow::render()
{
    renderPending_ = false;
    rendering_ = true;
    const MainState& s = core_.state();
    const MonitorConfig& c = core_.config();
    setWindowTitle(s.caption);

    flgReadStation_->setChecked(c.readStation);
    flgUpload_->setChecked(c.upload);
    refreshRead_->setCurrentIndex(c.refreshRead);
    npTimeout_->showValue(c.npTimeout);
    timeoutRead_->showValue(c.timeoutRead);
    swRole_[c.swRole == 1 ? 1 : 0]->setChecked(true);
    dateFormat_[c.dateFormat == 1 ? 1 : 0]->setChecked(true);
    emulatorFlag_->setChecked(c.emulator);
    for (int i = 0; i < 6; ++i) {
        graphImage_[i]->setChecked(c.graphImage[i]);
        graphImage_[i]->setEnabled(s.setupEnabled && core_.graphImageUsable(i));
    }
    conditionsTabs_->render();
    conditionsTabs_->setEditable(s.setupEnabled);
    graphPanel_->render();
    htmFile_->setText(c.htmFile.isEmpty() ? QStringLiteral("(no weather-station file chosen)") : c.htmFile);
    lblPathName_->setText(c.pathName);
    graphImagePath_->setText(c.graphImagePath);

    apply(statusbar1_, s.status);
    apply(statusbar2_, s.codes);
    for (int i = 0; i < 3; ++i) apply(label0_[i], s.sensorNames[i], true);
    apply(lValCloud_, s.valCloud);
    apply(lValRain_, s.valRain);
    apply(lValBrightness_, s.valBrightness);
    apply(lValTemperature_, s.valTemperature);
    for (int q = 0; q < 8; ++q) {
        // Condition labels: yellow or orange writing on black.
        const LabelState& cond = s.cond[q];
        lCond_[q]->setText(cond.text);
        setStyleOnce(lCond_[q], QStringLiteral("background-color: black; color: %1;").arg(cssColour(cond.colour < 0 ? colour::Yellow : cond.colour)));
    }
    for (int i = 0; i < 6; ++i) apply(stationName_[i], s.stationNames[i], true);
    apply(lValWind_, s.valWind);
    apply(lValGust_, s.valGust);
    apply(lValDir_, s.valDirection);
    apply(lValDew_, s.valDewPoint);
    apply(lValHum_, s.valHumidity);
    apply(unsafeFlag_, s.unsafeFlag, true);
    for (int i = 0; i < 10; ++i)
        setStyleOnce(playAlarm_[i], i == s.alarmIcon ? QStringLiteral("background-color: rgb(255,0,0); color: white;") : QString());
    buttStopAlarm_->setVisible(s.stopAlarmVisible);
    apply(lastReading_, s.lastReading);
    apply(stationTime_, s.stationTime);
    apply(npAlarmMsg_, {s.npAlarmMsg.text, colour::Red, true});
    apply(safeDelayMsg_, s.safeDelayMsg);
    apply(lblStatus_, {s.lblStatus.text, colour::Red, true});
    apply(wsAlarmMsg_, {s.wsAlarmMsg.text, colour::Red, true});
    apply(lblSwitch_, s.lblSwitch);
    apply(lValSwitch_, s.valSwitch);
    apply(label5_, s.controlText);
    apply(conditionsTabs_->timeoutAlarmLabel(), s.timeoutAlarmLabel);
    conditionsTabs_->alarmNp()->setVisible(s.alarmNpVisible);
    conditionsTabs_->npDataOldUnsafe()->setVisible(s.alarmNpVisible);
    conditionsTabs_->alarmFrame()->setVisible(s.alarmFrameVisible);
    frameCom_->setVisible(s.comFrameVisible);
    comCalls_->setText(s.comCalls);
    comPeriod_->setText(s.comPeriod);
    lblUsers_->setText(s.users);
    ledCom_->setColours(s.ledCom.c0, s.ledCom.c1);
    ledRead_->setColours(s.ledRead.c0, s.ledRead.c1);
    ledUpload_->setColours(s.ledUpload.c0, s.ledUpload.c1);
    ledUnsafe_->setColours(s.ledUnsafe);
    for (int i = 0; i < kStationLabels; ++i) {
        if (!s.wsDesc[i].isEmpty()) wsDesc_[i]->setText(s.wsDesc[i]);
        wsValue_[i]->setText(s.wsValue[i]);
    }

    for (QWidget* w : setupControls_) w->setEnabled(s.setupEnabled);
    renderRecordFiles();
    buttStart_->setEnabled(s.startEnabled && !s.running);
    buttStop_->setVisible(s.stopVisible);
    buttStop_->setEnabled(s.stopEnabled);
    timeoutRead_->setEnabled(s.readSettingsEnabled);
    refreshRead_->setEnabled(s.readSettingsEnabled);
    buttHtmPath_->setEnabled(s.readSettingsEnabled);

    const MenuState& m = s.menus;
    mnuStart_->setVisible(m.startVisible);
    mPopStart_->setVisible(m.startVisible);
    mnuStop_->setVisible(m.stopVisible);
    mPopStop_->setVisible(m.stopVisible);
    mSep0_->setVisible(m.separatorsVisible);
    mSep1_->setVisible(m.separatorsVisible);
    mnuExit_->setEnabled(m.exitEnabled);
    mPopExit_->setEnabled(m.exitEnabled);
    mnuUpdate_->setEnabled(m.updateEnabled);
    mPopRestore_->setEnabled(m.restoreEnabled);
    mPopMinimize_->setEnabled(m.minimizeEnabled);
    // While clients are attached the window's own close button is greyed too.
    if (windowFlags().testFlag(Qt::WindowCloseButtonHint) != m.closeEnabled) {
        const bool wasVisible = isVisible();
        setWindowFlag(Qt::WindowCloseButtonHint, m.closeEnabled);
        if (wasVisible) show();
    }
    rendering_ = false;
}

void MainWindow::registerTrayIcon()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    tray_ = new QSystemTrayIcon(windowIcon(), this);
    tray_->setToolTip(QStringLiteral("XOB Skyvane (v%1)").arg(versionDigits()));
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this, &MainWindow::trayActivated);
    tray_->show();
}

void MainWindow::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger) {
        if (isMinimized() || !isVisible()) restoreFromTray();
        else if (isActiveWindow()) minimizeToTray();
    }
}

void MainWindow::restoreFromTray()
{
    showNormal();
    raise();
    activateWindow();
    core_.setMinimized(false);
}

void MainWindow::minimizeToTray()
{
    showMinimized();
    // With a tray icon the window leaves the task bar and stays reachable
    // from the icon.
    if (tray_) hide();
    core_.setMinimized(true);
}

void MainWindow::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::WindowStateChange) {
        core_.setMinimized(isMinimized());
        if (isMinimized() && tray_) QMetaObject::invokeMethod(this, [this] { hide(); }, Qt::QueuedConnection);
    }
    QMainWindow::changeEvent(e);
}

bool MainWindow::eventFilter(QObject* o, QEvent* e)
{
    // The file name boxes select their whole text when they get the focus.
    if ((o == fileName_ || o == fileNameCcdap4_) && e->type() == QEvent::FocusIn)
        QTimer::singleShot(0, static_cast<QLineEdit*>(o), &QLineEdit::selectAll);
    if (o == statusbar2_ && e->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent*>(e)->button() == Qt::RightButton) {
        LegendDialog(this).exec();
        return true;
    }
    return QMainWindow::eventFilter(o, e);
}

void MainWindow::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_F1) {
        showHelp();
        return;
    }
    QMainWindow::keyPressEvent(e);
}

void MainWindow::showHelp()
{
    const int context = helpContext(ssTab1_->currentIndex(), 0);
    QDialog d(this);
    d.setWindowTitle(QStringLiteral("XOB_Skyvane help (%1)").arg(context));
    auto* lay = new QVBoxLayout(&d);
    auto* browser = new QTextBrowser;
    QFile manual(QStringLiteral(":/skyvane/manual.md"));
    if (manual.open(QIODevice::ReadOnly)) browser->setMarkdown(QString::fromUtf8(manual.readAll()));
    browser->setMinimumSize(640, 480);
    lay->addWidget(browser);
    d.exec();
}

void MainWindow::closeEvent(QCloseEvent* e)
{
    if (unloading_) {
        e->accept();
        return;
    }
    if (!core_.requestClose()) {
        e->ignore();
        return;
    }
    unloadNow();
    e->accept();
}

void MainWindow::unloadNow()
{
    if (unloading_) return;
    if (core_.isRunning()) core_.stopProcedure();
    // The unload sequence: tray icon first, then settings, sensor release.
    unloading_ = true;
    if (tray_) tray_->hide();
    savePosition();
    pullConfig();
    core_.unload();
    hide();
    QApplication::quit();
}

void MainWindow::exitProgram() { close(); }

void MainWindow::saveSettings()
{
    savePosition();
    pullConfig();
    core_.save();
}

void MainWindow::restorePosition()
{
    const WindowLayout& w = core_.config().window;
    const QRect screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry() : QRect(0, 0, 1280, 900);
    const QSize size = sizeHint().expandedTo(QSize(860, 680));
    if (w.ssTab[0] >= 0 && w.ssTab[0] < ssTab1_->count()) ssTab1_->setCurrentIndex(w.ssTab[0]);
    QPoint pos(w.left / kTwipsPerPixel, w.top / kTwipsPerPixel);
    // A position from another screen layout must not hide the window.
    if (!screen.adjusted(-size.width() / 2, 0, 0, -40).contains(pos)) pos = screen.center() - QPoint(size.width() / 2, size.height() / 2);
    resize(size);
    move(pos);
}

QPoint MainWindow::positionTwips() const { return QPoint(x() * kTwipsPerPixel, y() * kTwipsPerPixel); }

void MainWindow::moveToTwips(const QPoint& twips) { move(twips.x() / kTwipsPerPixel, twips.y() / kTwipsPerPixel); }

void MainWindow::savePosition()
{
    // A minimised (or tray) window has no position worth keeping: the save
    // leaves the stored one alone.
    const bool minimised = isMinimized() || !isVisible();
    const QPoint twips = positionTwips();
    core_.editWindowLayout([&](WindowLayout& w) {
        w.minimised = minimised;
        if (minimised) return;
        w.left = twips.x();
        w.top = twips.y();
    });
}

} // namespace skyvane
