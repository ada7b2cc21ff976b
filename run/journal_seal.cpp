#include "run/journal_seal.h"

#include "run/signing_key.h"
#include "run/whole_file.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>
#include <QByteArray>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

namespace {

constexpr std::string_view kDigestsTag = "# line digests\t";
constexpr std::string_view kKeyTag = "# signing key\ted25519 ";
constexpr std::string_view kSha256Tag = "# sha256 ";
constexpr std::string_view kSignatureTag = "# signature ed25519 ";
constexpr std::string_view kEndTag = "# end\t";
constexpr std::string_view kAfterCrash = "# sealed after an unexpected end";
constexpr std::size_t kDigestBytes = 4;
// Digests per "# line digests" line: lines of a few kilobytes, which any editor opens.
constexpr std::size_t kDigestsPerLine = 1024;

bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

// The first bytes of each line's SHA-256: enough to name the first changed line, which is all
// they are for; the whole file's SHA-256 and the signature are what prove the record.
class LineDigester {
  public:
    LineDigester() : m_ctx(EVP_MD_CTX_new()) {}
    ~LineDigester() { EVP_MD_CTX_free(m_ctx); }
    LineDigester(const LineDigester&) = delete;
    LineDigester& operator=(const LineDigester&) = delete;

    std::array<unsigned char, kDigestBytes> Digest(std::string_view line) {
        // Fetched once: an implicit fetch per line would cost more than the hashing.
        static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
        unsigned char full[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        std::array<unsigned char, kDigestBytes> digest{};
        if (m_ctx != nullptr && sha256 != nullptr && EVP_DigestInit_ex2(m_ctx, sha256, nullptr) &&
            EVP_DigestUpdate(m_ctx, line.data(), line.size()) &&
            EVP_DigestFinal_ex(m_ctx, full, &size)) {
            std::memcpy(digest.data(), full, kDigestBytes);
        }
        return digest;
    }

  private:
    EVP_MD_CTX* m_ctx;
};

struct Line {
    std::size_t offset;
    std::string_view text;  // without its line break
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    lines.reserve(text.size() / 40 + 1);
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        lines.push_back({at, text.substr(at, end - at)});
        at = end + 1;
    }
    return lines;
}

std::string DigestLines(const std::vector<Line>& lines) {
    LineDigester digester;
    std::string out;
    QByteArray chunk;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto digest = digester.Digest(lines[i].text);
        chunk.append(reinterpret_cast<const char*>(digest.data()), kDigestBytes);
        if ((i + 1) % kDigestsPerLine == 0 || i + 1 == lines.size()) {
            out += kDigestsTag;
            out += chunk.toBase64().toStdString();
            out += '\n';
            chunk.clear();
        }
    }
    return out;
}

// A signer's name goes on one line with the key.
std::string OneWord(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) {
            c = '_';
        }
    }
    return text;
}

JournalCheck Altered(JournalCheck check, int line, std::string reason) {
    check.state = JournalCheck::State::Altered;
    check.alteredLine = line;
    check.reason = std::move(reason);
    return check;
}

// The first line of the body that differs from what the digests recorded; the seal's own first
// line when every body line matches (then the seal itself was changed).
int FirstChangedLine(const std::vector<Line>& lines, std::size_t bodyLines, std::size_t sealEnd) {
    std::string recorded;
    for (std::size_t i = bodyLines; i < sealEnd; ++i) {
        if (!StartsWith(lines[i].text, kDigestsTag)) {
            continue;
        }
        const auto decoded = QByteArray::fromBase64Encoding(
            QByteArray(lines[i].text.data() + kDigestsTag.size(),
                       static_cast<qsizetype>(lines[i].text.size() - kDigestsTag.size())),
            QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.size() % kDigestBytes != 0) {
            return static_cast<int>(i + 1);
        }
        recorded += decoded.decoded.toStdString();
    }
    const std::size_t recordedLines = recorded.size() / kDigestBytes;
    LineDigester digester;
    const std::size_t common = std::min(recordedLines, bodyLines);
    for (std::size_t i = 0; i < common; ++i) {
        const auto digest = digester.Digest(lines[i].text);
        if (std::memcmp(digest.data(), recorded.data() + i * kDigestBytes, kDigestBytes) != 0) {
            return static_cast<int>(i + 1);
        }
    }
    // Lines removed from the end or added there; or else the seal's lines themselves.
    return static_cast<int>(recordedLines != bodyLines ? common + 1 : bodyLines + 1);
}

}  // namespace

std::string JournalSealLines(std::string_view body, const CSigningKey* key,
                             const std::string& signer) {
    std::string sealed(body);
    sealed += DigestLines(SplitLines(body));
    if (key != nullptr) {
        sealed += std::string(kKeyTag) + key->PublicKeyBase64();
        if (!signer.empty()) {
            sealed += " " + OneWord(signer);
        }
        sealed += '\n';
    }
    const std::string digestLine = std::string(kSha256Tag) + Sha256Hex(sealed) + "\n";
    sealed += digestLine;
    if (key != nullptr) {
        sealed += std::string(kSignatureTag) + key->Sign(digestLine) + "\n";
    }
    return sealed.substr(body.size());
}

namespace {

// The common case, a journal as it was sealed, found from its last lines alone: the seal, one
// SHA-256 over the text and one signature check of the digest line. Nothing when anything is
// amiss: the whole check then says what.
std::optional<JournalCheck> QuickCheck(std::string_view text,
                                       const std::optional<std::string>& expectedPublicKey) {
    if (text.empty() || text.back() != '\n') {
        return std::nullopt;
    }
    // The line ending at `end` (its line break excluded) and where it starts.
    const auto lineBefore = [&](std::size_t end) {
        const std::size_t start = end == 0 ? std::string_view::npos : text.rfind('\n', end - 1);
        const std::size_t from = start == std::string_view::npos ? 0 : start + 1;
        return std::pair{from, text.substr(from, end - from)};
    };
    auto [lastStart, last] = lineBefore(text.size() - 1);
    std::size_t shaStart = lastStart;
    std::string_view sha = last;
    std::string_view signature;
    if (StartsWith(last, kSignatureTag)) {
        signature = last.substr(kSignatureTag.size());
        if (lastStart == 0) {
            return std::nullopt;
        }
        std::tie(shaStart, sha) = lineBefore(lastStart - 1);
    }
    if (!StartsWith(sha, kSha256Tag)) {
        return std::nullopt;
    }
    JournalCheck check;
    check.digest = std::string(sha.substr(kSha256Tag.size()));
    if (Sha256Hex(text.substr(0, shaStart)) != check.digest) {
        return std::nullopt;
    }
    // Back over the key line and the digest lines to the end line.
    std::size_t at = shaStart;
    while (at > 0) {
        const auto [start, line] = lineBefore(at - 1);
        if (StartsWith(line, kKeyTag)) {
            const std::string_view rest = line.substr(kKeyTag.size());
            const std::size_t space = rest.find(' ');
            check.publicKey = std::string(rest.substr(0, space));
            check.signer =
                space == std::string_view::npos ? "" : std::string(rest.substr(space + 1));
        } else if (!StartsWith(line, kDigestsTag)) {
            break;
        }
        at = start;
    }
    if (!signature.empty()) {
        if (check.publicKey.empty() ||
            !VerifyEd25519(check.publicKey, text.substr(shaStart, lastStart - shaStart),
                           signature)) {
            return std::nullopt;
        }
        check.signedRun = true;
    }
    if (expectedPublicKey && (!check.signedRun || check.publicKey != *expectedPublicKey)) {
        return std::nullopt;
    }
    // A crashed run's seal names it: the line sits just above the digest lines.
    const std::size_t afterCrash = text.rfind(kAfterCrash, at);
    check.sealedAfterCrash =
        afterCrash != std::string_view::npos &&
        text.substr(afterCrash, at - afterCrash).size() == kAfterCrash.size() + 1;
    check.state = JournalCheck::State::Sealed;
    return check;
}

}  // namespace

JournalCheck CheckJournalText(std::string_view text,
                              const std::optional<std::string>& expectedPublicKey) {
    if (auto quick = QuickCheck(text, expectedPublicKey)) {
        return std::move(*quick);
    }
    JournalCheck check;
    const std::vector<Line> lines = SplitLines(text);
    std::size_t sha = lines.size();
    for (std::size_t i = lines.size(); i-- > 0;) {
        if (StartsWith(lines[i].text, kSha256Tag)) {
            sha = i;
            break;
        }
    }
    if (sha == lines.size()) {
        const bool ended = std::any_of(lines.begin(), lines.end(), [](const Line& line) {
            return StartsWith(line.text, kEndTag);
        });
        check.reason = ended ? "the journal has no seal" : "the run never ended";
        check.keyMatches = !expectedPublicKey;
        return check;
    }

    // The seal: digest lines, the key line, the SHA-256 line, the signature line.
    std::size_t sealStart = sha;
    std::size_t keyLine = lines.size();
    while (sealStart > 0 && (StartsWith(lines[sealStart - 1].text, kDigestsTag) ||
                             StartsWith(lines[sealStart - 1].text, kKeyTag))) {
        --sealStart;
        if (StartsWith(lines[sealStart].text, kKeyTag)) {
            keyLine = sealStart;
        }
    }
    if (keyLine < lines.size()) {
        const std::string_view rest = lines[keyLine].text.substr(kKeyTag.size());
        const std::size_t space = rest.find(' ');
        check.publicKey = std::string(rest.substr(0, space));
        check.signer = space == std::string_view::npos ? "" : std::string(rest.substr(space + 1));
    }
    check.digest = std::string(lines[sha].text.substr(kSha256Tag.size()));
    for (std::size_t i = 0; i < sealStart; ++i) {
        if (lines[i].text == kAfterCrash) {
            check.sealedAfterCrash = true;
            break;
        }
    }

    std::size_t signature = lines.size();
    std::size_t sealEnd = sha + 1;
    if (sealEnd < lines.size() && StartsWith(lines[sealEnd].text, kSignatureTag)) {
        signature = sealEnd++;
    }
    if (sealEnd < lines.size() || text.back() != '\n') {
        return Altered(std::move(check), static_cast<int>(std::min(sealEnd, lines.size() - 1) + 1),
                       "lines were added after the seal");
    }
    if (Sha256Hex(text.substr(0, lines[sha].offset)) != check.digest) {
        const int line = FirstChangedLine(lines, sealStart, sha);
        return Altered(std::move(check), line,
                       "line " + std::to_string(line) + " is not as it was sealed");
    }
    if (signature < lines.size()) {
        if (keyLine == lines.size() ||
            !VerifyEd25519(
                check.publicKey,
                text.substr(lines[sha].offset, lines[signature].offset - lines[sha].offset),
                lines[signature].text.substr(kSignatureTag.size()))) {
            return Altered(std::move(check), static_cast<int>(signature + 1),
                           "the signature does not hold");
        }
        check.signedRun = true;
    }
    if (expectedPublicKey) {
        check.keyMatches = check.signedRun && check.publicKey == *expectedPublicKey;
        if (!check.keyMatches) {
            std::string reason = check.signedRun ? "signed by another key" : "not signed";
            return Altered(std::move(check),
                           static_cast<int>((keyLine < lines.size() ? keyLine : sha) + 1),
                           std::move(reason));
        }
    }
    check.state = JournalCheck::State::Sealed;
    return check;
}

JournalCheck CheckJournalFile(const std::string& path,
                              const std::optional<std::string>& expectedPublicKey) {
    if (const std::optional<std::string> text = ReadWholeFile(path)) {
        return CheckJournalText(*text, expectedPublicKey);
    }
    JournalCheck check;
    check.reason = path + ": " + std::strerror(errno);
    check.keyMatches = !expectedPublicKey;
    return check;
}
