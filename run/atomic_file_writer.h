#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Hands one piece of the new content to the file; false once a write has failed.
using FileChunkSink = std::function<bool(std::string_view chunk)>;

// Text formatted into `out` goes on in pieces: once `out` has grown past `chunkBytes` it is
// handed to `flush` and emptied. False when that flush failed.
template <typename Flush>
bool FlushWhenFull(std::string& out, std::size_t chunkBytes, Flush& flush) {
    if (out.size() < chunkBytes)
        return true;
    if (!flush(out))
        return false;
    out.clear();
    return true;
}

// Replaces (or creates) the regular file at `path` with what `produce` hands to its sink, in
// as many pieces as it likes. The content goes to a new file in the same directory, which is
// flushed to disk and then renamed over the target, so a reader sees either the old file or
// the complete new one, never a part. A symbolic link is followed and its target replaced.
// Returns 1 on success; 0 when the path is not a regular file, the target exists and its
// permission bits don't let this user write it, the directory is missing or not writable,
// `produce` returns false, or any write, flush or rename fails: the temporary file is then
// removed and the old file, if any, is untouched.
int ReplaceFileAtomicallyWith(const std::string& path,
                              const std::function<bool(const FileChunkSink& sink)>& produce);

// The same, with the whole content at hand.
int ReplaceFileAtomically(const std::string& path, std::string_view content);
