// The live status line and the connection's progress line, as pure text.
#include <gtest/gtest.h>

#include "cli/cli_output.h"

TEST(CliStatusLine, NeverReachesTheLastColumnAndKeepsWhatMattersMost) {
    StatusLineState state{812, 65535, 65535, 123456, LinkState::Disconnected};
    for (int columns = 20; columns <= 200; ++columns) {
        const std::string line = FormatStatusLine(state, columns);
        EXPECT_LT(line.size(), static_cast<std::size_t>(columns)) << columns << ": " << line;
        EXPECT_NE(line.find(" 812 1/min"), std::string::npos) << columns << ": " << line;
    }
    state = {300, 540, 600, 60, LinkState::Answering};
    const std::string wide = FormatStatusLine(state, 200);
    EXPECT_EQ(wide, "speed  300 1/min  remaining 09:00  [###---------------------------]  10%"
                    "  sample 60");
    const std::string eighty = FormatStatusLine(state, 80);
    EXPECT_NE(eighty.find("[#"), std::string::npos) << eighty;
    EXPECT_NE(eighty.find("sample 60"), std::string::npos) << eighty;
}

TEST(CliStatusLine, ConnectionStepsReadAsProgress) {
    EXPECT_EQ(ConnectionProgressText("Device ID 7 of 16"), "identifying 7/16");
    EXPECT_EQ(ConnectionProgressText("Handshake"), "connecting: handshake");
}
