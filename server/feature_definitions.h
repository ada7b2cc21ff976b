#pragma once

#include <string>
#include <vector>

inline constexpr const char* kSiLAServiceFeature = "org.silastandard/core/SiLAService/v1";
inline constexpr const char* kShakingControllerFeature =
    "org.velmora/instruments/ShakingController/v1";
inline constexpr const char* kAuthenticationServiceFeature =
    "org.silastandard/core/AuthenticationService/v1";
inline constexpr const char* kAuthorizationServiceFeature =
    "org.silastandard/core/AuthorizationService/v1";
inline constexpr const char* kLockControllerFeature = "org.silastandard/core/LockController/v1";
inline constexpr const char* kCancelControllerFeature =
    "org.silastandard/core.commands/CancelController/v1";
inline constexpr const char* kSimulationControllerFeature =
    "org.silastandard/core/SimulationController/v1";

struct FeatureDefinition {
    std::string identifier;  // fully qualified
    std::string xml;
};

// The fully qualified identifier of one of the features above, by its short identifier.
std::string QualifiedFeatureIdentifier(const std::string& identifier);

// The features this server implements, with their definitions as built in from features/.
const std::vector<FeatureDefinition>& ImplementedFeatureDefinitions();
