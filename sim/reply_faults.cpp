#include "sim/reply_faults.h"

#include <algorithm>

#include "link/frames.h"

namespace {

// Long enough that the program's read of the first block is over before the rest arrives.
constexpr std::chrono::milliseconds kSplitGap{30};
constexpr std::uint8_t kExtraByte = 0xEE;
constexpr std::uint8_t kWrongStartByte = 0xEF;

}  // namespace

std::vector<ReplyWrite> PlanReply(std::vector<std::uint8_t> reply, const InjectedFault* fault) {
    using Fault = CSimulatedShaker::Fault;
    if (fault == nullptr) {
        return {{std::chrono::milliseconds(0), std::move(reply)}};
    }
    const int detail = fault->detail;
    switch (fault->fault) {
        case Fault::NoReply:
            return {};
        case Fault::BadChecksum:
            if (!reply.empty()) {
                reply.back() = static_cast<std::uint8_t>(reply.back() + 1);
            }
            break;
        case Fault::NonZeroStatus:
            if (reply.size() > AckFrame::kStatus) {
                reply[AckFrame::kStatus] = static_cast<std::uint8_t>(detail != 0 ? detail : 1);
                SealFrame(reply);
            }
            break;
        case Fault::WrongStartByte:
            if (!reply.empty()) {
                reply.front() = kWrongStartByte;
            }
            break;
        case Fault::Split: {
            const int size = static_cast<int>(reply.size());
            const int first = detail > 0 && detail < size ? detail : size / 2;
            std::vector<std::uint8_t> head(reply.begin(), reply.begin() + first);
            std::vector<std::uint8_t> tail(reply.begin() + first, reply.end());
            return {{std::chrono::milliseconds(0), std::move(head)}, {kSplitGap, std::move(tail)}};
        }
        case Fault::ExtraBytes:
            reply.insert(reply.end(), static_cast<std::size_t>(std::max(detail, 1)), kExtraByte);
            break;
        case Fault::Late:
            return {{std::chrono::milliseconds(std::max(detail, 0)), std::move(reply)}};
    }
    return {{std::chrono::milliseconds(0), std::move(reply)}};
}
