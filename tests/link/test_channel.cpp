// Opening, closing and the traffic log of the channel, against the simulated shaker.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "link/frames.h"
#include "link_fixture.h"

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

TEST(ChannelDefaults, ComOneAtNineThousandSixHundredBaud) {
    CSerialChannel channel;
    EXPECT_EQ(channel.PortName(), "com1");
    EXPECT_EQ(channel.BaudRate(), 9600);
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_EQ(channel.LogPath().substr(channel.LogPath().rfind('/')), "/Zet_CommOutput.txt");
}

}  // namespace
