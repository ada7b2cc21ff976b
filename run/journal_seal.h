#pragma once

#include <optional>
#include <string>
#include <string_view>

class CSigningKey;

// A finished journal is sealed: after its end line come
//   "# line digests\t<base64>"  (4 bytes of SHA-256 per line above; several lines of them), so
//                                a check can name the first line that was changed,
//   "# signing key\ted25519 <base64 public key> <user@host>"  (where a signing key exists),
//   "# sha256 <hex>"             over every byte above it,
//   "# signature ed25519 <base64>"  of the "# sha256" line, which vouches for every byte above it
//                                (where a signing key exists).
// A run that ended by a crash is sealed by the next start that reports it, after a line
// "# sealed after an unexpected end".

// The seal lines for a journal whose text so far is `body` (whole lines).
std::string JournalSealLines(std::string_view body, const CSigningKey* key,
                             const std::string& signer);

// What a check of a journal found.
struct JournalCheck {
    enum class State {
        Sealed,      // every line is as sealed (and the signature, if any, holds)
        Altered,     // a line differs from what was sealed, or the signature doesn't hold
        Unfinished,  // no seal: the run never ended (or the program that wrote it didn't seal)
    };
    State state = State::Unfinished;
    // Altered: the first line (1-based) that differs, is missing or is out of place.
    int alteredLine = 0;
    bool signedRun = false;  // a signature line is present and holds
    std::string signer;      // user@host of the signing key line
    std::string publicKey;   // base64 of the key that signed
    bool keyMatches = true;  // an expected key was given: it is the one that signed
    bool sealedAfterCrash = false;
    std::string digest;  // the sealed SHA-256, hex
    std::string reason;  // Altered/Unfinished: in a user's words
};

// Checks a journal's text; with `expectedPublicKey`, a signature by any other key (or none)
// is not accepted.
JournalCheck CheckJournalText(std::string_view text,
                              const std::optional<std::string>& expectedPublicKey = std::nullopt);
// The same for a file; a file that can't be read is Unfinished with the reason.
JournalCheck CheckJournalFile(const std::string& path,
                              const std::optional<std::string>& expectedPublicKey = std::nullopt);
