// velmora-cli as a child process against the simulated shaker on a real pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <thread>

#include "link/frames.h"
#include "run/record_export.h"
#include "sim/simulated_shaker.h"

namespace {

struct CliResult {
    int exitCode = -1;
    QString out;
    QString err;
};

struct Sample {
    int number, speed, remaining;
    QString time;
};

QString CliPath() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../cli/velmora-cli");
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString Path(const QString& name) const { return m_dir.filePath(name); }

    void Launch(QProcess& process, const QStringList& args,
                const QString& bytePauseMs = QStringLiteral("0")) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.path());
        env.insert(QStringLiteral("VELMORA_BYTE_PAUSE_MS"), bytePauseMs);
        env.insert(QStringLiteral("VELMORA_SIM_UNIT_MS"), QStringLiteral("300"));
        process.setProcessEnvironment(env);
        process.start(CliPath(), args);
        ASSERT_TRUE(process.waitForStarted()) << CliPath().toStdString();
    }

    static CliResult Finish(QProcess& process, int limitMs = 60000) {
        EXPECT_TRUE(process.waitForFinished(limitMs));
        CliResult result;
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    CliResult Cli(const QStringList& args) {
        QProcess process;
        Launch(process, args);
        return Finish(process);
    }

    // Reads standard output until `lines` whole lines have arrived.
    static QString WaitForLines(QProcess& process, int lines) {
        QByteArray seen;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (seen.count('\n') < lines && std::chrono::steady_clock::now() < deadline) {
            process.waitForReadyRead(200);
            seen += process.readAllStandardOutput();
        }
        return QString::fromUtf8(seen);
    }

    static std::vector<Sample> ParseSamples(const QString& jsonLines) {
        std::vector<Sample> samples;
        for (const QString& line : jsonLines.split(u'\n', Qt::SkipEmptyParts)) {
            const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
            EXPECT_TRUE(o.contains(QStringLiteral("sample"))) << line.toStdString();
            samples.push_back(Sample{
                o[QStringLiteral("sample")].toInt(), o[QStringLiteral("speed")].toInt(-1),
                o[QStringLiteral("remaining")].toInt(-1), o[QStringLiteral("time")].toString()});
        }
        return samples;
    }

    // The only journal the runs wrote: its sample lines, and its last line.
    std::pair<std::vector<QString>, QString> Journal() const {
        const QDir runs(m_dir.filePath(QStringLiteral("velmora/runs")));
        const QStringList files = runs.entryList({QStringLiteral("run-*.tsv")}, QDir::Files);
        EXPECT_EQ(files.size(), 1);
        if (files.size() != 1) {
            return {};
        }
        QFile file(runs.filePath(files.front()));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        std::vector<QString> samples;
        QString last;
        for (const QString& line :
             QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
            if (!line.startsWith(u'#')) {
                samples.push_back(line);
            }
            // The seal's lines follow the run's last line.
            if (!line.startsWith(QStringLiteral("# line digests")) &&
                !line.startsWith(QStringLiteral("# signing key")) &&
                !line.startsWith(QStringLiteral("# sha256 ")) &&
                !line.startsWith(QStringLiteral("# signature "))) {
                last = line;
            }
        }
        return {samples, last};
    }

    // What the window's Save writes for these samples.
    static std::string ExpectedExport(const std::vector<Sample>& samples) {
        CRunRecord record;
        for (const Sample& s : samples) {
            record.AppendSpeed(static_cast<std::uint32_t>(s.speed));
            record.AppendRemainingTime(static_cast<std::uint32_t>(s.remaining));
        }
        return FormatRecordExport(record, DeviceKW41);
    }

    std::string ReadFile(const QString& name) const {
        QFile file(Path(name));
        if (!file.open(QIODevice::ReadOnly)) {
            return "<missing>";
        }
        return file.readAll().toStdString();
    }

    // The journal's lines hold the samples printed, with the instrument's reading between the
    // displayed speed and the remaining time.
    static void ExpectJournalHolds(const std::vector<QString>& lines,
                                   const std::vector<Sample>& samples) {
        ASSERT_EQ(lines.size(), samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            QStringList fields = lines[i].split(u'\t');
            ASSERT_EQ(fields.size(), 5) << lines[i].toStdString();
            bool isNumber = false;
            fields.takeAt(2).toInt(&isNumber);
            EXPECT_TRUE(isNumber) << lines[i].toStdString();
            EXPECT_EQ(fields.join(u'\t'), QStringLiteral("%1\t%2\t%3\t%4")
                                              .arg(samples[i].number)
                                              .arg(samples[i].speed)
                                              .arg(samples[i].remaining)
                                              .arg(samples[i].time));
        }
    }

    QTemporaryDir m_dir;
};

// True once the process has its own SIGTERM handler, so a SIGTERM no longer kills it outright.
bool CatchesSigterm(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return false;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1) & 1) != 0;
        }
    }
    return false;
}

// The line settings of a terminal device, after `change` when one is given.
std::optional<termios> LineSettings(const std::string& path,
                                    const std::function<void(termios&)>& change = {}) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    bool ok = fd >= 0 && tcgetattr(fd, &settings) == 0;
    if (ok && change) {
        change(settings);
        ok = tcsetattr(fd, TCSANOW, &settings) == 0 && tcgetattr(fd, &settings) == 0;
    }
    if (fd >= 0) {
        close(fd);
    }
    return ok ? std::optional(settings) : std::nullopt;
}

void ExpectSameLineSettings(const termios& after, const termios& before) {
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
}

SimOptions FastShaker() {
    SimOptions options;
    options.timeUnit = std::chrono::milliseconds(400);
    return options;
}

}  // namespace

TEST_F(CliTest, IdentifyJsonOnTheEmbeddedSimulator) {
    const CliResult r = Cli({"identify", "--port", "simulator", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(o[QStringLiteral("device_id")].toString(), QStringLiteral("KW41-VTX-SIM"));
    EXPECT_EQ(o[QStringLiteral("device_type")].toInt(-1), 1);
    EXPECT_EQ(o[QStringLiteral("speed_min")].toInt(), 100);
    EXPECT_EQ(o[QStringLiteral("speed_max")].toInt(), 500);
    EXPECT_EQ(o[QStringLiteral("speed_setpoint")].toInt(), 300);
    EXPECT_EQ(o[QStringLiteral("time_setpoint")].toInt(), 6);
    EXPECT_TRUE(o[QStringLiteral("port")].toString().startsWith(QStringLiteral("/dev/pts/")));
    EXPECT_FALSE(o[QStringLiteral("running")].toBool(true));
}

// A run on the built-in simulator is not taken for a real instrument's: its journal says so.
TEST_F(CliTest, ARunOnTheEmbeddedSimulatorIsJournalledAsSimulated) {
    const CliResult r = Cli({"run", "--port", "simulator", "--speed", "200", "--time", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const qsizetype at = r.err.lastIndexOf(QStringLiteral("journal "));
    ASSERT_GE(at, 0) << r.err.toStdString();
    QFile journal(r.err.mid(at + 8).trimmed());
    ASSERT_TRUE(journal.open(QIODevice::ReadOnly)) << journal.fileName().toStdString();
    EXPECT_TRUE(journal.readAll().contains("\n# simulation\n"));
}

TEST_F(CliTest, RunJsonSamplesAreTheExportAndTheJournal) {
    CSimulatedShaker shaker(FastShaker());
    ASSERT_TRUE(shaker.Start());
    const CliResult r = Cli({"run", "--port", QString::fromStdString(shaker.SlavePath()), "--speed",
                             "200", "--time", "5", "--json", "--out", Path("run.xls")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const std::vector<Sample> samples = ParseSamples(r.out);
    ASSERT_GE(samples.size(), 2u) << r.out.toStdString();
    for (std::size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(samples[i].number, static_cast<int>(i + 1));
        EXPECT_GE(samples[i].speed, 0);
    }
    EXPECT_EQ(samples.back().remaining, 0);
    EXPECT_EQ(ReadFile(QStringLiteral("run.xls")), ExpectedExport(samples));
    const auto [lines, last] = Journal();
    ExpectJournalHolds(lines, samples);
    EXPECT_TRUE(last.startsWith(QStringLiteral("# end\ttime 0"))) << last.toStdString();

    // The run's record: sealed and signed by the user's key, in an intact audit trail.
    const QString journal =
        QDir(Path(QStringLiteral("velmora/runs"))).entryInfoList({"run-*.tsv"}).front().filePath();
    const CliResult key = Cli({"key"});
    ASSERT_EQ(key.exitCode, 0);
    const CliResult sealed = Cli({"verify", journal, "--key", key.out.trimmed()});
    EXPECT_EQ(sealed.exitCode, 0) << sealed.out.toStdString();
    EXPECT_TRUE(sealed.out.contains("signed by")) << sealed.out.toStdString();
    EXPECT_EQ(Cli({"audit", "verify"}).exitCode, 0);
    EXPECT_TRUE(Cli({"audit", "show", "--json"}).out.contains(R"("event":"run end")"));
    const CliResult report = Cli({"report", journal, "--pdf", Path("run.pdf")});
    EXPECT_EQ(report.exitCode, 0) << report.err.toStdString();
    EXPECT_TRUE(ReadFile(QStringLiteral("run.pdf")).starts_with("%PDF-"));

    QFile file(journal);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray text = file.readAll();
    text.replace("\n2\t", "\n2\t1");  // the second sample's speed, one digit more
    file.resize(0);
    file.write(text);
    file.close();
    const CliResult altered = Cli({"verify", journal});
    EXPECT_EQ(altered.exitCode, 7);
    EXPECT_TRUE(altered.out.startsWith("altered at line 11")) << altered.out.toStdString();
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.left(text.indexOf("# end")));
    file.close();
    EXPECT_EQ(Cli({"verify", journal}).exitCode, 9);
}

TEST_F(CliTest, InterruptStopsTheInstrumentAndKeepsEverySample) {
    CSimulatedShaker shaker;
    ASSERT_TRUE(shaker.Start());
    QProcess process;
    Launch(process, {"run", "--port", QString::fromStdString(shaker.SlavePath()), "--speed", "250",
                     "--time", "600", "--json", "--out", Path("run.xls")});
    QString out = WaitForLines(process, 2);
    ASSERT_TRUE(shaker.CurrentState().running);
    kill(static_cast<pid_t>(process.processId()), SIGINT);
    const CliResult r = Finish(process);
    out += r.out;
    EXPECT_EQ(r.exitCode, 130) << r.err.toStdString();

    // After the run's SetTime, the stop's SetSpeed with the run's speed; the platform idles.
    const auto requests = shaker.Requests();
    std::size_t start = requests.size();
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (requests[i][CommandFrame::kCode] == kCodeSetTime) {
            start = i;
        }
    }
    bool stopSent = false;
    for (std::size_t i = start; i < requests.size(); ++i) {
        stopSent = stopSent || (requests[i][CommandFrame::kCode] == kCodeSetSpeed &&
                                requests[i][CommandFrame::kParamHigh] * 256 +
                                        requests[i][CommandFrame::kParamLow] ==
                                    250);
    }
    EXPECT_TRUE(stopSent);
    EXPECT_FALSE(shaker.CurrentState().running);

    const std::vector<Sample> samples = ParseSamples(out);
    ASSERT_GE(samples.size(), 2u);
    EXPECT_EQ(ReadFile(QStringLiteral("run.xls")), ExpectedExport(samples));
    const auto [lines, last] = Journal();
    ExpectJournalHolds(lines, samples);
    EXPECT_TRUE(last.startsWith(QStringLiteral("# end\tStop"))) << last.toStdString();
}

// The line keeps the settings it had, as a terminal given as the port must.
TEST_F(CliTest, SecondInterruptExitsWithoutStoppingAndGivesTheLineBack) {
    CSimulatedShaker shaker;
    ASSERT_TRUE(shaker.Start());
    const auto before = LineSettings(shaker.SlavePath(), [](termios& t) {
        t.c_lflag |= ICANON | ECHO;
        t.c_oflag |= OPOST | ONLCR;
        cfsetspeed(&t, B1200);
    });
    ASSERT_TRUE(before);
    QProcess process;
    Launch(process, {"run", "--port", QString::fromStdString(shaker.SlavePath()), "--speed", "250",
                     "--time", "600", "--json"});
    WaitForLines(process, 1);
    // A stop the instrument never answers would take four exchange limits.
    shaker.SetSilent(true);
    kill(static_cast<pid_t>(process.processId()), SIGINT);
    QByteArray err;
    process.setReadChannel(QProcess::StandardError);
    while (!err.contains("stopping the instrument") && process.waitForReadyRead(5000)) {
        err += process.readAllStandardError();
    }
    kill(static_cast<pid_t>(process.processId()), SIGINT);
    const CliResult r = Finish(process, 5000);
    EXPECT_EQ(r.exitCode, 130);
    EXPECT_TRUE((QString::fromUtf8(err) + r.err).contains(QStringLiteral("NOT stopped")))
        << r.err.toStdString();
    const auto after = LineSettings(shaker.SlavePath());
    ASSERT_TRUE(after);
    ExpectSameLineSettings(*after, *before);
    shaker.SetSilent(false);
    EXPECT_TRUE(shaker.CurrentState().running);
}

TEST_F(CliTest, ExitCodes) {
    CSimulatedShaker shaker(FastShaker());
    ASSERT_TRUE(shaker.Start());
    const QString port = QString::fromStdString(shaker.SlavePath());

    CliResult r = Cli({"ports", "--json"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("\"port\":\"simulator\"")));

    r = Cli({"stop", "--port", port, "--speed", "150"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("speed 150 1/min"))) << r.out.toStdString();

    r = Cli({"run", "--port", port, "--speed", "501", "--time", "5"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(
        r.err.contains(QStringLiteral("The speed has exceeded the speed range, please reset")));
    shaker.ClearRecords();
    shaker.InjectFor(kCodeSetSpeed, CSimulatedShaker::Fault::NonZeroStatus);
    shaker.InjectFor(kCodeSetTime, CSimulatedShaker::Fault::NonZeroStatus);
    r = Cli({"run", "--port", port, "--speed", "200", "--time", "5"});
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    EXPECT_EQ(shaker.RequestCount(kCodeStatus), 1);  // the setpoints only: no poller ran
    shaker.ClearFaults();
    // The simulator acts on a command whose reply it spoils: it runs, as no real one would.
    EXPECT_EQ(Cli({"stop", "--port", port}).exitCode, 0);

    shaker.SetDeviceId("ACME-1");
    EXPECT_EQ(Cli({"identify", "--port", port}).exitCode, 4);
    EXPECT_EQ(Cli({"run", "--port", port, "--speed", "200", "--time", "5"}).exitCode, 4);
    shaker.SetDeviceId("KW41-VTX-SIM");

    // The instrument says twice it isn't running: the run ended early, an alarm, exit 8.
    QProcess early;
    Launch(early, {"run", "--port", port, "--speed", "200", "--time", "600", "--json"});
    WaitForLines(early, 1);
    std::vector<std::uint8_t> notRunning(RunStateFrame::kLength, 0);
    notRunning[0] = kFrameStartByte;
    notRunning[RunStateFrame::kEcho] = kCodeRunState;
    SealFrame(notRunning);
    shaker.QueueReply(kCodeRunState, notRunning);
    shaker.QueueReply(kCodeRunState, notRunning);
    r = Finish(early);
    EXPECT_EQ(r.exitCode, 8) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("{\"alarm\":\"run ended early\",\"raised\":true,")))
        << r.out.toStdString();
    EXPECT_EQ(Cli({"stop", "--port", port}).exitCode, 0);

    QProcess process;
    Launch(process, {"run", "--port", port, "--speed", "200", "--time", "600", "--json",
                     "--reconnect-timeout", "1"});
    WaitForLines(process, 1);
    shaker.Unplug();
    r = Finish(process);
    EXPECT_EQ(r.exitCode, 5) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("did not come back within 1 s")));

    ASSERT_TRUE(shaker.Replug());
    shaker.SetSilent(true);
    r = Cli({"identify", "--port", QString::fromStdString(shaker.SlavePath())});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Failed to connect the instrument")));
    r = Cli({"identify", "--port", "/dev/null"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("not a serial device")));
}

TEST_F(CliTest, BadInputIsOneLineAndAUsageExit) {
    QFile regular(Path("plain.txt"));
    ASSERT_TRUE(regular.open(QIODevice::WriteOnly));
    regular.close();
    const std::vector<QStringList> cases = {
        {"run", "--port", "simulator", "--time", "5"},
        {"run", "--port", "simulator", "--speed", "fast", "--time", "5"},
        {"run", "--port", "simulator", "--speed", "300", "--time", "65536"},
        {"run", "--port", "simulator", "--speed", "300", "--time", "-1"},
        {"run", "--port", "simulator", "--speed", "300", "--time", "0"},
        {"run", "--port", "/dev/velmora-no-such-port", "--speed", "300", "--time", "5"},
        {"run", "--port", Path("plain.txt"), "--speed", "300", "--time", "5"},
        {"run", "--port", "simulator", "--speed", "300", "--time", "5", "--notify", "ftp://x/"},
        {"identify", "--port", "simulator", "--baud", "0"},
        {"stop", "--port", "simulator", "--speed", "x"},
        {"frobnicate"},
        {"audit", "frob"},
    };
    for (const QStringList& args : cases) {
        const CliResult r = Cli(args);
        const QString what = args.join(u' ');
        EXPECT_EQ(r.exitCode, 1) << what.toStdString();
        EXPECT_EQ(r.err.count(u'\n'), 1) << what.toStdString() << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("velmora-cli: "))) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << what.toStdString();
    }
    EXPECT_TRUE(Cli({"run", "--port", "simulator", "--speed", "300", "--time", "0"})
                    .err.contains(QStringLiteral("1 to 65535")));
    const CliResult version = Cli({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("velmora-cli ")))
        << version.out.toStdString();
    // The exit codes once, in the program's help; every help within 80 columns.
    EXPECT_TRUE(Cli({"--help"}).out.contains(QStringLiteral("130  interrupted")));
    for (const QStringList& args : {QStringList{"--help"}, QStringList{"run", "--help"},
                                    QStringList{"audit", "show", "--help"}}) {
        const CliResult help = Cli(args);
        EXPECT_EQ(help.exitCode, 0);
        for (const QString& line : help.out.split(u'\n')) {
            EXPECT_LE(line.size(), 79) << line.toStdString();
        }
    }
}

// SIGTERM at moments spread over the connection, the start and the run, at the real pace of
// 50 ms a byte, so that most of them fall inside a frame: every exchange the program has begun
// is finished before it exits, and the shaker is left stopped.
TEST_F(CliTest, TerminatedAtAnyMomentLeavesNoCutFrameAndTheShakerStopped) {
    constexpr int kMoments = 20;
    constexpr int kAtOnce = 7;
    // From the handler's installation: the handshake, the device ID, the setpoints and the
    // start take about 6 s at this pace; the rest falls in the run.
    constexpr int kLatestMs = 9000;
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::vector<int> moments;
    for (int i = 0; i < kMoments; ++i) {
        moments.push_back(std::uniform_int_distribution<int>(
            i * kLatestMs / kMoments, (i + 1) * kLatestMs / kMoments)(random));
    }
    std::shuffle(moments.begin(), moments.end(), random);

    SimOptions options;
    options.deviceId = "KW41-VTX";
    options.timeUnit = std::chrono::milliseconds(100);
    for (int first = 0; first < kMoments; first += kAtOnce) {
        std::vector<std::unique_ptr<CSimulatedShaker>> shakers;
        std::vector<std::unique_ptr<QProcess>> processes;
        std::vector<std::chrono::steady_clock::time_point> killAt;
        for (int i = first; i < std::min(first + kAtOnce, kMoments); ++i) {
            shakers.push_back(std::make_unique<CSimulatedShaker>(options));
            ASSERT_TRUE(shakers.back()->Start());
            processes.push_back(std::make_unique<QProcess>());
            Launch(*processes.back(),
                   {"run", "--port", QString::fromStdString(shakers.back()->SlavePath()), "--speed",
                    "250", "--time", "200"},
                   QStringLiteral("50"));
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!CatchesSigterm(processes.back()->processId()) &&
                   std::chrono::steady_clock::now() < limit) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            ASSERT_TRUE(CatchesSigterm(processes.back()->processId()));
            killAt.push_back(std::chrono::steady_clock::now() +
                             std::chrono::milliseconds(moments[static_cast<std::size_t>(i)]));
        }
        std::vector<std::size_t> order(killAt.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::sort(order.begin(), order.end(),
                  [&killAt](std::size_t a, std::size_t b) { return killAt[a] < killAt[b]; });
        for (const std::size_t i : order) {
            std::this_thread::sleep_until(killAt[i]);
            kill(static_cast<pid_t>(processes[i]->processId()), SIGTERM);
        }
        for (std::size_t i = 0; i < processes.size(); ++i) {
            const CliResult r = Finish(*processes[i], 20000);
            const std::string moment =
                "SIGTERM at " + std::to_string(moments[first + i]) + " ms: " + r.err.toStdString();
            EXPECT_EQ(r.exitCode, 130) << moment;
            // The shaker counts the bytes of a frame cut short only once more bytes follow.
            EXPECT_EQ(Cli({"identify", "--port", QString::fromStdString(shakers[i]->SlavePath())})
                          .exitCode,
                      0)
                << moment;
            EXPECT_EQ(shakers[i]->MalformedBytes(), 0) << moment;
            EXPECT_FALSE(shakers[i]->CurrentState().running) << moment;
        }
    }
}

TEST_F(CliTest, ARefusedSpeedStopsTheInstrumentAtOnce) {
    CSimulatedShaker shaker(FastShaker());
    ASSERT_TRUE(shaker.Start());
    shaker.InjectFor(kCodeSetSpeed, CSimulatedShaker::Fault::NonZeroStatus, 1);
    // Long enough that a run going on would still be running when a stopped one has exited.
    const CliResult r = Cli({"run", "--port", QString::fromStdString(shaker.SlavePath()), "--speed",
                             "200", "--time", "60"});
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("refused the speed"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("was stopped"))) << r.err.toStdString();
    EXPECT_FALSE(shaker.CurrentState().running);
}

TEST_F(CliTest, AnUnconfirmedStopOnInterruptLeavesTheRunGoingAndExits2) {
    CSimulatedShaker shaker;
    ASSERT_TRUE(shaker.Start());
    QProcess process;
    Launch(process, {"run", "--port", QString::fromStdString(shaker.SlavePath()), "--speed", "250",
                     "--time", "600", "--json"});
    WaitForLines(process, 1);
    // Every send of the stop is refused.
    shaker.InjectFor(kCodeSetSpeed, CSimulatedShaker::Fault::NonZeroStatus, 5);
    kill(static_cast<pid_t>(process.processId()), SIGINT);
    const CliResult r = Finish(process);
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("The instrument did not confirm the stop")))
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("run ended"))) << r.err.toStdString();
}

// As after a crash: the instrument runs on with nobody watching.
TEST_F(CliTest, IdentifySaysTheInstrumentRunsARunStartedElsewhere) {
    CSimulatedShaker shaker;
    ASSERT_TRUE(shaker.Start());
    const QString port = QString::fromStdString(shaker.SlavePath());
    QProcess process;
    Launch(process, {"run", "--port", port, "--speed", "250", "--time", "600", "--json"});
    WaitForLines(process, 1);
    process.kill();
    ASSERT_TRUE(process.waitForFinished(10000));
    ASSERT_TRUE(shaker.CurrentState().running);

    const CliResult text = Cli({"identify", "--port", port});
    EXPECT_EQ(text.exitCode, 0) << text.err.toStdString();
    EXPECT_TRUE(text.out.contains(QStringLiteral("\nstate         running (started elsewhere)\n")))
        << text.out.toStdString();
    const CliResult json = Cli({"identify", "--port", port, "--json"});
    EXPECT_TRUE(QJsonDocument::fromJson(json.out.toUtf8())
                    .object()[QStringLiteral("running")]
                    .toBool(false))
        << json.out.toStdString();
}

// A file size limit makes the journal's writes fail part way, as a full disk does.
TEST_F(CliTest, ARunWhoseJournalLostSamplesExits6) {
    CSimulatedShaker shaker(FastShaker());
    ASSERT_TRUE(shaker.Start());
    const QStringList args = {"run",     "--port", QString::fromStdString(shaker.SlavePath()),
                              "--speed", "200",    "--time",
                              "5"};
    ASSERT_EQ(Cli(args).exitCode, 0);
    // Room for the header a run of the same port and instrument writes, not for a sample.
    const QDir runs(m_dir.filePath(QStringLiteral("velmora/runs")));
    const QStringList files = runs.entryList({QStringLiteral("run-*.tsv")}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    QFile first(runs.filePath(files.front()));
    ASSERT_TRUE(first.open(QIODevice::ReadOnly));
    const QByteArray content = first.readAll();
    const qsizetype header = content.indexOf("\n1\t") + 1;
    ASSERT_GT(header, 0);
    ASSERT_TRUE(first.remove());
    const rlim_t limit = static_cast<rlim_t>(header) + 8;

    QProcess process;
    process.setChildProcessModifier([limit] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit small{limit, limit};
        setrlimit(RLIMIT_FSIZE, &small);
    });
    Launch(process, args);
    const CliResult r = Finish(process);
    EXPECT_EQ(r.exitCode, 6) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(
        QStringLiteral("velmora-cli: the run ended but its journal is incomplete: ")))
        << r.err.toStdString();
}

TEST_F(CliTest, ADeviceIdWithControlBytesLeavesAsPrintableTextAndValidJson) {
    SimOptions options;
    options.deviceId = "KW41-VTX\x1b[2J\xff\\\"";
    CSimulatedShaker shaker(options);
    ASSERT_TRUE(shaker.Start());
    const QString port = QString::fromStdString(shaker.SlavePath());
    const QString printable = QStringLiteral("KW41-VTX\\x1B[2J\\xFF\\\\\"");

    const CliResult text = Cli({"identify", "--port", port});
    EXPECT_EQ(text.exitCode, 0) << text.err.toStdString();
    EXPECT_TRUE(text.out.contains(QStringLiteral("device ID     ") + printable + u'\n'))
        << text.out.toStdString();
    EXPECT_FALSE(text.out.contains(QChar(0x1b)) || text.out.contains(QChar(0xFFFD)));

    const CliResult json = Cli({"identify", "--port", port, "--json"});
    QJsonParseError error{};
    const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8(), &error).object();
    EXPECT_EQ(error.error, QJsonParseError::NoError) << json.out.toStdString();
    EXPECT_EQ(o[QStringLiteral("device_id")].toString().toStdString(), printable.toStdString());
}

TEST_F(CliTest, OutProblemsAreUsageErrorsBeforeThePortIsOpened) {
    CSimulatedShaker shaker(FastShaker());
    ASSERT_TRUE(shaker.Start());
    ASSERT_EQ(mkfifo(Path("fifo").toLocal8Bit().constData(), 0600), 0);
    QFile readOnly(Path("read-only.xls"));
    ASSERT_TRUE(readOnly.open(QIODevice::WriteOnly));
    readOnly.close();
    ASSERT_TRUE(readOnly.setPermissions(QFileDevice::ReadOwner));
    const QStringList outs = {
        Path("fifo"), Path("read-only.xls"),
        QStringLiteral("/proc/velmora-run.xls"),  // a folder nothing can be written in
        Path(QString(300, u'x')),                 // a name no file system takes
    };
    for (const QString& out : outs) {
        const CliResult r = Cli({"run", "--port", QString::fromStdString(shaker.SlavePath()),
                                 "--speed", "200", "--time", "5", "--out", out});
        EXPECT_EQ(r.exitCode, 1) << out.toStdString() << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("velmora-cli: --out: ")))
            << r.err.toStdString();
        EXPECT_EQ(r.err.count(u'\n'), 1) << r.err.toStdString();
    }
    EXPECT_TRUE(shaker.Requests().empty());
}
