#include "run/signing_key.h"

struct CSigningKey::Impl {};

std::string CSigningKey::DefaultPath() {
    return {};
}
std::unique_ptr<CSigningKey> CSigningKey::LoadOrCreate(const std::string&, std::string*) {
    return nullptr;
}
std::unique_ptr<CSigningKey> CSigningKey::Load(const std::string&, std::string*) {
    return nullptr;
}
CSigningKey::CSigningKey(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
CSigningKey::~CSigningKey() = default;
std::string CSigningKey::PublicKeyBase64() const {
    return {};
}
std::string CSigningKey::Sign(std::string_view) const {
    return {};
}
bool VerifyEd25519(std::string_view, std::string_view, std::string_view) {
    return false;
}
std::string ReadPublicKeyArgument(const std::string&) {
    return {};
}
std::string Sha256Hex(std::string_view) {
    return {};
}
