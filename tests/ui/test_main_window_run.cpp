// Whole runs through the operator window against a simulated shaker: the three ways a run
// ends, a failed connection, an instrument of no listed type, closing mid-run, saving, and
// the traffic log of a run.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <set>

#include "dialog_test_support.h"
#include "link/frames.h"
#include "link/serial_channel.h"
#include "link/shaker_protocol.h"
#include "main_window_harness.h"
#include "resources/dialog_templates.h"
#include "resources/string_table.h"
#include "run/status_poller.h"

namespace {

using namespace std::chrono_literals;

HarnessOptions FastRun(int timeUnits) {
    HarnessOptions options;
    options.sim.timeUnit = 100ms;
    options.sim.rampPerUnit = 100;
    options.sim.timeSetpoint = timeUnits;
    return options;
}

void ExpectIdle(CMainDlg& window) {
    EXPECT_FALSE(window.m_engine.Running());
    EXPECT_TRUE(window.m_btnStart.isEnabled());
    EXPECT_FALSE(window.m_btnStop.isEnabled());
}

// Enters the run's time, presses Start and waits for the start to finish.
void StartRun(CMainDlg& window, int timeUnits) {
    SetFieldText(window, IDC_TIME_EDIT, QString::number(timeUnits));
    Click(window, IDC_START);
    ASSERT_TRUE(WaitUntilSettled(window));
}

// Presses Stop and waits for the stop to finish.
void StopRun(CMainDlg& window) {
    Click(window, IDC_STOP);
    ASSERT_TRUE(WaitUntilSettled(window));
}

// The instrument says it is not running, and says so again when asked at once. The poller's
// next query may come before the engine's own one: it gets the third reply.
void QueueNotRunning(CSimulatedShaker& shaker) {
    std::vector<std::uint8_t> stopped(RunStateFrame::kLength, 0);
    stopped[0] = kFrameStartByte;
    stopped[RunStateFrame::kEcho] = kCodeRunState;
    SealFrame(stopped);
    for (int reply = 0; reply < 3; ++reply) {
        shaker.QueueReply(kCodeRunState, stopped);
    }
}

// Whether this process has `path` open.
bool HoldsOpen(const std::string& path) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (target == path || target == path + " (deleted)") {
            return true;
        }
    }
    return false;
}

// The kernel hands out the lowest free pseudo-terminal number, and other programs (tests run
// side by side) free and take lower ones all the while: those are held here until the shaker
// has its old number back.
bool ReplugOnTheSamePath(CSimulatedShaker& shaker, const std::string& path) {
    std::vector<int> held;
    bool free = false;
    for (int attempt = 0; attempt < 64 && !free; ++attempt) {
        const int fd = posix_openpt(O_RDWR | O_NOCTTY);
        if (fd < 0) {
            break;
        }
        const char* name = ptsname(fd);
        free = name != nullptr && path == name;
        if (free) {
            close(fd);
        } else {
            held.push_back(fd);
        }
    }
    const bool replugged = free && shaker.Replug() && shaker.SlavePath() == path;
    for (int fd : held) {
        close(fd);
    }
    return replugged;
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

TEST(MainWindowRun, EndsWhenTheRemainingTimeReachesZero) {
    CMainWindowHarness harness(FastRun(5));
    harness.Run([&harness](CMainDlg& window) {
        SetFieldText(window, IDC_TIME_EDIT, "5");
        Click(window, IDC_START);
        // Half a second of run may be over by the time a busy machine looks.
        ASSERT_TRUE(WaitUntil([&] {
            return window.m_engine.Running() || !window.m_engine.Record().TimeSeries().empty();
        }));
        ASSERT_TRUE(WaitUntil([&] { return !window.m_engine.Running(); }));
        ExpectIdle(window);
        const auto& times = window.m_engine.Record().TimeSeries();
        ASSERT_FALSE(times.empty());
        EXPECT_EQ(window.m_engine.Record().SpeedSeries().size(), times.size());
        // The last sample recorded is the one that ended the run, or a run-state reply
        // after the instrument stopped came first.
        EXPECT_LE(times.back(), 1u);
        // The setpoints are back on the readouts.
        EXPECT_EQ(window.m_digitTime.GetValue(), "00:05");
        EXPECT_EQ(window.m_digitSpeed.GetValue(), "  300");
        EXPECT_GT(window.m_graph.GetSeriesCount(), 0);
        EXPECT_FALSE(harness.Shaker().CurrentState().running);
    });
}

TEST(MainWindowRun, EndsWhenTheInstrumentReportsItStopped) {
    CMainWindowHarness harness(FastRun(600));
    harness.Run([&harness](CMainDlg& window) {
        StartRun(window, 600);
        ASSERT_TRUE(WaitUntil([&] { return window.m_engine.Record().SpeedSeries().size() >= 2; }));
        QueueNotRunning(harness.Shaker());
        ASSERT_TRUE(WaitUntil([&] { return !window.m_engine.Running(); }));
        ExpectIdle(window);
        EXPECT_EQ(window.m_digitTime.GetValue(), "10:00");
        EXPECT_EQ(window.m_digitSpeed.GetValue(), "  300");
        // Nothing was sent to stop the instrument: it was the one that said it stopped.
        EXPECT_EQ(harness.Shaker().RequestCount(kCodeSetSpeed), 1);
        // An alarm, in red on the status line until it is clicked.
        const auto redPixels = [&] {
            const QImage line = window.m_statusLine.grab().toImage();
            int red = 0;
            for (int y = 0; y < line.height(); ++y) {
                for (int x = 0; x < line.width(); ++x) {
                    const QColor c = line.pixelColor(x, y);
                    red += c.red() > 200 && c.green() < 160;
                }
            }
            return red;
        };
        EXPECT_EQ(window.m_statusLine.Alarm(),
                  "Alarm: The instrument ended the run before its time");
        EXPECT_GT(redPixels(), 20);
        if (const QString folder = qEnvironmentVariable("VELMORA_SCREENSHOTS"); !folder.isEmpty()) {
            window.grab().save(folder + "/status-alarm.png");
        }
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window.m_statusLine, &press);
        EXPECT_EQ(window.m_statusLine.Alarm(), "");
        EXPECT_EQ(redPixels(), 0);
    });
}

TEST(MainWindowRun, StopEndsTheRunAndTellsTheInstrument) {
    CMainWindowHarness harness(FastRun(600));
    harness.Run([&harness](CMainDlg& window) {
        StartRun(window, 600);
        ASSERT_TRUE(WaitUntil([&] { return window.m_engine.Record().SpeedSeries().size() >= 3; }));
        StopRun(window);
        ExpectIdle(window);
        EXPECT_EQ(window.m_digitTime.GetValue(), "10:00");
        EXPECT_EQ(window.m_digitSpeed.GetValue(), "  300");
        EXPECT_EQ(harness.Shaker().RequestCount(kCodeSetSpeed), 2);
        EXPECT_FALSE(harness.Shaker().CurrentState().running);
        // The poller's thread ends on its own and delivers nothing more.
        ASSERT_TRUE(WaitUntil([&] { return CStatusPoller::RunningWorkers() == 0; }));
        const std::size_t samples = window.m_engine.Record().SpeedSeries().size();
        Pump(400ms);
        EXPECT_LE(window.m_engine.Record().SpeedSeries().size(), samples + 1);
        EXPECT_FALSE(window.m_engine.Running());
    });
}

TEST(MainWindowRun, EndsOnARemainingTimeOfZeroWhileTheInstrumentStillSaysRunning) {
    CMainWindowHarness harness(FastRun(600));
    harness.Run([&harness](CMainDlg& window) {
        StartRun(window, 600);
        ASSERT_TRUE(WaitUntil([&] { return window.m_engine.Record().SpeedSeries().size() >= 2; }));
        std::vector<std::uint8_t> finished(StatusFrame::kLength, 0);
        finished[0] = kFrameStartByte;
        finished[StatusFrame::kEcho] = kCodeStatus;
        WriteU16(finished, StatusFrame::kSpeedSetpoint, 300);
        WriteU16(finished, StatusFrame::kActualSpeed, 300);
        WriteU16(finished, StatusFrame::kTimeSetpoint, 600);
        SealFrame(finished);
        harness.Shaker().QueueReply(kCodeStatus, finished);
        ASSERT_TRUE(WaitUntil([&] { return !window.m_engine.Running(); }));
        EXPECT_EQ(window.m_engine.Record().TimeSeries().back(), 0u);
        EXPECT_TRUE(harness.Shaker().CurrentState().running);
    });
}

// A speed the field refuses never reaches the instrument: "65636" would go out as 100. A late
// acknowledgement may bring a second send; each carries the speed of the start.
TEST(MainWindowRun, StopSendsTheSpeedOfTheStartWhenTheFieldHoldsNoValidSpeed) {
    CMainWindowHarness harness(FastRun(600));
    harness.Run([&harness](CMainDlg& window) {
        SetFieldText(window, IDC_SPEED_EDIT, "250");
        StartRun(window, 600);
        ASSERT_TRUE(window.m_engine.Running());
        harness.Shaker().ClearRecords();
        SetFieldText(window, IDC_SPEED_EDIT, "65636");
        QString message;
        ExpectMessageBox(window, &message);
        StopRun(window);
        ExpectIdle(window);
        std::vector<int> sent;
        for (const auto& request : harness.Shaker().Requests()) {
            if (request[CommandFrame::kCode] == kCodeSetSpeed) {
                sent.push_back(CommandParam(request));
            }
        }
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent, std::vector<int>(sent.size(), 250));
    });
}

// Four refused sends: the instrument runs on, so the window stays in the run with string 111
// shown, and Stop can be pressed again.
TEST(MainWindowRun, UnconfirmedStopAfterFourSendsKeepsTheWindowInTheRun) {
    CMainWindowHarness harness(FastRun(600));
    harness.Run([&harness](CMainDlg& window) {
        StartRun(window, 600);
        ASSERT_TRUE(window.m_engine.Running());
        harness.Shaker().InjectFor(kCodeSetSpeed, CSimulatedShaker::Fault::NonZeroStatus, 4);
        StopRun(window);
        EXPECT_EQ(harness.Shaker().RequestCount(kCodeSetSpeed), 1 + 4);
        EXPECT_EQ(harness.Messages(), std::vector<int>{IDS_STOP_NOT_CONFIRMED});
        EXPECT_TRUE(window.m_engine.Running());
        EXPECT_FALSE(window.m_btnStart.isEnabled());
        EXPECT_TRUE(window.m_btnStop.isEnabled());
        EXPECT_TRUE(WaitUntil([&] { return window.m_statusLine.Right().startsWith("Running, "); }));
        StopRun(window);
        ExpectIdle(window);
        EXPECT_FALSE(harness.Shaker().CurrentState().running);
    });
}

TEST(MainWindowRun, FailedConnectionLeavesAWindowThatCanOnlySaveAndClose) {
    HarnessOptions options;
    options.portOverride = "/dev/velmora-no-such-port";
    CMainWindowHarness harness(options);
    const QString path = QString::fromStdString(harness.LogDirectory()) + "/empty.xls";
    harness.m_savePath = path;
    const int result = harness.Run([&harness](CMainDlg& window) {
        EXPECT_EQ(harness.Messages(), std::vector<int>{IDS_CONNECT_FAILED});
        EXPECT_TRUE(window.m_engine.ConnectionFailed());
        // Beside string 102 the status line says why, with what to do.
        EXPECT_TRUE(window.m_statusLine.Right().contains("No device at /dev/velmora-no-such-port"))
            << window.m_statusLine.Right().toStdString();
        // The readouts keep their first texts.
        EXPECT_EQ(window.m_digitTime.GetValue(), "01:11");
        EXPECT_EQ(window.m_digitSpeed.GetValue(), "  500");
        ASSERT_TRUE(window.m_btnStart.isEnabled());
        Click(window, IDC_START);
        Click(window, IDC_START);
        EXPECT_EQ(harness.Messages(),
                  (std::vector<int>{IDS_CONNECT_FAILED, IDS_CONNECT_FAILED_RESTART,
                                    IDS_CONNECT_FAILED_RESTART}));
        EXPECT_FALSE(window.m_engine.Running());
        Click(window, IDC_SAVE);
        Click(window, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    // No samples: the operator hears so, and no file is written.
    EXPECT_EQ(harness.Told().size(), 1u);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(std::filesystem::exists("/dev/velmora-no-such-port"));
}

TEST(MainWindowRun, UnlistedInstrumentIsGreyedFromTheStart) {
    HarnessOptions options;
    options.sim.deviceId = "XY99-ABC";
    CMainWindowHarness harness(options);
    const QString path = QString::fromStdString(harness.LogDirectory()) + "/unlisted.xls";
    harness.m_savePath = path;
    harness.Run([&harness](CMainDlg& window) {
        EXPECT_EQ(window.m_engine.GetDeviceType(), DeviceUnlisted);
        for (int id : {IDC_TIME_EDIT, IDC_TIME_SPIN, IDC_SPEED_EDIT, IDC_SPEED_SPIN, IDC_START}) {
            EXPECT_FALSE(window.GetDlgItem(id)->isEnabled()) << id;
        }
        EXPECT_TRUE(window.m_btnSave.isEnabled());
        EXPECT_TRUE(window.m_btnClose.isEnabled());
        harness.Shaker().ClearRecords();
        window.OnStart();  // even if Start were reached, nothing is sent
        EXPECT_TRUE(harness.Shaker().Requests().empty());
        Click(window, IDC_SAVE);
    });
    EXPECT_TRUE(harness.Messages().empty());
    EXPECT_FALSE(QFile::exists(path));
}

// Enter and Escape never end a run's window; Close asks first, and once answered it returns
// at once even with a silent instrument: the poller's exchange in flight is cut short.
TEST(MainWindowRun, ClosingMidRunAsksFirstAndThenReturnsPromptlyWithASilentInstrument) {
    CMainWindowHarness harness(FastRun(600));
    harness.Run([&](CMainDlg& window) {
        StartRun(window, 600);
        ASSERT_TRUE(WaitUntil([&] { return window.m_engine.Record().SpeedSeries().size() >= 2; }));
        for (QWidget* focus : {window.GetDlgItem(IDC_TIME_EDIT), window.GetDlgItem(IDCANCEL)}) {
            focus->setFocus();
            dialog_test::PressKey(&window, Qt::Key_Return);
            dialog_test::PressKey(&window, Qt::Key_Escape);
        }
        QString question;
        AnswerCloseQuestion(window, "Cancel", &question);
        Click(window, IDCANCEL);
        EXPECT_EQ(question, "Close Velmora|Cancel|Cancel");
        ASSERT_TRUE(window.isVisible());
        ASSERT_TRUE(window.m_engine.Running());

        harness.Shaker().InjectFor(kCodeStatus, CSimulatedShaker::Fault::NoReply);
        harness.Shaker().InjectFor(kCodeRunState, CSimulatedShaker::Fault::NoReply);
        // The poller now waits for a reply that won't come.
        const auto polls = [&] {
            return harness.Shaker().RequestCount(kCodeStatus) +
                   harness.Shaker().RequestCount(kCodeRunState);
        };
        const int asked = polls();
        ASSERT_TRUE(WaitUntil([&] { return polls() > asked; }));
        const int requests = harness.Shaker().RequestCount(kCodeSetSpeed);
        AnswerCloseQuestion(window, "&Close");
        Click(window, IDCANCEL);
        EXPECT_EQ(harness.Shaker().RequestCount(kCodeSetSpeed), requests);
    });
    // The silent exchange would hold the close for its whole 5 s limit.
    EXPECT_LT(harness.m_closeDuration, 2s);
    EXPECT_EQ(CStatusPoller::RunningWorkers(), 0);
    // Closing sends nothing: the instrument's run goes on.
    EXPECT_TRUE(harness.Shaker().CurrentState().running);
}

// Space after Stop must press Start, never Close.
TEST(MainWindowRun, FocusGoesToStopAfterStartAndToStartAfterStopOrTheEndOfARun) {
    CMainWindowHarness harness(FastRun(600));
    harness.Run([](CMainDlg& window) {
        window.m_btnStart.setFocus();
        StartRun(window, 600);
        EXPECT_EQ(window.focusWidget(), &window.m_btnStop);
        StopRun(window);
        EXPECT_EQ(window.focusWidget(), &window.m_btnStart);
        StartRun(window, 2);
        ASSERT_TRUE(WaitUntil([&] { return !window.m_engine.Running(); }));
        EXPECT_EQ(window.focusWidget(), &window.m_btnStart);
    });
}

// An instrument left running (by its own keys, or by a program that ended without stopping
// it) is shown running and watched, and Stop stops it.
TEST(MainWindowRun, ConnectingToARunningInstrumentShowsItsRun) {
    CMainWindowHarness harness(FastRun(600));
    {
        CSerialChannel channel;
        channel.SetBytePause(0ms);
        channel.SetLogDirectory(harness.LogDirectory());
        ASSERT_EQ(channel.Open(harness.Shaker().SlavePath(), 9600), 1);
        ASSERT_NE(CShakerProtocol(channel).SetTime(600), 0);
    }
    ASSERT_TRUE(harness.Shaker().CurrentState().running);
    harness.Run([&harness](CMainDlg& window) {
        ASSERT_TRUE(window.m_engine.Running());
        EXPECT_FALSE(window.m_btnStart.isEnabled());
        EXPECT_TRUE(window.m_btnStop.isEnabled());
        EXPECT_TRUE(WaitUntil([&] {
            return window.m_statusLine.Right().startsWith("Running (started elsewhere), ");
        })) << window.m_statusLine.Right().toStdString();
        StopRun(window);
        ExpectIdle(window);
        EXPECT_FALSE(harness.Shaker().CurrentState().running);
    });
}

namespace {

// Files may grow no further than `bytes` (a full disk, for this process only).
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) : m_handler(std::signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

  private:
    rlimit m_saved{};
    void (*m_handler)(int);
};

}  // namespace

// The count of samples the journal could not hold stays in the status line, also after the
// journal's own error at the end of the run.
TEST(MainWindowRun, MissingJournalSamplesStayInTheStatusLine) {
    CMainWindowHarness harness(FastRun(600));
    harness.Run([](CMainDlg& window) {
        StartRun(window, 600);
        ASSERT_TRUE(WaitUntil([&] { return window.m_engine.Record().SpeedSeries().size() >= 2; }));
        const FileSizeLimit full(std::filesystem::file_size(window.m_engine.JournalPath()));
        ASSERT_TRUE(WaitUntil(
            [&] { return window.m_statusLine.Right().contains("journal incomplete: "); }));
        StopRun(window);
        EXPECT_TRUE(window.m_statusLine.Right().contains(
            QRegularExpression("journal incomplete: [1-9][0-9]* samples missing")))
            << window.m_statusLine.Right().toStdString();
    });
}

TEST(MainWindowRun, SaveDuringARunWritesTheSamplesSoFar) {
    CMainWindowHarness harness(FastRun(600));
    const QString path = QString::fromStdString(harness.LogDirectory()) + "/run.xls";
    harness.m_savePath = path;
    std::size_t saved = 0;
    harness.Run([&](CMainDlg& window) {
        StartRun(window, 600);
        ASSERT_TRUE(WaitUntil([&] { return window.m_engine.Record().SpeedSeries().size() >= 3; }));
        saved = window.m_engine.Record().SpeedSeries().size();
        Click(window, IDC_SAVE);
        EXPECT_TRUE(window.m_engine.Running());
        // The graph's picture carries a line saying which run it shows.
        const QString png = QString::fromStdString(harness.LogDirectory()) + "/graph.png";
        ASSERT_TRUE(window.m_graph.SaveImage(png));
        EXPECT_GT(QImage(png).height(), window.m_graph.grab().height());
        EXPECT_TRUE(window.m_graph.m_imageTitle().startsWith("KW41-VTX-SIM \u00b7 started "));
    });
    const QStringList lines = QString::fromLatin1(ReadFile(path)).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(static_cast<std::size_t>(lines.size()), saved + 1);
    EXPECT_EQ(lines[0], "Time(S)\tSpeed(1/min)\tTime(S)");
    EXPECT_TRUE(lines[1].startsWith("1\t"));
    EXPECT_EQ(lines.last().split('\t').size(), 3);
}

// A .csv name saves the samples with the time of day of each.
TEST(MainWindowRun, SaveAsCsvCarriesTheTimeOfDayOfEachSample) {
    CMainWindowHarness harness(FastRun(600));
    const QString path = QString::fromStdString(harness.LogDirectory()) + "/run.csv";
    harness.m_savePath = path;
    std::size_t saved = 0;
    harness.Run([&](CMainDlg& window) {
        StartRun(window, 600);
        ASSERT_TRUE(WaitUntil([&] { return window.m_engine.Record().SpeedSeries().size() >= 2; }));
        saved = window.m_engine.Record().SpeedSeries().size();
        Click(window, IDC_SAVE);
    });
    const QStringList lines = QString::fromLatin1(ReadFile(path)).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(static_cast<std::size_t>(lines.size()), saved + 1);
    EXPECT_EQ(lines[0], "Sample,Speed (1/min),Remaining time,Local time");
    EXPECT_TRUE(QRegularExpression("^1,\\d+,\\d+,\\d{4}-\\d\\d-\\d\\dT[0-9:.]+[+-]\\d\\d:\\d\\d$")
                    .match(lines[1])
                    .hasMatch())
        << lines[1].toStdString();
}

// A file the operator may not write is not replaced, though its folder would allow it.
TEST(MainWindowRun, FailedSaveSaysSoAndKeepsTheEarlierFile) {
    CMainWindowHarness harness(FastRun(600));
    const QString earlier = QString::fromStdString(harness.LogDirectory()) + "/run.xls";
    {
        QFile file(earlier);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("earlier");
    }
    QFile::setPermissions(earlier, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    harness.m_savePath = earlier;
    harness.Run([](CMainDlg& window) {
        StartRun(window, 600);
        ASSERT_TRUE(WaitUntil([&] { return !window.m_engine.Record().SpeedSeries().empty(); }));
        Click(window, IDC_SAVE);
    });
    EXPECT_EQ(harness.Messages(), std::vector<int>{IDS_SAVE_FAILED});
    EXPECT_EQ(ReadFile(earlier), "earlier");
    EXPECT_EQ(LoadStringResource(IDS_SAVE_FAILED), "Failed to save the file");
}

TEST(MainWindowRun, TrafficLogOfARunHoldsOnlyKnownFrames) {
    CMainWindowHarness harness(FastRun(4));
    harness.Run([](CMainDlg& window) {
        SetFieldText(window, IDC_TIME_EDIT, "4");
        Click(window, IDC_START);
        ASSERT_TRUE(WaitUntilSettled(window));
        ASSERT_TRUE(WaitUntil([&] { return !window.m_engine.Running(); }));
    });
    const QString log = QString::fromStdString(harness.TrafficLog());
    ASSERT_TRUE(log.endsWith("\r\n"));
    const QStringList lines = log.split("\r\n", Qt::SkipEmptyParts);
    const QRegularExpression line("^(Send|Receive|Discard):((?:[0-9A-F]{2} )*)$");
    const std::set<int> knownCodes{kCodeHandshake, kCodeRunState, kCodeStatus,
                                   kCodeIdChar,    kCodeSetSpeed, kCodeSetTime};
    int sends = 0;
    for (const QString& text : lines) {
        const auto match = line.match(text);
        ASSERT_TRUE(match.hasMatch()) << text.toStdString();
        if (match.captured(1) != "Send") {
            continue;
        }
        ++sends;
        std::vector<std::uint8_t> frame;
        for (const QString& hex : match.captured(2).split(' ', Qt::SkipEmptyParts)) {
            frame.push_back(static_cast<std::uint8_t>(hex.toUInt(nullptr, 16)));
        }
        ASSERT_EQ(frame.size(), 6u) << text.toStdString();
        EXPECT_EQ(frame[0], kFrameStartByte);
        EXPECT_TRUE(knownCodes.count(frame[1])) << text.toStdString();
        EXPECT_EQ(frame[4], 0);
        EXPECT_TRUE(ChecksumMatches(frame)) << text.toStdString();
    }
    // Handshake, 16 ID characters, the setpoints, the two start commands, and the run.
    EXPECT_GT(sends, 1 + 16 + 1 + 2 + 2);
    EXPECT_TRUE(lines[0].startsWith("Send:FE A0 00 00 00 A0"));
}

// The one test that runs the real line pacing and the real one-second cycle.
TEST(MainWindowRun, RealPacingGivesOneStatusAndOneRunStateRequestPerSecond) {
    HarnessOptions options;
    options.bytePause = 50ms;
    options.cyclePeriod = 1000ms;
    options.sim.deviceId = "KW41-VTX";  // a short ID keeps the connection quick
    options.sim.rampPerUnit = 300;
    options.sim.recordByteStamps = true;
    CMainWindowHarness harness(options);
    std::chrono::steady_clock::time_point pressed;
    harness.Run([&](CMainDlg& window) {
        // A connection that failed would leave nothing to pace.
        ASSERT_EQ(window.m_engine.Link(), LinkState::Answering);
        SetFieldText(window, IDC_TIME_EDIT, "4");
        harness.Shaker().ClearRecords();
        pressed = std::chrono::steady_clock::now();
        Click(window, IDC_START);
        ASSERT_TRUE(WaitUntilSettled(window));
        ASSERT_TRUE(WaitUntil([&] { return !window.m_engine.Running(); }, 15s));
    });
    const auto bytes = harness.Shaker().ReceivedBytes();
    ASSERT_GE(bytes.size(), 12u);
    // The simulator stamps a byte when its thread wakes for it: under load late by any
    // amount, for one byte and not the next, but never early. So no byte is stamped before
    // the pauses of every byte sent ahead of it since Start was pressed, and the typical gap
    // within a request (the median) is the pause.
    std::vector<std::chrono::steady_clock::duration> gaps;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_GE(bytes[i].at - pressed, static_cast<int>(i) * 50ms) << "byte " << i;
        if (i % 6 != 0) {
            gaps.push_back(bytes[i].at - bytes[i - 1].at);
        }
    }
    const auto median = [](auto values) {
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    };
    EXPECT_GE(median(gaps), 45ms);
    // Request starts per code, from the byte stream (every request is six bytes).
    std::vector<std::chrono::steady_clock::time_point> statusStarts, runStateStarts;
    for (std::size_t i = 0; i + 5 < bytes.size(); i += 6) {
        if (bytes[i + 1].byte == kCodeRunState) {
            runStateStarts.push_back(bytes[i].at);
        } else if (bytes[i + 1].byte == kCodeStatus) {
            statusStarts.push_back(bytes[i].at);
        }
    }
    // The poll cycles' requests: not the setpoints read after the run (the last two status
    // queries) nor a run-state query that confirms the instrument has stopped.
    ASSERT_GE(statusStarts.size(), 5u);
    ASSERT_GE(runStateStarts.size(), 4u);
    statusStarts.resize(statusStarts.size() - 2);
    runStateStarts.resize(runStateStarts.size() - 1);
    // The cycles keep an absolute schedule, so the k-th comes no earlier than k periods after
    // the press, and a period apart as a rule.
    for (const auto* starts : {&statusStarts, &runStateStarts}) {
        std::vector<std::chrono::steady_clock::duration> periods;
        for (std::size_t k = 0; k < starts->size(); ++k) {
            EXPECT_GE((*starts)[k] - pressed, static_cast<int>(k) * 1000ms) << "request " << k;
            if (k > 0) {
                periods.push_back((*starts)[k] - (*starts)[k - 1]);
            }
        }
        EXPECT_GE(median(periods), 950ms);
    }
}

// The status line names the port and the instrument and follows the link through a run;
// the readouts go grey while the link isn't answering. VELMORA_SCREENSHOTS=<folder> keeps a
// picture of the window in each state.
TEST(MainWindowRun, StatusLineFollowsTheLinkThroughARun) {
    CMainWindowHarness harness(FastRun(600));
    harness.Run([&harness](CMainDlg& window) {
        window.m_engine.SetCyclePeriod(100ms);
        window.m_engine.SetReconnectPeriod(100ms);
        const QString folder = qEnvironmentVariable("VELMORA_SCREENSHOTS");
        const auto expectState = [&](const QString& state, const char* picture) {
            EXPECT_TRUE(WaitUntil([&] { return window.m_statusLine.Right().startsWith(state); }))
                << window.m_statusLine.Right().toStdString() << " wanted " << state.toStdString();
            if (!folder.isEmpty()) {
                window.grab().save(folder + "/status-" + picture + ".png");
            }
        };
        EXPECT_TRUE(window.m_statusLine.Left().contains("KW41-VTX-SIM (type 1)"));
        expectState("Ready", "ready");
        StartRun(window, 600);
        expectState("Running, ", "running");
        // The time left as the readout shows it.
        EXPECT_TRUE(window.m_statusLine.Right().contains(
            QRegularExpression("^Running, \\d\\d:\\d\\d left")))
            << window.m_statusLine.Right().toStdString();
        EXPECT_FALSE(window.m_digitSpeed.Dimmed());
        harness.Shaker().SetSilent(true);
        expectState("No reply", "no-reply");
        EXPECT_TRUE(window.m_digitSpeed.Dimmed());
        harness.Shaker().SetSilent(false);
        expectState("Running, ", "running-again");
        const std::string port = harness.Shaker().SlavePath();
        harness.Shaker().Unplug();
        expectState("Disconnected", "disconnected");
        // The old number is free once the engine has closed the port, which its worker does
        // after the status line has changed.
        ASSERT_TRUE(WaitUntil([&] { return !HoldsOpen(port); }));
        ASSERT_TRUE(ReplugOnTheSamePath(harness.Shaker(), port));
        expectState("Running, ", "reconnected");
        EXPECT_FALSE(window.m_digitSpeed.Dimmed());
        Click(window, IDC_STOP);
        expectState("Finished", "finished");
        EXPECT_TRUE(window.m_statusLine.Right().contains("Journal: "));

        // Connect… to another port: the earlier connection's run leaves the line with it.
        window.m_choosePort = [] {
            return std::optional<PortChoice>(PortChoice{"/dev/velmora-no-such-port", 9600});
        };
        window.OnConnect();
        ASSERT_TRUE(WaitUntilSettled(window));
        const QString after = window.m_statusLine.Right();
        EXPECT_FALSE(after.contains("Journal: ") || after.contains("Finished"))
            << after.toStdString();
        EXPECT_FALSE(window.m_statusLine.Left().contains("KW41"))
            << window.m_statusLine.Left().toStdString();
        if (!folder.isEmpty()) {
            window.grab().save(folder + "/status-after-reconnect.png");
        }
    });
}

// A silent instrument (a cable pulled at the shaker) holds every exchange for its whole limit,
// up to 13 s for a Stop; the window's thread goes on with its events all the while.
TEST(MainWindowRun, SilentInstrumentNeverHoldsTheWindowsThread) {
    CMainWindowHarness harness(FastRun(600));
    harness.Run([&harness](CMainDlg& window) {
        QTimer ticker;
        auto last = std::chrono::steady_clock::now();
        std::chrono::steady_clock::duration longest{};
        int ticks = 0;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const auto now = std::chrono::steady_clock::now();
            longest = std::max(longest, now - last);
            last = now;
            ++ticks;
        });
        // The longest hold since the last call, up to the next tick (which ends the last hold).
        const auto held = [&] {
            const int seen = ticks;
            EXPECT_TRUE(WaitUntil([&] { return ticks > seen; }));
            const auto hold = std::chrono::duration_cast<std::chrono::milliseconds>(longest);
            longest = {};
            return hold;
        };
        last = std::chrono::steady_clock::now();
        ticker.start(20);
        CSimulatedShaker& shaker = harness.Shaker();

        shaker.SetSilent(true);
        Click(window, IDC_START);
        ASSERT_TRUE(WaitUntilSettled(window));
        EXPECT_FALSE(window.m_engine.Running());
        const auto start = held();

        shaker.SetSilent(false);
        StartRun(window, 600);
        ASSERT_TRUE(window.m_engine.Running());
        shaker.SetSilent(true);
        StopRun(window);
        const auto stop = held();
        shaker.SetSilent(false);
        StopRun(window);

        // The instrument's time runs out while its status replies come 3 s late: the setpoints
        // read at the end of the run waits that long for its reply.
        StartRun(window, 600);
        ASSERT_TRUE(window.m_engine.Running());
        shaker.InjectFor(kCodeStatus, CSimulatedShaker::Fault::Late, -1, 3000);
        shaker.SetReportNoTimeLeft(true);
        ASSERT_TRUE(WaitUntil([&] { return !window.m_engine.Running(); }));
        ASSERT_TRUE(WaitUntilSettled(window));
        const auto end = held();

        shaker.SetReportNoTimeLeft(false);
        shaker.ClearFaults();
        shaker.SetSilent(true);
        window.OnConnect();
        ASSERT_TRUE(WaitUntilSettled(window));
        EXPECT_TRUE(window.m_engine.ConnectionFailed());
        const auto connect = held();
        ticker.stop();
        std::printf(
            "longest hold of the window's thread: start %lld ms, stop %lld ms, end of "
            "run %lld ms, connect %lld ms\n",
            static_cast<long long>(start.count()), static_cast<long long>(stop.count()),
            static_cast<long long>(end.count()), static_cast<long long>(connect.count()));
        // The shortest silent exchange holds its thread for 2 s; a busy machine alone can keep
        // a thread waiting for a few hundred milliseconds.
        ASSERT_LT(std::max({start, stop, end, connect}), 1s);
    });
    EXPECT_EQ(harness.Messages(), (std::vector<int>{IDS_START_NOT_ACKNOWLEDGED,
                                                    IDS_STOP_NOT_CONFIRMED, IDS_CONNECT_FAILED}));
}
