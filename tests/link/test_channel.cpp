// Opening, closing and the traffic log of the channel, against the simulated shaker.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <tuple>

#include "link/frames.h"
#include "link_fixture.h"
#include "sim/pty_pair.h"

namespace {

using SerialChannel = ChannelOnSimulator;

TEST_F(SerialChannel, LogsAWholeExchangeByteForByte) {
    ASSERT_EQ(Protocol().SetSpeed(300), 1);
    EXPECT_EQ(Log(), "Send:FE B1 01 2C 00 DE \r\nReceive:FE B1 00 00 00 B1 \r\n");
    ASSERT_EQ(Shaker().Requests().size(), 1u);
    EXPECT_EQ(Shaker().Requests()[0], BuildCommand(kCodeSetSpeed, 300));
}

TEST_F(SerialChannel, EveryOpenEmptiesTheLogAndLaterExchangesGrowIt) {
    ASSERT_EQ(Protocol().Handshake(), 1);
    EXPECT_FALSE(Log().empty());

    Channel().Close();
    ASSERT_EQ(OpenAgain(), 1);
    EXPECT_EQ(Log(), "");

    std::vector<std::uint8_t> block;
    ASSERT_EQ(Protocol().QueryStatus(block), 1);
    const std::string afterStatus = Log();
    ASSERT_EQ(Protocol().QueryRunState(block), 1);
    const std::string afterRunState = Log();
    EXPECT_EQ(afterRunState.substr(0, afterStatus.size()), afterStatus);
    EXPECT_EQ(afterRunState.substr(afterStatus.size()),
              "Send:FE A1 00 00 00 A1 \r\nReceive:FE A1 00 00 00 00 00 A1 \r\n");
}

// A babbling line can't fill the disk: the session keeps its newest lines in two halves, and
// every byte it logged is either kept or counted as dropped.
TEST_F(SerialChannel, TheLogKeepsTheNewestHalvesAndCountsWhatItDropped) {
    constexpr std::uint64_t kCap = 1024;
    constexpr int kExchanges = 60;
    const std::string exchange = "Send:FE A0 00 00 00 A0 \r\nReceive:FE A0 00 00 00 A0 \r\n";
    Channel().SetLogCapBytes(kCap);
    for (int i = 0; i < kExchanges; ++i) {
        ASSERT_EQ(Protocol().Handshake(), 1);
    }
    const std::regex dropped("^Dropped: ([0-9]+) bytes of older traffic\r\n");
    const auto body = [&dropped](const std::string& half) {
        return std::regex_replace(half, dropped, "", std::regex_constants::format_first_only);
    };
    const std::string newer = Log();
    const std::string older = ReadWholeFile(Channel().LogPath() + ".1");
    std::smatch count;
    ASSERT_TRUE(std::regex_search(newer, count, dropped)) << newer;
    EXPECT_LE(newer.size() + older.size(), kCap + exchange.size());

    std::string all;
    for (int i = 0; i < kExchanges; ++i) {
        all += exchange;
    }
    const std::string kept = body(older) + body(newer);
    EXPECT_EQ(std::stoull(count[1]) + kept.size(), all.size());
    EXPECT_EQ(all.substr(all.size() - kept.size()), kept);

    Channel().Close();
    ASSERT_EQ(OpenAgain(), 1);
    EXPECT_FALSE(std::filesystem::exists(Channel().LogPath() + ".1"));
}

TEST_F(SerialChannel, AProgramThatCannotGetThePortLeavesTheLogOfTheOneThatHasIt) {
    ASSERT_EQ(Protocol().Handshake(), 1);
    const std::string before = Log();
    CSerialChannel second;
    second.SetLogDirectory(std::filesystem::path(Channel().LogPath()).parent_path().string());
    EXPECT_EQ(second.Open(Shaker().SlavePath(), CSerialChannel::kDefaultBaudRate), 0);
    EXPECT_EQ(Log(), before);
}

TEST_F(SerialChannel, SendNeedsAnOpenPortAndSomethingToSend) {
    Shaker().SetByteStampsRecorded(true);
    const auto request = BuildCommand(kCodeStatus);
    EXPECT_EQ(Channel().Send(request.data(), 0), 0);
    EXPECT_EQ(Log(), "Send:\r\n");

    Channel().Close();
    EXPECT_EQ(Channel().Send(request.data(), 6), 0);
    EXPECT_EQ(Protocol().Handshake(), 0);
    EXPECT_EQ(Log(), "Send:\r\n");
    EXPECT_EQ(Shaker().ReceivedBytes().size(), 0u);
}

// The log stays open between lines, yet appends go to whatever file is at its path.
TEST_F(SerialChannel, OnlyOpenCreatesTheLogAndAppendsGoToTheFileAtItsPath) {
    std::filesystem::remove(Channel().LogPath());
    ASSERT_EQ(Protocol().Handshake(), 1);
    EXPECT_FALSE(std::filesystem::exists(Channel().LogPath()));

    std::ofstream(Channel().LogPath()) << "new\n";
    ASSERT_EQ(Protocol().Handshake(), 1);
    EXPECT_EQ(Log(), "new\nSend:FE A0 00 00 00 A0 \r\nReceive:FE A0 00 00 00 A0 \r\n");

    Channel().Close();
    ASSERT_EQ(OpenAgain(), 1);
    EXPECT_EQ(Log(), "");
}

// Only a regular file is a log: a link's target stays untouched, a FIFO blocks nothing.
TEST_F(SerialChannel, ALinkOrAFifoAtTheLogPathMeansNoLog) {
    namespace fs = std::filesystem;
    CTempDir dir;
    const std::string path = dir.Path() + "/Zet_CommOutput.txt";
    const std::string target = dir.Path() + "/precious.txt";
    std::ofstream(target) << "keep";
    fs::create_symlink(target, path);
    Channel().SetLogDirectory(dir.Path());
    Channel().Close();
    ASSERT_EQ(OpenAgain(), 1);
    ASSERT_EQ(Protocol().Handshake(), 1);
    EXPECT_EQ(ReadWholeFile(target), "keep");
    EXPECT_TRUE(fs::is_symlink(path));

    fs::remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    Channel().Close();
    auto open = std::async(std::launch::async,
                           [this] { return OpenAgain() == 1 && Protocol().Handshake() == 1; });
    int reader = -1;
    if (open.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "opening the log blocked on the FIFO";
        // A reader lets the blocked open go on, so the test can end.
        reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    }
    EXPECT_TRUE(open.get());
    EXPECT_TRUE(fs::is_fifo(path));
    if (reader >= 0) {
        close(reader);
    }
}

TEST_F(SerialChannel, CloseIsSafeTwiceAndOnANeverOpenedChannel) {
    EXPECT_EQ(Channel().Close(), 1);
    EXPECT_EQ(Channel().Close(), 1);
    EXPECT_FALSE(Channel().IsOpen());
    EXPECT_EQ(CSerialChannel().Close(), 1);
}

// flock conflicts between two open descriptions of one file exactly as between two processes.
TEST_F(SerialChannel, APortInUseCannotBeOpenedAgain) {
    const std::string path = Shaker().SlavePath();
    const int other = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);

    Channel().Close();
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(OpenAgain(), 0);
    EXPECT_FALSE(Channel().IsOpen());
    close(other);
    EXPECT_EQ(OpenAgain(), 1);
}

TEST_F(SerialChannel, BaudRatesTheLineCannotUseAreRefusedWithoutHoldingThePort) {
    Channel().Close();
    for (const int baud : {0, -9600}) {
        EXPECT_EQ(OpenAgain(baud), 0) << baud;
        EXPECT_FALSE(Channel().IsOpen());
    }
    // A rate outside the standard set goes through the arbitrary-rate interface.
    EXPECT_EQ(OpenAgain(14400), 1);
    EXPECT_EQ(Protocol().Handshake(), 1);
}

TEST(ChannelOpen, ThingsThatAreNotSerialPortsAreRefusedAndNothingIsCreated) {
    CTempDir dir;
    CSerialChannel channel;
    channel.SetLogDirectory(dir.Path());
    const std::string missing = dir.Path() + "/ttyMissing";
    const std::string regular = dir.Path() + "/plain.txt";
    std::ofstream(regular) << "keep";

    for (const std::string& name : {std::string(), std::string("/dev/null"), missing, regular,
                                    std::string("no-such-device-velmora")}) {
        EXPECT_EQ(channel.Open(name, 9600), 0) << name;
        EXPECT_FALSE(channel.IsOpen()) << name;
        EXPECT_EQ(channel.Send(BuildCommand(kCodeStatus).data(), 6), 0) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_FALSE(std::filesystem::exists("/dev/no-such-device-velmora"));
    EXPECT_EQ(ReadWholeFile(regular), "keep");
}

// A terminal given as the port (`--port /dev/tty`) must not stay raw after the program.
TEST(ChannelClose, EveryWayOfClosingGivesTheLineItsSettingsBack) {
    PtyPair pty;
    ASSERT_TRUE(OpenPtyPair(pty));
    termios cooked{};
    ASSERT_EQ(tcgetattr(pty.slave, &cooked), 0);
    cooked.c_iflag |= ICRNL | IXON;
    cooked.c_oflag |= OPOST | ONLCR;
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    cfsetspeed(&cooked, B38400);
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &cooked), 0);
    const auto settings = [&pty] {
        termios now{};
        tcgetattr(pty.slave, &now);
        return std::make_tuple(now.c_iflag, now.c_oflag, now.c_cflag, now.c_lflag,
                               std::string(reinterpret_cast<const char*>(now.c_cc), NCCS),
                               cfgetospeed(&now));
    };
    const auto before = settings();
    CTempDir dir;
    {
        CSerialChannel channel;
        channel.SetLogDirectory(dir.Path());
        ASSERT_EQ(channel.Open(pty.slavePath, 9600), 1);
        ASSERT_NE(settings(), before);
        channel.Close();
        EXPECT_EQ(settings(), before) << "Close";

        ASSERT_EQ(channel.Open(pty.slavePath, 9600), 1);
        ASSERT_EQ(channel.Reopen(pty.slavePath), 1);
        channel.Close();
        EXPECT_EQ(settings(), before) << "Reopen, then Close";

        ASSERT_EQ(channel.Open(pty.slavePath, 9600), 1);
    }
    EXPECT_EQ(settings(), before) << "destructor";
    ClosePtyPair(pty);
}

TEST(ChannelDefaults, ComOneAtNineThousandSixHundredBaud) {
    CSerialChannel channel;
    EXPECT_EQ(channel.PortName(), "com1");
    EXPECT_EQ(channel.BaudRate(), 9600);
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_EQ(channel.LogPath().substr(channel.LogPath().rfind('/')), "/Zet_CommOutput.txt");
}

}  // namespace
