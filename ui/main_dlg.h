#pragma once

#include <QDateTime>
#include <QIcon>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "framework/dialog.h"
#include "run/run_controller.h"
#include "ui/run_display.h"
#include "ui/status_line.h"
#include "ui/window_notifications.h"
#include "widgets/digit_st.h"
#include "widgets/lum_static.h"
#include "widgets/vex_button.h"
#include "widgets/vex_graph_wnd.h"

class QContextMenuEvent;
class QKeyEvent;
class QMenu;
class QPaintEvent;
class QProgressDialog;

// The operator window: readouts, graph, the two entry fields with their spin buttons, and
// Start, Stop, Save and Close, with a status line below. It asks for the port while it
// initialises and runs the whole life of the program as a modal dialog. The run itself is the
// run engine's; the window reads its fields, calls the engine and draws what it reports. The
// engine's requests return at once: while one is under way the window goes on painting under
// a wait cursor and takes no input.
// The name Save offers for a run begun at `start`: run-2026-12-09-1041.xls.
QString SuggestedSaveName(const QDateTime& start);

class CMainDlg : public CDialog, public IRunObserver {
    Q_OBJECT
  public:
    // The window menu's About item.
    static constexpr int IDM_ABOUTBOX = 0x0010;

    explicit CMainDlg(QWidget* parent = nullptr);
    ~CMainDlg() override;

    bool OnInitDialog() override;

    // Run control: the handlers behind Start, Stop and Save.
    void OnStart();
    void OnStop();
    void OnSave();
    void ShowSettings();
    void OnSysCommand(int commandId);
    void OnTimeSpin(int delta);
    void OnSpeedSpin(int delta);
    // Connect...: the connection again (port dialog, handshake, ID, setpoints).
    void OnConnect();
    // Settings…: who hears of the runs (webhook, desktop notifications), kept in velmora.conf.
    void OnNotificationSettings();
    // The window's context menu: a separator, the About item, Connect... and the runs folder.
    std::unique_ptr<QMenu> MakeContextMenu();

    // Seams for tests and for the program's own start-up: how the operator is asked for the
    // port (nothing: cancelled), how a message is shown, and where a save goes (an empty path
    // means cancelled).
    std::function<std::optional<PortChoice>()> m_choosePort;
    std::function<void(int, const QString&)> m_showInformation;
    std::function<QString()> m_chooseSavePath;
    // A message of the program's own (not of the string table): a box, or a test's record.
    std::function<void(const QString&)> m_tell;

    // How Settings… edits the notifications (the dialog, or a test's answer); nothing: cancelled.
    std::function<std::optional<NotificationSettings>(const NotificationSettings&)>
        m_editNotifications;
    // Who besides the window hears of its runs (a webhook, the desktop): made before the engine
    // and gone after it.
    CWindowNotifications m_notifications;
    CRunController m_engine;

    // Members, in the order the window declares them.
    QIcon m_hIcon;
    CDigitST m_digitTime;
    CDigitST m_digitSpeed;
    CVexButton m_btnStart;
    CVexButton m_btnStop;
    CVexButton m_btnSave;
    CVexButton m_btnClose;
    CLumStatic m_lblTimeScreen;
    CLumStatic m_lblSpeedScreen;
    CLumStatic m_lblTime;
    CLumStatic m_lblTimeUnit;
    CLumStatic m_lblSpeed;
    CLumStatic m_lblSpeedUnit;
    int m_nTime = 6;
    int m_nSpeed = 300;
    CVexGraphWnd m_graph;
    CRunDisplay m_display;  // the readouts' and graph's operations, with the blink flag
    CStatusLine m_statusLine;
    // How much smaller than its template the window is drawn, to fit the screen.
    double m_zoom = 1.0;

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnCommand(int controlId) override;
    // Close and the close box: during a run the operator is asked first.
    void OnCancel() override;
    void OnDestroy() override;
    // Enter and Escape never end this window.
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Holds the operator's input to the window while a request is under way.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // IRunObserver: what the engine's requests came to and what it tells the window to show.
    void ConnectionStep(const std::string& step) override;
    void ConnectFinished(const ConnectOutcome& outcome) override;
    void StartFinished(const StartOutcome& outcome) override;
    void StopFinished(const StopOutcome& outcome) override;
    void StateChanged(EngineState state) override;
    void ShowSpeed(int speed) override;
    void ShowTime(int time) override;
    void ShowBlinkingTime(int time) override;
    void ResetGraph() override;
    void PlotSpeed(int x, int speed) override;
    void RescaleGraph(float speedMin, float speedMax, double largestX) override;
    void RunningChanged(bool running) override;
    void SampleRecorded(int number, int speed, int remaining) override;
    void RunEnded(RunEnd why) override;
    void LinkStateChanged(LinkState state) override;
    void StatusNote(const std::string& text) override;
    void AlarmChanged(const Alarm& alarm) override;

    void AddWindowItems(QMenu& menu);
    void InitControls();
    void StyleButtonsAndLabels();
    void ConnectSpins();
    // Start and Stop as the engine's run says (Start only for a type that takes commands).
    void SetRunningState(bool running);
    // One spin press on an entry field, kept within `bounds`; a refused value ends the press
    // with one message box.
    void StepField(int spinId, int editId, int& value, SpeedLimits bounds, int step);
    void RefreshStatusLine();
    // The alarms raised and not yet acknowledged, on the status line.
    void ShowAlarms();
    // Asks for the port and connects to it; Cancel opens nothing and leaves the connection
    // as it was.
    void ConnectToChosenPort();
    // The string, and below it `detail` (the instrument's own limits, say) when there is one.
    void ShowInformation(int stringId, const QString& detail = {});
    // "This instrument (KW41) runs at 100 to 500 1/min.": the second line of a refused speed.
    QString SpeedLimitsLine() const;
    // A wait cursor, and the operator's input held, while a request is under way.
    void SetBusy(bool busy);
    bool m_bBusy = false;
    // The operator's Stop is under way (the end of a run goes through the same state).
    bool m_stopAsked = false;
    // The speed Stop sends: the field's when it holds a valid speed, else the engine's
    // fallback. Nothing when none is known.
    std::optional<int> SpeedForStop() const;
    // The "Connecting" progress, shown from the first exchange of a connection to its end.
    std::unique_ptr<QProgressDialog> m_connecting;
    QString m_note;            // the status line's latest note
    QStringList m_alarms;      // raised and not acknowledged, oldest first
    QString m_lastSaveFolder;  // where the last Save went: the next one starts there
    // A run was started or found since the last Connect…: the status line shows its journal
    // and its end, not an earlier connection's.
    bool m_runSinceConnect = false;
    // The journal's count of missing samples, kept apart: a later note of another kind (the
    // journal's own error at the end of the run) must not hide that samples are missing.
    QString m_journalNote;
};
