#pragma once

#include <QByteArray>
#include <utility>
#include <vector>

// Headers every answer of the web view carries: the page runs only its own script and style,
// talks only to its own server, and is never framed by another site.
const std::vector<std::pair<QByteArray, QByteArray>>& WebSecurityHeaders();
