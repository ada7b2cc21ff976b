#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Text a client sent (names, identifiers, arguments) on its way into a log line or back out in
// an error message. A client may send anything: line breaks and terminal escapes that would
// forge log lines, bytes that are no UTF-8, megabytes.

// For the log: valid UTF-8 kept, control characters (C0, DEL, C1), backslashes and bytes that
// are no UTF-8 written as "\xHH" ("\\" for a backslash), at most 200 characters (code points),
// the last of them "…" when the text was cut.
std::string CleanForLog(std::string_view text);

// For an error message that names what the client sent: cleaned as for the log, at most 256
// characters, so the error stays small whatever came in.
std::string EchoLimit(std::string_view text);

// The number of characters (code points) of `text` when it is valid UTF-8 holding no control
// character (C0, DEL, C1); nothing otherwise.
std::optional<std::size_t> PlainTextLength(std::string_view text);
