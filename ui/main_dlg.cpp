#include "ui/main_dlg.h"
#include "ui/notification_settings_dlg.h"

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QProgressDialog>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "framework/control_text.h"
#include "framework/data_exchange.h"
#include "framework/text_to_int.h"
#include "resources/dialog_templates.h"
#include "resources/fonts.h"
#include "resources/palette.h"
#include "resources/string_table.h"
#include "run/instrument_models.h"
#include "ui/about_dlg.h"
#include "ui/embedded_simulator.h"
#include "ui/info_dlg.h"
#include "ui/port_choice.h"
#include "ui/run_history_dlg.h"
#include "widgets/up_down_ctrl.h"

namespace {

QIcon LoadProgramIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/images/icon_128.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/images/icon_128_256.png"), QSize(256, 256));
    return icon;
}

}  // namespace

CMainDlg::CMainDlg(QWidget* parent)
    : CDialog(IDD_MAIN_DIALOG, parent),
      m_notifications([this] { return isActiveWindow(); }),
      m_engine(*this),
      m_hIcon(LoadProgramIcon()),
      m_display(m_digitTime, m_digitSpeed, m_graph),
      m_statusLine(this) {
    m_choosePort = [] { return ::ChoosePort(&CEmbeddedSimulator::StartAndGetPort); };
    m_tell = [this](const QString& text) {
        QMessageBox box(QMessageBox::Information, LoadStringResource(IDS_APP_TITLE), text,
                        QMessageBox::Ok, this);
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        box.exec();
    };
    m_showInformation = [](int stringId, const QString& detail) {
        ::ShowInformation(stringId, detail);
    };
    m_editNotifications = [this](const NotificationSettings& settings) {
        return EditNotificationSettings(settings, this);
    };
    m_notifications.Apply(LoadNotificationSettings());
    m_engine.SetEventSink(&m_notifications);
    // The window shows each sample as it is polled; only the status line heeds the reports,
    // and nothing in it waits on the disk: no wake-up of this thread for each.
    m_engine.SetPromptSampleReports(false);
    // A fixed-size window of its own with a taskbar entry: caption, window menu and
    // minimise box, no maximise box.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
}

CMainDlg::~CMainDlg() {
    SetBusy(false);
}

bool CMainDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // On a screen too small for it (a high scale factor) the window shrinks as a whole.
    m_zoom = ShrinkToFit(ScreenRoom(), CStatusLine::kHeight);
    m_statusLine.SetZoom(m_zoom);
    // The status line runs along the bottom, below the template's area.
    const QSize templateArea = size();
    m_statusLine.setGeometry(0, templateArea.height(), templateArea.width(), m_statusLine.height());
    setFixedSize(templateArea.width(), templateArea.height() + m_statusLine.height());

    setWindowIcon(m_hIcon);
    InitControls();
    RefreshStatusLine();
    ConnectToChosenPort();
    setWindowTitle(LoadStringResource(IDS_APP_TITLE));
    // The operator's next step: Start, or the time to set while Start can't be pressed.
    QWidget* first = m_btnStart.isEnabled() ? &m_btnStart : GetDlgItem(IDC_TIME_EDIT);
    if (first != nullptr) {
        first->setFocus(Qt::OtherFocusReason);
        return false;
    }
    return true;
}

void CMainDlg::OnConnect() {
    if (m_engine.Running() || m_bBusy) {
        return;
    }
    ConnectToChosenPort();
    RefreshStatusLine();
}

void CMainDlg::ConnectToChosenPort() {
    if (!m_choosePort) {
        return;
    }
    if (std::optional<PortChoice> choice = m_choosePort()) {
        // What the line says of an earlier connection and its run goes with it.
        m_note.clear();
        m_journalNote.clear();
        m_runSinceConnect = false;
        m_engine.SetSimulated(CEmbeddedSimulator::IsItsPort(choice->portName));
        m_engine.Connect(*choice);
    }
}

void CMainDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Control(pDX, IDC_TIME_READOUT, m_digitTime);
    DDX_Control(pDX, IDC_SPEED_READOUT, m_digitSpeed);
    DDX_Control(pDX, IDC_START, m_btnStart);
    DDX_Control(pDX, IDC_STOP, m_btnStop);
    DDX_Control(pDX, IDC_SAVE, m_btnSave);
    DDX_Control(pDX, IDCANCEL, m_btnClose);
    DDX_Control(pDX, IDC_TIME_SCREEN_LABEL, m_lblTimeScreen);
    DDX_Control(pDX, IDC_SPEED_SCREEN_LABEL, m_lblSpeedScreen);
    DDX_Control(pDX, IDC_TIME_LABEL, m_lblTime);
    DDX_Control(pDX, IDC_TIME_UNIT_LABEL, m_lblTimeUnit);
    DDX_Control(pDX, IDC_SPEED_LABEL, m_lblSpeed);
    DDX_Control(pDX, IDC_SPEED_UNIT_LABEL, m_lblSpeedUnit);
    DDX_Text(pDX, IDC_TIME_EDIT, m_nTime);
    DDX_Text(pDX, IDC_SPEED_EDIT, m_nSpeed);
    const InstrumentModel& model = ModelOf(m_engine.GetDeviceType());
    DDV_MinMaxInt(pDX, m_nTime, model.timeField.low, model.timeField.high);
    DDV_MinMaxInt(pDX, m_nSpeed, model.speedField.low, model.speedField.high, SpeedLimitsLine());
    DDX_Control(pDX, IDC_GRAPH, m_graph);
}

void CMainDlg::InitControls() {
    // A saved picture of the graph says which run it shows.
    m_graph.m_imageTitle = [this] {
        const auto& times = m_engine.Record().SampleTimes();
        if (times.empty()) {
            return QString();
        }
        const QDateTime start = QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>(times.front().time_since_epoch())
                .count());
        return QStringLiteral("%1 \u00b7 started %2 \u00b7 speed %3 1/min, time %4")
            .arg(QString::fromStdString(m_engine.DeviceId()),
                 start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
            .arg(m_engine.SpeedSetAtStart())
            .arg(m_engine.TimeSetAtStart());
    };
    // The graph has a menu of its own; the window's items follow its own.
    connect(&m_graph, &CVexGraphWnd::ContextMenuAboutToShow, this,
            [this](QMenu* menu) { AddWindowItems(*menu); });
    connect(&m_statusLine, &CStatusLine::AlarmAcknowledged, this, [this] {
        m_alarms.clear();
        ShowAlarms();
    });
    m_display.SetupReadouts();
    m_display.SetupGraph();
    StyleButtonsAndLabels();
    ConnectSpins();
}

void CMainDlg::StyleButtonsAndLabels() {
    for (CVexButton* button : {&m_btnStart, &m_btnClose, &m_btnStop, &m_btnSave}) {
        button->SetButtonSemiflat(1);
        button->m_crBackground = Palette::kBackground;
        button->SetTextColor(Palette::kLightText, QColor(), QColor());
        button->m_crText = Palette::kLightText;
        button->SetFontSize(-std::lround(16 * m_zoom), 700);
    }
    // Each readout caption gets a font of its own; the labels own them from here on.
    for (CLumStatic* caption : {&m_lblTimeScreen, &m_lblSpeedScreen}) {
        caption->m_pFont = MakeLabelFont();
        caption->m_pFont->setPixelSize(
            std::max(1, static_cast<int>(std::lround(caption->m_pFont->pixelSize() * m_zoom))));
        caption->m_crText = Palette::kLightText;
    }
    for (CLumStatic* label : {&m_lblTime, &m_lblSpeed, &m_lblTimeUnit, &m_lblSpeedUnit}) {
        label->m_crText = Palette::kLightText;
    }
    // The time's spin arrows end a unit short of this label: its text keeps a gap from them.
    m_lblSpeed.setIndent(MapDialogRect(0, 0, 2, 0).width());
}

void CMainDlg::ConnectSpins() {
    if (auto* spin = qobject_cast<CUpDownCtrl*>(GetDlgItem(IDC_TIME_SPIN))) {
        connect(spin, &CUpDownCtrl::DeltaPos, this, &CMainDlg::OnTimeSpin);
    }
    if (auto* spin = qobject_cast<CUpDownCtrl*>(GetDlgItem(IDC_SPEED_SPIN))) {
        connect(spin, &CUpDownCtrl::DeltaPos, this, &CMainDlg::OnSpeedSpin);
    }
}

// A spin press reads only its own field and keeps it within the field's bounds: a number
// outside them comes back to the nearest, text that is no number steps the last good value.
// A refused value ends the press before its one message box: a held arrow would otherwise
// repeat under the box and open another at every repeat.
void CMainDlg::StepField(int spinId, int editId, int& value, SpeedLimits bounds, int step) {
    QWidget* field = GetDlgItem(editId);
    if (field == nullptr) {
        return;
    }
    int shown = 0;
    const bool number = ParseWholeInt(ControlText(*field), shown);
    if (!number || !bounds.Contains(shown)) {
        if (auto* spin = qobject_cast<CUpDownCtrl*>(GetDlgItem(spinId))) {
            spin->EndPress();
        }
        CDataExchange exchange(this, true);
        DDX_Text(&exchange, editId, shown);
        DDV_MinMaxInt(&exchange, shown, bounds.low, bounds.high);
    }
    if (number) {
        value = shown;
    }
    value = static_cast<int>(std::clamp(static_cast<long long>(value) + step,
                                        static_cast<long long>(bounds.low),
                                        static_cast<long long>(bounds.high)));
    SetControlText(*field, QString::number(value));
}

void CMainDlg::OnTimeSpin(int delta) {
    StepField(IDC_TIME_SPIN, IDC_TIME_EDIT, m_nTime, ModelOf(m_engine.GetDeviceType()).timeField,
              delta < 0 ? 1 : -1);
}

void CMainDlg::OnSpeedSpin(int delta) {
    StepField(IDC_SPEED_SPIN, IDC_SPEED_EDIT, m_nSpeed,
              ModelOf(m_engine.GetDeviceType()).speedField, delta < 0 ? 10 : -10);
}

void CMainDlg::OnCommand(int controlId) {
    switch (controlId) {
        case IDC_START:
            OnStart();
            break;
        case IDC_STOP:
            OnStop();
            break;
        case IDC_SAVE:
            OnSave();
            break;
        default:
            CDialog::OnCommand(controlId);
            break;
    }
}

void CMainDlg::OnCancel() {
    if (m_engine.Running()) {
        QMessageBox question(QMessageBox::Question, QStringLiteral("Close Velmora"),
                             QStringLiteral("A run is in progress. If Velmora closes now, the "
                                            "instrument will go on running."),
                             QMessageBox::NoButton, this);
        QPushButton* close = question.addButton(QStringLiteral("&Close"), QMessageBox::AcceptRole);
        QPushButton* cancel = question.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        question.setDefaultButton(cancel);
        question.setEscapeButton(cancel);
        question.exec();
        if (question.clickedButton() != close) {
            return;
        }
    }
    CDialog::OnCancel();
}

// Enter still presses the focused Start, Stop or Save button; with the focus anywhere else it
// does nothing, and Escape does nothing: a stray key must not end a run's window.
void CMainDlg::keyPressEvent(QKeyEvent* event) {
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (plain && enter) {
        event->accept();
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        if (focused != nullptr && focused != GetDlgItem(IDCANCEL) && focused->isEnabled() &&
            isAncestorOf(focused)) {
            focused->click();
        }
        return;
    }
    if (plain && event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    CDialog::keyPressEvent(event);
}

void CMainDlg::ShowInformation(int stringId, const QString& detail) {
    if (m_showInformation) {
        m_showInformation(stringId, detail);
    }
}

QString CMainDlg::SpeedLimitsLine() const {
    const InstrumentModel& model = ModelOf(m_engine.GetDeviceType());
    const SpeedLimits limits = model.startLimits ? *model.startLimits : model.speedField;
    return QStringLiteral("This instrument (%1) runs at %2 to %3 1/min.")
        .arg(QString::fromUtf8(model.name.data(), static_cast<qsizetype>(model.name.size())))
        .arg(limits.low)
        .arg(limits.high);
}

// The background picture, stretched over the whole client area whatever its aspect. The
// picture is read afresh each time, as it is only drawn when the window is exposed.
void CMainDlg::paintEvent(QPaintEvent*) {
    const std::string_view name = ModelOf(m_engine.GetDeviceType()).background;
    QPainter painter(this);
    const QRect area(0, 0, width(), height() - m_statusLine.height());
    QString path = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    // Where the screen has the pixels (a scale factor above 1) the picture drawn at twice the
    // size keeps the title sharp.
    if (devicePixelRatioF() > 1.0) {
        QString doubled = path;
        doubled.insert(doubled.lastIndexOf(QLatin1Char('.')), QStringLiteral("@2x"));
        if (QFile::exists(doubled)) {
            path = doubled;
        }
    }
    const QPixmap picture(path);
    if (picture.isNull()) {
        painter.fillRect(area, Palette::kBackground);
        return;
    }
    painter.drawPixmap(area, picture, picture.rect());
}

std::unique_ptr<QMenu> CMainDlg::MakeContextMenu() {
    auto menu = std::make_unique<QMenu>(this);
    // The leading separator is part of the menu as the window shows it.
    menu->setSeparatorsCollapsible(false);
    AddWindowItems(*menu);
    return menu;
}

void CMainDlg::AddWindowItems(QMenu& menu) {
    menu.addSeparator();
    QAction* about = menu.addAction(LoadStringResource(IDS_ABOUTBOX));
    connect(about, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
    menu.addSeparator();
    QAction* connectAgain = menu.addAction(QStringLiteral("Connect\u2026"));
    connectAgain->setEnabled(!m_engine.Running());
    connect(connectAgain, &QAction::triggered, this, &CMainDlg::OnConnect);
    QAction* history = menu.addAction(QStringLiteral("Runs\u2026"));
    connect(history, &QAction::triggered, this,
            [this] { ShowRunHistory(this, QString::fromStdString(m_engine.JournalFolder())); });
    QAction* settings = menu.addAction(QStringLiteral("Settings\u2026"));
    connect(settings, &QAction::triggered, this, &CMainDlg::OnNotificationSettings);
    QAction* runs = menu.addAction(QStringLiteral("Open runs folder"));
    connect(runs, &QAction::triggered, this, [this] {
        const QString folder = QString::fromStdString(m_engine.JournalFolder());
        QDir().mkpath(folder);
        // Where no file manager is set up, the folder's path at least can be copied.
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)) && m_tell) {
            m_tell(QStringLiteral("No file manager answered. The runs are in:\n") + folder);
        }
    });
}

void CMainDlg::OnNotificationSettings() {
    if (!m_editNotifications) {
        return;
    }
    const std::optional<NotificationSettings> chosen =
        m_editNotifications(m_notifications.Settings());
    if (!chosen) {
        return;
    }
    if (!SaveNotificationSettings(*chosen) && m_tell) {
        m_tell(QStringLiteral("The settings could not be saved in ") + ConfigurationPath());
    }
    m_notifications.Apply(*chosen);
}

// Linux window managers own the window menu, so the About item lives in the window's own
// context menu.
void CMainDlg::contextMenuEvent(QContextMenuEvent* event) {
    if (LoadStringResource(IDS_ABOUTBOX).isEmpty()) {
        return;
    }
    MakeContextMenu()->exec(event->globalPos());
}

void CMainDlg::OnSysCommand(int commandId) {
    if ((commandId & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    }
}
