#pragma once

#include <string>

// The login name on this host, "user@host": who starts a run, signs a journal, writes an audit
// line.
std::string LocalUserAtHost();
