#pragma once

#include <string>
#include <string_view>

// Replaces (or creates) the regular file at `path` with `content`. The content goes to a new
// file in the same directory, which is flushed to disk and then renamed over the target, so
// a reader sees either the old file or the complete new one, never a part. A symbolic link
// is followed and its target replaced. Returns 1 on success; 0 when the path is not a
// regular file, the directory is missing or not writable, or any write, flush or rename
// fails: the temporary file is then removed and the old file, if any, is untouched.
int ReplaceFileAtomically(const std::string& path, std::string_view content);
