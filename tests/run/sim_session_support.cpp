#include "sim_session.h"

#include <stdlib.h>

#include <QCoreApplication>
#include <filesystem>
#include <thread>

#include "link/frames.h"

CSimSession::CSimSession(SimOptions options) : m_shaker(std::move(options)) {
    m_bStarted = m_shaker.Start();
    char pattern[] = "/tmp/velmora-run-test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) {
        m_logDirectory = pattern;
    }
    m_channel.SetBytePause(std::chrono::milliseconds(0));
    if (!m_logDirectory.empty()) {
        m_channel.SetLogDirectory(m_logDirectory);
    }
}

CSimSession::~CSimSession() {
    m_channel.Close();
    m_shaker.Stop();
    if (!m_logDirectory.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_logDirectory, ignored);
    }
}

bool CSimSession::OpenChannel() {
    return m_channel.Open(m_shaker.SlavePath(), CSerialChannel::kDefaultBaudRate) == 1;
}

std::vector<std::uint8_t> StatusReply(int speedSetpoint, int actualSpeed, int timeSetpoint,
                                      int remaining) {
    std::vector<std::uint8_t> frame(StatusFrame::kLength, 0);
    frame[0] = kFrameStartByte;
    frame[StatusFrame::kEcho] = kCodeStatus;
    WriteU16(frame, StatusFrame::kSpeedSetpoint, speedSetpoint);
    WriteU16(frame, StatusFrame::kActualSpeed, actualSpeed);
    WriteU16(frame, StatusFrame::kTimeSetpoint, timeSetpoint);
    WriteU16(frame, StatusFrame::kRemaining, remaining);
    SealFrame(frame);
    return frame;
}

std::vector<std::uint8_t> RunStateReply(int runFlag, int secondState) {
    std::vector<std::uint8_t> frame(RunStateFrame::kLength, 0);
    frame[0] = kFrameStartByte;
    frame[RunStateFrame::kEcho] = kCodeRunState;
    frame[RunStateFrame::kRunFlag] = static_cast<std::uint8_t>(runFlag);
    frame[RunStateFrame::kSecondState] = static_cast<std::uint8_t>(secondState);
    SealFrame(frame);
    return frame;
}

std::vector<std::uint8_t> AckReply(std::uint8_t code, std::uint8_t status) {
    std::vector<std::uint8_t> frame(AckFrame::kLength, 0);
    frame[0] = kFrameStartByte;
    frame[AckFrame::kEcho] = code;
    frame[AckFrame::kStatus] = status;
    SealFrame(frame);
    return frame;
}

bool ProcessEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
