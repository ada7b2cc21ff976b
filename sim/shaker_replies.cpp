#include "sim/shaker_replies.h"

#include <algorithm>

namespace {

// The ID characters are asked for by index 16 onward; past the ID's end the answer is 0.
constexpr int kFirstIdIndex = 16;

std::vector<std::uint8_t> Ack(std::uint8_t code, std::uint8_t status) {
    std::vector<std::uint8_t> reply(AckFrame::kLength, 0);
    reply[0] = kFrameStartByte;
    reply[AckFrame::kEcho] = code;
    reply[AckFrame::kStatus] = status;
    SealFrame(reply);
    return reply;
}

std::uint8_t IdCharacter(const std::string& deviceId, int index) {
    const int position = index - kFirstIdIndex;
    if (position < 0 || position >= static_cast<int>(deviceId.size())) {
        return 0;
    }
    return static_cast<std::uint8_t>(deviceId[static_cast<std::size_t>(position)]);
}

int Clamp16(int value) {
    return std::clamp(value, 0, 0xFFFF);
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ShakerReply(
    const std::array<std::uint8_t, CommandFrame::kLength>& request, CShakerModel& model,
    const std::string& deviceId, std::chrono::steady_clock::time_point now) {
    const std::uint8_t code = request[CommandFrame::kCode];
    const int param = CommandParam(request);
    switch (code) {
        case kCodeHandshake:
            return Ack(code, 0);
        case kCodeIdChar:
            return Ack(code, IdCharacter(deviceId, param));
        case kCodeSetSpeed:
            model.SetSpeed(param, now);
            return Ack(code, 0);
        case kCodeSetTime:
            model.SetTime(param, now);
            return Ack(code, 0);
        case kCodeStatus: {
            const auto state = model.StateAt(now);
            std::vector<std::uint8_t> reply(StatusFrame::kLength, 0);
            reply[0] = kFrameStartByte;
            reply[StatusFrame::kEcho] = code;
            WriteU16(reply, StatusFrame::kSpeedSetpoint, Clamp16(state.speedSetpoint));
            WriteU16(reply, StatusFrame::kActualSpeed, Clamp16(model.ReportedActualSpeed(now)));
            WriteU16(reply, StatusFrame::kTimeSetpoint, Clamp16(state.timeSetpoint));
            WriteU16(reply, StatusFrame::kRemaining, Clamp16(state.remaining));
            SealFrame(reply);
            return reply;
        }
        case kCodeRunState: {
            std::vector<std::uint8_t> reply(RunStateFrame::kLength, 0);
            reply[0] = kFrameStartByte;
            reply[RunStateFrame::kEcho] = code;
            reply[RunStateFrame::kRunFlag] = model.StateAt(now).running ? 1 : 0;
            reply[RunStateFrame::kSecondState] = 0;
            SealFrame(reply);
            return reply;
        }
        default:
            return std::nullopt;
    }
}
