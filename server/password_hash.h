#pragma once

#include <string>
#include <string_view>

// A password is kept only as a salted scrypt hash, in one line of text that carries its own
// parameters ("scrypt:N:r:p:SALT:HASH", salt and hash in hex), so a later version may make
// the hash slower without losing the passwords already kept.

// The line for `password` with a new random salt; empty if no random salt could be had.
std::string HashPassword(std::string_view password);

// Whether `password` hashes to `stored`. Takes as long for a wrong password as for a right one,
// and compares in constant time. False for a line that isn't a hash of this form.
bool VerifyPassword(std::string_view password, std::string_view stored);

// Spends the time a VerifyPassword takes, so that an unknown user name can't be told from a
// wrong password by the answer's delay.
void SpendVerifyTime(std::string_view password);
