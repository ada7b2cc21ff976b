#pragma once

#include <QIcon>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "framework/dialog.h"
#include "run/connection_host.h"
#include "run/instrument_connection.h"
#include "run/poller_messages.h"
#include "run/run_record.h"
#include "run/status_poller.h"
#include "ui/run_display.h"
#include "widgets/digit_st.h"
#include "widgets/lum_static.h"
#include "widgets/vex_button.h"
#include "widgets/vex_graph_wnd.h"

class QContextMenuEvent;
class QKeyEvent;
class QMenu;
class QPaintEvent;

// The operator window: readouts, graph, the two entry fields with their spin buttons, and
// Start, Stop, Save and Close. It connects to the instrument while it initialises and runs
// the whole life of the program as a modal dialog.
class CMainDlg : public CDialog, public IConnectionHost, public IPollerReceiver {
    Q_OBJECT
  public:
    // The window menu's About item.
    static constexpr int IDM_ABOUTBOX = 0x0010;

    // The entry fields' bounds. The time travels as a 16-bit parameter, so its field stops
    // at 65535 rather than letting a larger value reach the instrument truncated.
    static constexpr int kTimeMin = 0;
    static constexpr int kTimeMax = 65535;
    static constexpr int kSpeedMin = 100;
    static constexpr int kSpeedMax = 800;

    static constexpr int kStopRetries = 4;

    explicit CMainDlg(QWidget* parent = nullptr);
    ~CMainDlg() override;

    bool OnInitDialog() override;

    // Run control: the handlers behind Start, Stop, Save and the poller's notifications.
    void OnStart();
    void OnStop();
    void OnSave();
    void ShowSettings() override;
    int OnStatusUpdate(long wParam, long lParam);
    int OnRunState(long wParam, long lParam);
    void OnSysCommand(int commandId);
    void OnTimeSpin(int delta);
    // The window's context menu: a separator, then the About item.
    std::unique_ptr<QMenu> MakeContextMenu();
    void OnSpeedSpin(int delta);

    // Seams for tests and for the program's own start-up: how the operator is asked for the
    // port, how a message is shown, and where a save goes (an empty path means cancelled).
    std::function<void(CSerialChannel&)> m_choosePort;
    std::function<void(int)> m_showInformation;
    std::function<QString()> m_chooseSavePath;

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
    CRunRecord m_record;                 // the speed and time series with the speed extent
    CInstrumentConnection m_connection;  // the connection-failed flag and the device type
    int m_nRunning = 0;
    CVexGraphWnd m_graph;
    CStatusPoller m_poller;
    CRunDisplay m_display;  // the readouts' and graph's operations, with the blink flag

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

  private:
    // IConnectionHost: what the start-up connection asks of the window.
    void ChoosePort(CSerialChannel& channel) override;
    void ShowInformation(int stringId) override;
    void EnableControl(int controlId, bool enable) override;
    // IPollerReceiver: runs on this window's thread while the poller waits for it.
    int OnPollerMessage(unsigned message, long wParam, long lParam) override;

    void InitControls();
    void StyleButtonsAndLabels();
    void ConnectSpins();
    void SetRunningState(bool running);
    // A wait cursor while the connection runs with no window on the screen yet.
    void SetBusy(bool busy);
    bool m_bBusy = false;
    bool SpeedWithinLimits() const;
    // The speed Stop sends: the field's when it holds a valid speed, else the one last sent
    // at Start, else the setpoint on show. Nothing when none is known.
    std::optional<int> SpeedForStop() const;
    // Runs `work` on a thread of its own while this window keeps painting under a wait
    // cursor with the operator's input held back; returns when the work is done.
    void RunOffWindowThread(const std::function<void()>& work);
    // Asks the instrument for its setpoints off the window's thread and shows them.
    void QueryAndShowSetpoints();
    void ShowSetpoints(const std::vector<std::uint8_t>& statusReply);
    bool m_bStopping = false;  // Stop's exchanges are under way
    std::optional<int> m_lastStartSpeed;
    std::optional<int> m_shownSpeedSetpoint;
};
