#include "main_window_harness.h"

#include <stdlib.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>
#include <thread>

#include "dialog_test_support.h"
#include "resources/dialog_templates.h"
#include "widgets/up_down_ctrl.h"

CMainWindowHarness::CMainWindowHarness(HarnessOptions options)
    : m_options(std::move(options)), m_shaker(m_options.sim) {
    m_shaker.Start();
    char pattern[] = "/tmp/velmora-window-test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) {
        m_logDirectory = pattern;
    }
}

CMainWindowHarness::~CMainWindowHarness() {
    m_shaker.Stop();
    std::error_code ignored;
    std::filesystem::remove_all(m_logDirectory, ignored);
}

std::string CMainWindowHarness::TrafficLog() const {
    QFile file(QString::fromStdString(m_logDirectory + "/Zet_CommOutput.txt"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll().toStdString();
}

int CMainWindowHarness::Run(const std::function<void(CMainDlg&)>& script) {
    CMainDlg window;
    bool connectAsked = false;
    int cancelsLeft = m_options.cancelledPortChoices;
    window.m_choosePort = [this, &connectAsked, &cancelsLeft]() -> std::optional<PortChoice> {
        connectAsked = true;
        if (cancelsLeft > 0) {
            --cancelsLeft;
            return std::nullopt;
        }
        return PortChoice{m_options.portOverride.empty() ? m_shaker.SlavePath()
                                                         : m_options.portOverride};
    };
    window.m_showInformation = [this](int stringId, const QString& detail) {
        m_messages.push_back(stringId);
        m_details.push_back(detail);
    };
    window.m_chooseSavePath = [this] { return m_savePath; };
    window.m_tell = [this](const QString& text) { m_told.push_back(text); };
    window.m_engine.SetBytePause(m_options.bytePause);
    window.m_engine.SetLogDirectory(m_logDirectory);
    window.m_engine.SetCyclePeriod(m_options.cyclePeriod);
    window.m_engine.SetJournalFolder(m_logDirectory + "/runs");

    std::chrono::steady_clock::time_point closeAsked;
    // The connection runs its exchanges while the window's thread goes on with its events;
    // the script starts once it has finished (Connect leaves the engine connecting until
    // then; an instrument found running leaves it running) and the window is on the screen.
    QTimer starter;
    starter.setInterval(1);
    QObject::connect(&starter, &QTimer::timeout, &window, [&] {
        if (!connectAsked || window.m_engine.State() == EngineState::Connecting ||
            !window.isVisible()) {
            return;
        }
        starter.stop();
        script(window);
        closeAsked = std::chrono::steady_clock::now();
        if (window.isVisible()) {
            // A window left running asks before it closes.
            if (window.m_engine.Running()) {
                AnswerCloseQuestion(window, "&Close");
            }
            window.close();
        }
    });
    starter.start();
    const int result = window.DoModal();
    m_closeDuration = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - closeAsked);
    return result;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool WaitUntilSettled(const CMainDlg& window, std::chrono::milliseconds limit) {
    return WaitUntil(
        [&window] {
            const EngineState state = window.m_engine.State();
            return state != EngineState::Connecting && state != EngineState::Starting &&
                   state != EngineState::Stopping;
        },
        limit);
}

void Pump(std::chrono::milliseconds duration) {
    WaitUntil([] { return false; }, duration);
}

void AnswerCloseQuestion(CMainDlg& window, const QString& button, QString* title) {
    dialog_test::WhenModal(
        [button, title](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr) << "expected the close question";
            if (title != nullptr) {
                *title = box->windowTitle() + "|" + box->defaultButton()->text() + "|" +
                         box->escapeButton()->property("text").toString();
            }
            for (QAbstractButton* candidate : box->buttons()) {
                if (candidate->text() == button) {
                    candidate->click();
                    return;
                }
            }
            ADD_FAILURE() << "no button " << button.toStdString();
            box->close();
        },
        &window);
}

void Click(CMainDlg& window, int controlId) {
    auto* button = qobject_cast<QAbstractButton*>(window.GetDlgItem(controlId));
    ASSERT_NE(button, nullptr);
    button->click();
}

void PressSpin(CMainDlg& window, int spinId, int arrow) {
    auto* spin = qobject_cast<CUpDownCtrl*>(window.GetDlgItem(spinId));
    ASSERT_NE(spin, nullptr);
    emit spin->DeltaPos(arrow > 0 ? CUpDownCtrl::kUpperArrowDelta : CUpDownCtrl::kLowerArrowDelta);
}

QString FieldText(CMainDlg& window, int controlId) {
    auto* edit = qobject_cast<QLineEdit*>(window.GetDlgItem(controlId));
    return edit != nullptr ? edit->text() : QString();
}

void SetFieldText(CMainDlg& window, int controlId, const QString& text) {
    auto* edit = qobject_cast<QLineEdit*>(window.GetDlgItem(controlId));
    ASSERT_NE(edit, nullptr);
    edit->setText(text);
}

void ExpectMessageBox(CMainDlg& window, QString* seen) {
    dialog_test::AnswerMessageBox(seen, &window);
}
