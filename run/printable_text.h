#pragma once

#include <string>
#include <string_view>

// Text from the instrument (its device ID) made safe to leave the program: to a terminal, a
// log, a JSON document or a gRPC string. Valid UTF-8 passes as it is, except control
// characters (C0, DEL, C1) and the backslash; those and every byte that is not part of valid
// UTF-8 become "\xHH" ("\\" for a backslash), so the raw bytes can still be told apart.
std::string PrintableText(std::string_view raw);
