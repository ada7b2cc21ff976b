#include "server/feature_definitions.h"

#include <array>

std::string QualifiedFeatureIdentifier(const std::string& identifier) {
    static const std::array kAll = {
        kSiLAServiceFeature,          kShakingControllerFeature, kAuthenticationServiceFeature,
        kAuthorizationServiceFeature, kLockControllerFeature,    kCancelControllerFeature,
        kSimulationControllerFeature,
    };
    for (const char* qualified : kAll) {
        const std::string text = qualified;
        const auto end = text.rfind('/');
        const auto start = text.rfind('/', end - 1);
        if (text.compare(start + 1, end - start - 1, identifier) == 0)
            return text;
    }
    return identifier;
}
