#pragma once

#include <memory>
#include <string>
#include <string_view>

// The Ed25519 key a program signs its finished journals with (OpenSSL 3). One per user, made on
// first use, kept mode 0600; the public half is what a lab hands to whoever checks the runs.
class CSigningKey {
  public:
    // $XDG_DATA_HOME/velmora/signing-key, or ~/.local/share/velmora/signing-key.
    static std::string DefaultPath();

    // The key at `path`, made (0600, in a 0700 folder) when there is none yet. Null when it can't
    // be read or made; `error` says why.
    static std::unique_ptr<CSigningKey> LoadOrCreate(const std::string& path, std::string* error);
    // The key at `path`; null when there is none or it can't be read.
    static std::unique_ptr<CSigningKey> Load(const std::string& path, std::string* error);

    ~CSigningKey();
    CSigningKey(const CSigningKey&) = delete;
    CSigningKey& operator=(const CSigningKey&) = delete;

    // The public key, base64 of its 32 raw bytes.
    std::string PublicKeyBase64() const;
    // The Ed25519 signature of `data`, base64 of its 64 bytes.
    std::string Sign(std::string_view data) const;

  private:
    struct Impl;
    explicit CSigningKey(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

// Whether `signatureBase64` is the Ed25519 signature of `data` by `publicKeyBase64`.
bool VerifyEd25519(std::string_view publicKeyBase64, std::string_view data,
                   std::string_view signatureBase64);

// A public key as a user gives it: base64 text, or a file holding it (as `velmora-cli key`
// prints it). Empty when neither.
std::string ReadPublicKeyArgument(const std::string& argument);

// The lowercase hex SHA-256 of `data`.
std::string Sha256Hex(std::string_view data);
