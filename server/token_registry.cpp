#include "server/token_registry.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>

namespace {

constexpr std::size_t kTokenBytes = 32;

std::string Digest(const std::string& token) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(token.data(), token.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        return {};
    return std::string(reinterpret_cast<const char*>(digest), size);
}

std::string Hex(const unsigned char* bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

}  // namespace

std::string CTokenRegistry::Issue(const std::string& user, Clock::time_point now) {
    unsigned char random[kTokenBytes];
    if (RAND_bytes(random, sizeof random) != 1)
        return {};
    const std::string token = Hex(random, sizeof random);
    const std::string key = Digest(token);
    if (key.empty())
        return {};
    std::lock_guard<std::mutex> lock(m_mutex);
    ForgetExpired(now);
    if (m_tokens.size() >= kMaxTokens) {
        const auto oldest = std::min_element(
            m_tokens.begin(), m_tokens.end(),
            [](const auto& a, const auto& b) { return a.second.lastUse < b.second.lastUse; });
        m_tokens.erase(oldest);
    }
    m_tokens[key] = {user, now};
    return token;
}

std::optional<std::string> CTokenRegistry::Use(const std::string& token, Clock::time_point now) {
    const std::string key = Digest(token);
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_tokens.find(key);
    if (found == m_tokens.end())
        return std::nullopt;
    if (now - found->second.lastUse >= kLifetime) {
        m_tokens.erase(found);
        return std::nullopt;
    }
    found->second.lastUse = std::max(found->second.lastUse, now);
    return found->second.user;
}

std::optional<std::string> CTokenRegistry::Revoke(const std::string& token, Clock::time_point now) {
    const std::string key = Digest(token);
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_tokens.find(key);
    if (found == m_tokens.end())
        return std::nullopt;
    const bool live = now - found->second.lastUse < kLifetime;
    std::string user = found->second.user;
    m_tokens.erase(found);
    return live ? std::optional<std::string>(std::move(user)) : std::nullopt;
}

void CTokenRegistry::ForgetExpired(Clock::time_point now) {
    std::erase_if(m_tokens,
                  [now](const auto& entry) { return now - entry.second.lastUse >= kLifetime; });
}
