#pragma once

#include <optional>
#include <string>

// A file's whole content, read in one go (journals, keys); nothing when it can't be opened or
// read, with errno saying why.
std::optional<std::string> ReadWholeFile(const std::string& path);
