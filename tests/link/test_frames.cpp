// Frames, checksums and port names: pure rules the program and the simulated shaker share.
#include <gtest/gtest.h>

#include <vector>

#include "link/frames.h"
#include "link/port_name.h"
#include "link_fixture.h"

namespace {

std::vector<std::uint8_t> Command(std::uint8_t code, int param = 0) {
    const auto frame = BuildCommand(code, param);
    return {frame.begin(), frame.end()};
}

TEST(Frames, RequestsCarryCodeBigEndianParameterAndChecksum) {
    EXPECT_EQ(Command(kCodeSetSpeed, 300), Bytes({0xFE, 0xB1, 0x01, 0x2C, 0x00, 0xDE}));
    EXPECT_EQ(Command(kCodeSetSpeed, 800), Bytes({0xFE, 0xB1, 0x03, 0x20, 0x00, 0xD4}));
    EXPECT_EQ(Command(kCodeStatus), Bytes({0xFE, 0xA2, 0x00, 0x00, 0x00, 0xA2}));
    EXPECT_EQ(Command(kCodeIdChar, 16), Bytes({0xFE, 0xA3, 0x00, 0x10, 0x00, 0xB3}));
}

TEST(Frames, OnlyTheLowSixteenBitsOfAParameterTravel) {
    EXPECT_EQ(Command(kCodeSetTime, 0x12345), Bytes({0xFE, 0xB2, 0x23, 0x45, 0x00, 0x1A}));
    EXPECT_EQ(Command(kCodeSetTime, -1), Bytes({0xFE, 0xB2, 0xFF, 0xFF, 0x00, 0xB0}));
    EXPECT_EQ(CommandParam(Command(kCodeSetTime, 65535)), 65535);
}

TEST(Frames, ChecksumCoversEverythingButTheStartByte) {
    EXPECT_TRUE(ChecksumMatches(Bytes({0xFE, 0xB1, 0x00, 0x00, 0x00, 0xB1})));
    EXPECT_TRUE(ChecksumMatches(Bytes({0x00, 0xB1, 0x00, 0x00, 0x00, 0xB1})));
    EXPECT_FALSE(ChecksumMatches(Bytes({0xFE, 0xB1, 0x00, 0x00, 0x00, 0xB0})));
    // The sum wraps at 256.
    EXPECT_TRUE(
        ChecksumMatches(Bytes({0xFE, 0xA2, 0x01, 0x2C, 0x00, 0xFF, 0x00, 0x06, 0xFF, 0x06, 0xD9})));
    EXPECT_FALSE(ChecksumMatches(Bytes({0xFE})));
    EXPECT_FALSE(ChecksumMatches(Bytes({})));
}

TEST(Frames, SixteenBitValuesAreBigEndianAndBoundsChecked) {
    const auto status = Bytes({0xFE, 0xA2, 0x01, 0x2C, 0x01, 0x2A, 0x00, 0x06, 0x00, 0x05, 0x05});
    EXPECT_EQ(ReadU16(status, StatusFrame::kSpeedSetpoint), 300);
    EXPECT_EQ(ReadU16(status, StatusFrame::kActualSpeed), 298);
    EXPECT_EQ(ReadU16(status, StatusFrame::kRemaining), 5);
    EXPECT_EQ(ReadU16(status, 10), 0);
    EXPECT_EQ(ReadU16(status, -1), 0);
}

TEST(PortNames, ComNamesMapToSerialDevicesAndPathsStandAsTheyAre) {
    EXPECT_EQ(SerialDevicePath("com1"), "/dev/ttyS0");
    EXPECT_EQ(SerialDevicePath("COM10"), "/dev/ttyS9");
    EXPECT_EQ(SerialDevicePath("CoM3"), "/dev/ttyS2");
    EXPECT_EQ(SerialDevicePath("/dev/pts/7"), "/dev/pts/7");
    EXPECT_EQ(SerialDevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(SerialDevicePath("COM0"), "/dev/COM0");
    EXPECT_EQ(SerialDevicePath("COMX"), "/dev/COMX");
    EXPECT_EQ(SerialDevicePath(""), "");
}

}  // namespace
