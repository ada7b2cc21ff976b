#include <gtest/gtest.h>

#include "server/call_log.h"
#include "server/client_text.h"

namespace {

std::string Repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

}  // namespace

// A client's text can't forge a log line or a terminal's state, and its odd bytes can still be
// read back.
TEST(ClientText, StaysOneLineOfText) {
    EXPECT_EQ(CleanForLog("x\nvelmora-server: run ended\x1b[2K\r"),
              "x\\x0Avelmora-server: run ended\\x1B[2K\\x0D");
    // Bytes that are no UTF-8 (a stray byte, a character cut short, an overlong slash), a C1
    // control character and a backslash.
    EXPECT_EQ(CleanForLog("a\xff\xc3(\xc0\xaf\xc2\x85\\"), "a\\xFF\\xC3(\\xC0\\xAF\\xC2\\x85\\\\");
    EXPECT_EQ(CleanForLog("Schüttler 3 \xF0\x9F\x94\xA5"), "Schüttler 3 \xF0\x9F\x94\xA5");

    EXPECT_EQ(PlainTextLength(Repeated("é", 200)), 200u);
    EXPECT_EQ(PlainTextLength("C:\\shaker"), 9u);
    EXPECT_FALSE(PlainTextLength("tab\there"));
    EXPECT_FALSE(PlainTextLength("\xc2\x85"));
    EXPECT_FALSE(PlainTextLength("\xc0\xaf"));
}

// Lengths count characters, not bytes; a cut text says so, and an escape is cut whole or not
// at all.
TEST(ClientText, IsCutByCharacters) {
    const std::string e200 = Repeated("é", 200);
    EXPECT_EQ(CleanForLog(e200), e200);
    EXPECT_EQ(CleanForLog(e200 + "é"), Repeated("é", 199) + "…");
    EXPECT_EQ(CleanForLog(std::string(198, 'a') + "\x01" + "bb"), std::string(198, 'a') + "…");

    EXPECT_EQ(EchoLimit(std::string(256, 'a')), std::string(256, 'a'));
    EXPECT_EQ(EchoLimit(std::string(3 << 20, 'a')), std::string(255, 'a') + "…");
    EXPECT_EQ(EchoLimit(std::string(3 << 20, '\n')), Repeated("\\x0A", 63) + "…");
}

// A server up for months forgets connections long gone, never the ones in use.
TEST(CallLog, RemembersRecentConnectionsOnly) {
    CSeenPeers peers;
    EXPECT_TRUE(peers.Note("ipv4:127.0.0.1:40000"));
    EXPECT_FALSE(peers.Note("ipv4:127.0.0.1:40000"));
    EXPECT_TRUE(peers.Note("ipv4:127.0.0.1:40001"));
    for (std::size_t i = 0; i < 3 * CSeenPeers::kMaxPeers; ++i) {
        EXPECT_TRUE(peers.Note("ipv4:10.0.0.1:" + std::to_string(i)));
        if (i % 100 == 0) {
            EXPECT_FALSE(peers.Note("ipv4:127.0.0.1:40001"));
        }
    }
    EXPECT_EQ(peers.Size(), CSeenPeers::kMaxPeers);
    EXPECT_FALSE(peers.Note("ipv4:127.0.0.1:40001"));
    EXPECT_TRUE(peers.Note("ipv4:127.0.0.1:40000"));
}
