#include "run/local_user.h"

#include <pwd.h>
#include <unistd.h>

std::string LocalUserAtHost() {
    std::string user;
    if (const passwd* entry = getpwuid(geteuid())) {
        user = entry->pw_name;
    } else {
        user = std::to_string(geteuid());
    }
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) {
        return user;
    }
    return user + "@" + host;
}
