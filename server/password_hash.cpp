#include "server/password_hash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <charconv>
#include <cstdint>
#include <semaphore>
#include <vector>

namespace {

struct ScryptParameters {
    std::uint64_t n = 0;
    std::uint64_t r = 0;
    std::uint64_t p = 0;
};

// About 0.1 s and 32 MiB per hash on a current PC: slow enough against guessing from a stolen
// file, quick enough for a login.
constexpr ScryptParameters kDefault{std::uint64_t{1} << 15, 8, 1};
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;
// A line asking for more than this is refused rather than allowed to exhaust memory.
constexpr std::uint64_t kMaxMemory = std::uint64_t{256} << 20;

// Every hash holds 32 MiB while it runs, and each login runs one on its own gRPC thread: a
// burst of logins waits here rather than taking the machine's memory.
std::counting_semaphore<> g_hashSlots(2);

// The memory scrypt needs for these parameters, as OpenSSL counts it; 0 when the parameters
// are unusable.
std::uint64_t MemoryFor(const ScryptParameters& parameters) {
    const auto [n, r, p] = parameters;
    if (n < 2 || (n & (n - 1)) != 0 || r == 0 || p == 0 || r > 64 || p > 16 || n > (1u << 24))
        return 0;
    const std::uint64_t memory = 128 * r * (n + 2) + 128 * r * p;
    return memory <= kMaxMemory ? memory : 0;
}

bool Scrypt(std::string_view password, const std::vector<unsigned char>& salt,
            const ScryptParameters& parameters, std::vector<unsigned char>& hash) {
    const std::uint64_t memory = MemoryFor(parameters);
    if (memory == 0)
        return false;
    g_hashSlots.acquire();
    const bool done =
        EVP_PBE_scrypt(password.data(), password.size(), salt.data(), salt.size(), parameters.n,
                       parameters.r, parameters.p, memory, hash.data(), hash.size()) == 1;
    g_hashSlots.release();
    return done;
}

std::string Hex(const std::vector<unsigned char>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

bool FromHex(std::string_view text, std::vector<unsigned char>& bytes) {
    if (text.size() % 2 != 0)
        return false;
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        const auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
        if (error != std::errc() || end != text.data() + i + 2)
            return false;
        bytes.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

// The next ':'-separated field of `rest`, which loses it.
std::string_view NextField(std::string_view& rest) {
    const auto colon = rest.find(':');
    const std::string_view field = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    return field;
}

bool ToNumber(std::string_view text, std::uint64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string HashPassword(std::string_view password) {
    std::vector<unsigned char> salt(kSaltBytes);
    std::vector<unsigned char> hash(kHashBytes);
    if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1 ||
        !Scrypt(password, salt, kDefault, hash))
        return {};
    return "scrypt:" + std::to_string(kDefault.n) + ":" + std::to_string(kDefault.r) + ":" +
           std::to_string(kDefault.p) + ":" + Hex(salt) + ":" + Hex(hash);
}

bool VerifyPassword(std::string_view password, std::string_view stored) {
    std::string_view rest = stored;
    ScryptParameters parameters;
    std::vector<unsigned char> salt, expected;
    if (NextField(rest) != "scrypt" || !ToNumber(NextField(rest), parameters.n) ||
        !ToNumber(NextField(rest), parameters.r) || !ToNumber(NextField(rest), parameters.p) ||
        !FromHex(NextField(rest), salt) || !FromHex(NextField(rest), expected) || !rest.empty() ||
        salt.empty() || expected.size() < 16 || expected.size() > 64)
        return false;
    std::vector<unsigned char> hash(expected.size());
    return Scrypt(password, salt, parameters, hash) &&
           CRYPTO_memcmp(hash.data(), expected.data(), hash.size()) == 0;
}

void SpendVerifyTime(std::string_view password) {
    const std::vector<unsigned char> salt(kSaltBytes);
    std::vector<unsigned char> hash(kHashBytes);
    Scrypt(password, salt, kDefault, hash);
}
