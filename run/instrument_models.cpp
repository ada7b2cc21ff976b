#include "run/instrument_models.h"

#include <array>

namespace {

constexpr SpeedLimits kSpeedField{100, 800};
// A time of 0 starts nothing on the instrument, so no run may ask for it.
constexpr SpeedLimits kTimeField{1, 65535};

constexpr std::array<InstrumentModel, 5> kModels{{
    {DeviceKV41, "KV41", "KV41", SpeedLimits{100, 350}, kSpeedField, kTimeField, true,
     ":/images/bitmap_101.png"},
    {DeviceKW41, "KW41", "KW41", SpeedLimits{100, 500}, kSpeedField, kTimeField, true,
     ":/images/bitmap_101.png"},
    {DeviceKV27, "KV27", "KV27", SpeedLimits{100, 350}, kSpeedField, kTimeField, true,
     ":/images/bitmap_102.png"},
    {DeviceKW27, "KW27", "KW27", std::nullopt, kSpeedField, kTimeField, true,
     ":/images/bitmap_102.png"},
    {DeviceUnlisted, "", "of no listed type", std::nullopt, kSpeedField, kTimeField, false,
     ":/images/bitmap_102.png"},
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

std::span<const InstrumentModel> InstrumentModels() {
    return kModels;
}

const InstrumentModel& ModelOf(DeviceType type) {
    for (const InstrumentModel& model : kModels) {
        if (model.type == type) {
            return model;
        }
    }
    return kModels.back();
}

DeviceType ClassifyDeviceId(const std::string& deviceId) {
    const std::string id = ToUpperAscii(deviceId);
    if (id.find(kEditionToken) == std::string::npos) {
        return DeviceUnlisted;
    }
    for (const InstrumentModel& model : kModels) {
        if (!model.token.empty() && id.find(model.token) != std::string::npos) {
            return model.type;
        }
    }
    return DeviceUnlisted;
}

std::optional<SpeedLimits> SpeedLimitsFor(DeviceType type) {
    return ModelOf(type).startLimits;
}

int HighestPlausibleSpeed(DeviceType type) {
    const InstrumentModel& model = ModelOf(type);
    const int highest = model.startLimits ? model.startLimits->high : model.speedField.high;
    return highest * 3 / 2;
}

std::optional<SpeedLimits> RunSpeedLimits(DeviceType type) {
    const InstrumentModel& model = ModelOf(type);
    if (!model.sendsCommands) {
        return std::nullopt;
    }
    return model.startLimits ? model.startLimits : model.speedField;
}
