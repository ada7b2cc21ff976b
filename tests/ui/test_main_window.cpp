// The operator window against a simulated shaker: its opening state, the entry fields with
// their spin buttons, and the speed limits at Start.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <memory>

#include "dialog_test_support.h"
#include "link/frames.h"
#include "main_window_harness.h"
#include "resources/dialog_templates.h"
#include "resources/string_table.h"
#include "run/instrument_models.h"
#include "run/status_poller.h"
#include "ui/about_dlg.h"
#include "ui/info_dlg.h"
#include "ui/instrument_app.h"
#include "ui/port_setting_dlg.h"
#include "widgets/up_down_ctrl.h"

namespace {

using namespace std::chrono_literals;

HarnessOptions WithId(const std::string& id) {
    HarnessOptions options;
    options.sim.deviceId = id;
    return options;
}

}  // namespace

TEST(MainWindow, OpensIdleWithTheInstrumentsSetpoints) {
    HarnessOptions options;
    options.sim.speedSetpoint = 250;
    options.sim.timeSetpoint = 71;
    CMainWindowHarness harness(options);
    harness.Run([](CMainDlg& window) {
        EXPECT_EQ(window.windowTitle(), "Velmora");
        EXPECT_EQ(FieldText(window, IDC_TIME_EDIT), "6");
        EXPECT_EQ(FieldText(window, IDC_SPEED_EDIT), "300");
        EXPECT_TRUE(window.m_btnStart.isEnabled());
        EXPECT_FALSE(window.m_btnStop.isEnabled());
        EXPECT_TRUE(window.m_btnSave.isEnabled());
        // The operator's next step has the focus.
        EXPECT_EQ(window.focusWidget(), &window.m_btnStart);
        EXPECT_EQ(window.m_engine.GetDeviceType(), DeviceKW41);
        EXPECT_FALSE(window.m_engine.ConnectionFailed());
        EXPECT_EQ(window.m_digitSpeed.GetValue(), "  250");
        EXPECT_EQ(window.m_digitTime.GetValue(), "01:11");
        EXPECT_FALSE(window.m_engine.Running());
    });
    EXPECT_TRUE(harness.Messages().empty());
}

// The bounds are the model table's, whatever the field held.
TEST(MainWindow, SpinsStepEachFieldWithinItsBounds) {
    CMainWindowHarness harness;
    harness.Run([](CMainDlg& window) {
        PressSpin(window, IDC_TIME_SPIN, +1);
        EXPECT_EQ(FieldText(window, IDC_TIME_EDIT), "7");
        PressSpin(window, IDC_SPEED_SPIN, -1);
        EXPECT_EQ(FieldText(window, IDC_SPEED_EDIT), "290");

        const InstrumentModel& model = ModelOf(window.m_engine.GetDeviceType());
        const struct {
            int spin, edit, arrow;
            int bound;
        } edges[] = {
            {IDC_TIME_SPIN, IDC_TIME_EDIT, -1, model.timeField.low},
            {IDC_TIME_SPIN, IDC_TIME_EDIT, +1, model.timeField.high},
            {IDC_SPEED_SPIN, IDC_SPEED_EDIT, -1, model.speedField.low},
            {IDC_SPEED_SPIN, IDC_SPEED_EDIT, +1, model.speedField.high},
        };
        for (const auto& edge : edges) {
            SetFieldText(window, edge.edit, QString::number(edge.bound));
            PressSpin(window, edge.spin, edge.arrow);
            EXPECT_EQ(FieldText(window, edge.edit), QString::number(edge.bound));
        }
    });
}

// A held arrow repeats every 100 ms; on a refused value its press ends with the one box.
TEST(MainWindow, HeldArrowOnARefusedValueShowsOneBoxAndStepsIntoTheBounds) {
    CMainWindowHarness harness;
    harness.Run([](CMainDlg& window) {
        SetFieldText(window, IDC_TIME_EDIT, "65536");
        auto* spin = qobject_cast<CUpDownCtrl*>(window.GetDlgItem(IDC_TIME_SPIN));
        ASSERT_NE(spin, nullptr);
        QAbstractButton* upper = spin->findChildren<QAbstractButton*>().value(0);
        ASSERT_NE(upper, nullptr);
        int boxes = 0;
        QString message;
        QTimer answerer;
        QObject::connect(&answerer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                ++boxes;
                message = box->text();
                box->accept();
            }
        });
        answerer.start(5);
        const QPointF centre = QRectF(upper->rect()).center();
        QMouseEvent press(QEvent::MouseButtonPress, centre, upper->mapToGlobal(centre),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(upper, &press);
        EXPECT_TRUE(WaitUntil([&] { return boxes > 1 || (boxes == 1 && !upper->isDown()); }, 5s));
        QMouseEvent release(QEvent::MouseButtonRelease, centre, upper->mapToGlobal(centre),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(upper, &release);
        answerer.stop();
        EXPECT_EQ(boxes, 1);
        EXPECT_EQ(message, "Please enter an integer between 1 and 65535.");
        EXPECT_EQ(FieldText(window, IDC_TIME_EDIT), "65535");
    });
}

TEST(MainWindow, SpinOnATimeThatIsNoNumberStepsTheLastGoodValue) {
    CMainWindowHarness harness;
    harness.Run([](CMainDlg& window) {
        SetFieldText(window, IDC_TIME_EDIT, "six");
        QString message;
        ExpectMessageBox(window, &message);
        PressSpin(window, IDC_TIME_SPIN, +1);
        EXPECT_EQ(message, "Please enter an integer.");
        EXPECT_EQ(window.m_nTime, 7);
        EXPECT_EQ(FieldText(window, IDC_TIME_EDIT), "7");
        EXPECT_EQ(FieldText(window, IDC_SPEED_EDIT), "300");
    });
}

// A time of 0 would start nothing on the instrument; above 65535 it would travel cut short.
TEST(MainWindow, TimeOutsideItsBoundsIsRefusedAndNothingIsSent) {
    CMainWindowHarness harness;
    harness.Run([&harness](CMainDlg& window) {
        harness.Shaker().ClearRecords();
        for (const char* time : {"0", "65536"}) {
            SetFieldText(window, IDC_TIME_EDIT, time);
            QString message;
            ExpectMessageBox(window, &message);
            Click(window, IDC_START);
            EXPECT_EQ(message, "Please enter an integer between 1 and 65535.") << time;
        }
        EXPECT_FALSE(window.m_engine.Running());
        EXPECT_TRUE(harness.Shaker().Requests().empty());
    });
}

TEST(MainWindow, SpeedLimitsPerDeviceType) {
    struct Case {
        std::string id;
        int refused;  // 0: none
        int accepted;
    };
    const Case cases[] = {
        {"KV41-VTX", 351, 350},
        {"KW41-VTX", 501, 500},
        {"KV27-VTX", 351, 100},
        {"KW27-VTX", 0, 800},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        CMainWindowHarness harness(WithId(c.id));
        harness.Run([&](CMainDlg& window) {
            if (c.refused != 0) {
                harness.Shaker().ClearRecords();
                SetFieldText(window, IDC_SPEED_EDIT, QString::number(c.refused));
                Click(window, IDC_START);
                ASSERT_EQ(harness.Messages(), std::vector<int>{IDS_SPEED_OUT_OF_RANGE});
                // Below it, the range this instrument takes.
                EXPECT_TRUE(harness.Details().front().endsWith(
                    QStringLiteral(" to %1 1/min.").arg(c.accepted == 100 ? 350 : c.accepted)))
                    << harness.Details().front().toStdString();
                EXPECT_TRUE(harness.Shaker().Requests().empty());
                EXPECT_FALSE(window.m_engine.Running());
            }
            SetFieldText(window, IDC_SPEED_EDIT, QString::number(c.accepted));
            Click(window, IDC_START);
            ASSERT_TRUE(WaitUntilSettled(window));
            EXPECT_TRUE(window.m_engine.Running());
            EXPECT_FALSE(window.m_btnStart.isEnabled());
            EXPECT_TRUE(window.m_btnStop.isEnabled());
            EXPECT_EQ(harness.Shaker().CurrentState().speedSetpoint, c.accepted);
        });
    }
}

// The time command started the instrument: the run goes on, and the operator hears that it
// runs at its own setpoint.
TEST(MainWindow, StartGoesAheadWhenOnlyTheTimeIsAcknowledgedAndSaysTheSpeedWasRefused) {
    CMainWindowHarness harness;
    harness.Run([&harness](CMainDlg& window) {
        harness.Shaker().InjectFor(kCodeSetSpeed, CSimulatedShaker::Fault::NonZeroStatus, 1);
        Click(window, IDC_START);
        ASSERT_TRUE(WaitUntilSettled(window));
        EXPECT_TRUE(window.m_engine.Running());
        EXPECT_TRUE(window.m_btnStop.isEnabled());
        EXPECT_EQ(CStatusPoller::RunningWorkers(), 1);
    });
    EXPECT_EQ(harness.Messages(), std::vector<int>{IDS_SPEED_REFUSED});
    EXPECT_EQ(LoadStringResource(IDS_SPEED_REFUSED),
              "The instrument refused the speed and runs at its own setpoint");
}

TEST(MainWindow, NoRunWhenNeitherStartCommandIsAcknowledged) {
    CMainWindowHarness harness;
    harness.Run([&harness](CMainDlg& window) {
        harness.Shaker().InjectFor(kCodeSetSpeed, CSimulatedShaker::Fault::BadChecksum, 1);
        harness.Shaker().InjectFor(kCodeSetTime, CSimulatedShaker::Fault::BadChecksum, 1);
        Click(window, IDC_START);
        ASSERT_TRUE(WaitUntilSettled(window));
        EXPECT_FALSE(window.m_engine.Running());
        EXPECT_TRUE(window.m_btnStart.isEnabled());
        EXPECT_EQ(CStatusPoller::RunningWorkers(), 0);
    });
    EXPECT_EQ(harness.Messages(), std::vector<int>{IDS_START_NOT_ACKNOWLEDGED});
    EXPECT_EQ(LoadStringResource(IDS_START_NOT_ACKNOWLEDGED),
              "The instrument did not acknowledge the start");
}

// Cancel (or Escape) in the port dialog: nothing is opened, and the window says how to connect.
TEST(MainWindow, CancelInThePortDialogOpensNothingAndSaysHowToConnect) {
    HarnessOptions options;
    options.cancelledPortChoices = 1;
    CMainWindowHarness harness(options);
    harness.Run([&harness](CMainDlg& window) {
        EXPECT_TRUE(harness.Messages().empty());
        EXPECT_TRUE(window.m_engine.PortName().empty());
        EXPECT_TRUE(window.m_statusLine.Right().startsWith(
            "Not connected \u2014 right-click and choose Connect\u2026 to choose a port"))
            << window.m_statusLine.Right().toStdString();
        Click(window, IDC_START);
        EXPECT_EQ(harness.Messages(), std::vector<int>{IDS_NOT_CONNECTED});
        EXPECT_TRUE(harness.Shaker().Requests().empty());

        window.OnConnect();
        ASSERT_TRUE(WaitUntilSettled(window));
        EXPECT_EQ(window.m_engine.GetDeviceType(), DeviceKW41);
        EXPECT_TRUE(window.m_statusLine.Right().startsWith("Ready"));
    });
    EXPECT_EQ(LoadStringResource(IDS_NOT_CONNECTED),
              "The instrument is not connected: right-click the window and choose Connect...");
}

// The boxes the framework shows carry the program's name.
TEST(MainWindow, ValidationBoxIsTitledWithTheProgramsName) {
    CInstrumentApp::ApplyProgramIdentity();
    CMainWindowHarness harness;
    harness.Run([](CMainDlg& window) {
        SetFieldText(window, IDC_TIME_EDIT, "six");
        QString title;
        dialog_test::WhenModal(
            [&title](QWidget* box) {
                title = box->windowTitle();
                box->close();
            },
            &window);
        Click(window, IDC_START);
        EXPECT_EQ(title, "Velmora");
    });
}

// The window's menu starts with a separator that the menu must not fold away.
TEST(MainWindow, ContextMenuShowsItsLeadingSeparator) {
    CMainWindowHarness harness;
    harness.Run([](CMainDlg& window) {
        std::unique_ptr<QMenu> menu = window.MakeContextMenu();
        ASSERT_GE(menu->actions().size(), 2);
        EXPECT_TRUE(menu->actions().front()->isSeparator());
        EXPECT_EQ(menu->actions().at(1)->text(), "&About Velmora...");
        menu->adjustSize();
        EXPECT_GT(menu->actionGeometry(menu->actions().front()).height(), 0);
    });
}

TEST(MainWindow, AboutItemShowsTheAboutBox) {
    CMainWindowHarness harness;
    harness.Run([](CMainDlg& window) {
        QString text;
        dialog_test::WhenModal(
            [&text](QWidget* about) {
                for (QLabel* label : about->findChildren<QLabel*>()) {
                    text += label->text() + "|";
                }
                EXPECT_EQ(about->windowTitle(), "About Velmora");
                // OK opens with the default and focus cues: it draws unlike a plain button.
                auto* ok = qobject_cast<QPushButton*>(about->focusWidget());
                ASSERT_NE(ok, nullptr);
                EXPECT_EQ(ok->text(), "OK");
                about->activateWindow();
                QApplication::processEvents();
                ASSERT_TRUE(ok->hasFocus());
                const QImage cued = dialog_test::Grab(*ok);
                ok->setDefault(false);
                EXPECT_NE(cued, dialog_test::Grab(*ok));
                about->close();
            },
            &window);
        window.OnSysCommand(CMainDlg::IDM_ABOUTBOX);
        EXPECT_TRUE(text.contains("Velmora Version 1.2|")) << text.toStdString();
        // Other window commands are not the About item.
        window.OnSysCommand(0xF020);
    });
}

namespace {

// Every caption of a dialog fits its box in the font it is drawn in.
void ExpectCaptionsFit(QWidget& dialog) {
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text().isEmpty()) {
            continue;
        }
        auto* lum = qobject_cast<CLumStatic*>(label);
        const QFont font = lum != nullptr && lum->m_pFont ? *lum->m_pFont : label->font();
        // A cell height and an advance, as the window system lays a caption out.
        const QFontMetrics metrics(font);
        QString shown = label->text();
        shown.remove(QRegularExpression("&(?!&)"));
        const QSize box = label->contentsRect().size();
        EXPECT_LE(metrics.horizontalAdvance(shown), box.width()) << shown.toStdString();
        EXPECT_LE(metrics.height(), box.height()) << shown.toStdString();
    }
}

}  // namespace

TEST(MainWindow, EveryCaptionOfTheFourWindowsFitsItsBox) {
    CMainWindowHarness harness;
    harness.Run([](CMainDlg& window) {
        ExpectCaptionsFit(window);
        EXPECT_TRUE(window.m_lblSpeedScreen.text().endsWith(':'));
    });
    CAboutDlg about;
    about.OnInitDialog();
    ExpectCaptionsFit(about);
    CInfoDlg info;
    info.m_strMessage = LoadStringResource(IDS_CONNECT_FAILED_RESTART);
    info.OnInitDialog();
    ExpectCaptionsFit(info);
    CPortSettingDlg port;
    port.OnInitDialog();
    ExpectCaptionsFit(port);
}
