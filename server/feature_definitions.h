#pragma once

#include <string>
#include <vector>

inline constexpr const char* kSiLAServiceFeature = "org.silastandard/core/SiLAService/v1";
inline constexpr const char* kShakingControllerFeature =
    "org.velmora/instruments/ShakingController/v1";

struct FeatureDefinition {
    std::string identifier;  // fully qualified
    std::string xml;
};

// The features this server implements, with their definitions as built in from features/.
const std::vector<FeatureDefinition>& ImplementedFeatureDefinitions();
