#pragma once

#include <string>

#include "server/access_guard.h"

// What the log says of who made an admitted call: " by ana", or nothing when the server runs
// without users.
inline std::string ByUser(const Admission& admission) {
    return admission.user.empty() ? std::string() : " by " + admission.user;
}
