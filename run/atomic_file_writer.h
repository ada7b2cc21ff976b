#pragma once

#include <cstddef>
#include <functional>
#include <optional>
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
// the complete new one, never a part. A symbolic link is followed and its target replaced only
// where the kernel itself would follow it (fs.protected_symlinks): the link is the user's own,
// or its folder is not both sticky and world-writable, or the folder's owner owns the link.
// Returns 1 on success; 0 when WriteTargetProblem(path) names a problem, `produce` returns
// false, or any write, flush or rename fails: the temporary file is then removed and the old
// file, if any, is untouched.
int ReplaceFileAtomicallyWith(const std::string& path,
                              const std::function<bool(const FileChunkSink& sink)>& produce);

// Why ReplaceFileAtomicallyWith could not write `path`, as a phrase that names the file or
// folder at fault ("/tmp/x is a FIFO (named pipe), not a regular file"), or nothing when it
// can: for checking an output file before a run rather than after it. It makes and removes a
// temporary file beside the target, which finds what no look-up does.
std::optional<std::string> WriteTargetProblem(const std::string& path);

// The same, with the whole content at hand.
int ReplaceFileAtomically(const std::string& path, std::string_view content);
