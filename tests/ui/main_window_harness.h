#pragma once

// Runs the real main window, modally, against a simulated shaker on a pseudo-terminal. The
// port choice, the information dialog and the save-as dialog go through the window's seams;
// everything else (validation messages, the engine with its channel and poller) is the real
// thing.

#include <QString>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "sim/simulated_shaker.h"
#include "ui/main_dlg.h"

struct HarnessOptions {
    SimOptions sim;
    // The byte pause and the poller's cycle, shortened unless a test checks the real ones.
    std::chrono::milliseconds bytePause{1};
    std::chrono::milliseconds cyclePeriod{100};
    // Port the window opens; empty means the simulator's.
    std::string portOverride;
    // The first port dialogs answered with Cancel.
    int cancelledPortChoices = 0;
};

class CMainWindowHarness {
  public:
    explicit CMainWindowHarness(HarnessOptions options = {});
    ~CMainWindowHarness();

    // Shows the window modally; `script` runs inside its modal loop once it is up and must
    // end the window (or the harness closes it when the script returns). Returns DoModal's
    // result.
    int Run(const std::function<void(CMainDlg&)>& script);

    CSimulatedShaker& Shaker() { return m_shaker; }
    const std::vector<int>& Messages() const { return m_messages; }
    // The second line of each message, empty where it had none.
    const std::vector<QString>& Details() const { return m_details; }
    // The program's own messages (not of the string table).
    const std::vector<QString>& Told() const { return m_told; }
    std::string LogDirectory() const { return m_logDirectory; }
    std::string TrafficLog() const;
    // What the next Save writes to; empty cancels.
    QString m_savePath;
    // Time DoModal spent after the window was asked to close.
    std::chrono::milliseconds m_closeDuration{0};

  private:
    HarnessOptions m_options;
    CSimulatedShaker m_shaker;
    std::string m_logDirectory;
    std::vector<int> m_messages;
    std::vector<QString> m_details;
    std::vector<QString> m_told;
};

// Runs the event loop until `done` holds; false if the limit passed first.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(20));
// Runs the event loop until the engine's Connect, Start or Stop under way has finished.
bool WaitUntilSettled(const CMainDlg& window,
                      std::chrono::milliseconds limit = std::chrono::seconds(20));
// Lets the event loop run for a while (for "nothing happens" checks).
void Pump(std::chrono::milliseconds duration);

// Answers the next "Close Velmora" question with `button` ("&Close" or "Cancel"); `title`
// gets "title|default button|Escape's button".
void AnswerCloseQuestion(CMainDlg& window, const QString& button, QString* title = nullptr);
// Clicks a button of the window, as the operator would.
void Click(CMainDlg& window, int controlId);
// Presses the upper (+1) or lower (-1) arrow of a spin button.
void PressSpin(CMainDlg& window, int spinId, int arrow);
QString FieldText(CMainDlg& window, int controlId);
void SetFieldText(CMainDlg& window, int controlId, const QString& text);
// Answers the next message box with OK and returns its text through `seen`.
void ExpectMessageBox(CMainDlg& window, QString* seen);
