#include "run/device_type.h"

#include <array>
#include <string_view>

namespace {

struct TypeToken {
    DeviceType type;
    std::string_view token;
};

constexpr std::string_view kEditionToken = "VTX";

// Test order matters: an ID naming two types gets the first one listed here.
constexpr std::array<TypeToken, 4> kTypeTokens{{
    {DeviceKV41, "KV41"},
    {DeviceKW41, "KW41"},
    {DeviceKV27, "KV27"},
    {DeviceKW27, "KW27"},
}};

std::string ToUpperAscii(const std::string& text) {
    std::string upper = text;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper;
}

}  // namespace

DeviceType ClassifyDeviceId(const std::string& deviceId) {
    const std::string id = ToUpperAscii(deviceId);
    if (id.find(kEditionToken) == std::string::npos) {
        return DeviceUnlisted;
    }
    for (const TypeToken& entry : kTypeTokens) {
        if (id.find(entry.token) != std::string::npos) {
            return entry.type;
        }
    }
    return DeviceUnlisted;
}

std::optional<SpeedLimits> SpeedLimitsFor(DeviceType type) {
    switch (type) {
        case DeviceKV41:
            return SpeedLimits{100, 350};
        case DeviceKW41:
            return SpeedLimits{100, 500};
        case DeviceKV27:
            return SpeedLimits{100, 350};
        case DeviceKW27:
        case DeviceUnlisted:
            break;
    }
    return std::nullopt;
}
