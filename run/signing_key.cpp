#include "run/signing_key.h"

#include "link/posix_io.h"
#include "run/run_journal.h"
#include "run/whole_file.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace {

namespace fs = std::filesystem;

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
struct MdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

constexpr std::size_t kPublicKeyBytes = 32;
constexpr std::size_t kSignatureBytes = 64;

std::string ToBase64(const unsigned char* data, std::size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size))
        .toBase64()
        .toStdString();
}

// Strict: a key or signature with stray characters is not quietly read as another one.
std::optional<QByteArray> FromBase64(std::string_view text) {
    const auto decoded =
        QByteArray::fromBase64Encoding(QByteArray(text.data(), static_cast<qsizetype>(text.size())),
                                       QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        return std::nullopt;
    }
    return decoded.decoded;
}

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

PkeyPtr ReadPrivateKey(const std::string& path, std::string* error) {
    const std::optional<std::string> pem = ReadWholeFile(path);
    if (!pem) {
        if (error != nullptr) {
            *error = SystemError("Can't read the signing key", path);
        }
        return nullptr;
    }
    BioPtr bio(BIO_new_mem_buf(pem->data(), static_cast<int>(pem->size())));
    PkeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
        if (error != nullptr) {
            *error = "The signing key " + path + " is not an Ed25519 private key";
        }
        return nullptr;
    }
    return key;
}

// Made beside its final name and linked there: a second program making the key at the same
// moment keeps the first one's, and nobody reads half a key.
PkeyPtr CreatePrivateKey(const std::string& path, std::string* error) {
    std::error_code made;
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty()) {
        fs::create_directories(folder, made);
        if (made) {
            *error = "Can't make the folder " + folder.string() + ": " + made.message();
            return nullptr;
        }
    }
    PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!key || !bio ||
        PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1) {
        *error = "Can't make a signing key";
        return nullptr;
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    const std::string temporary = path + ".new-" + std::to_string(getpid());
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = SystemError("Can't write the signing key", temporary);
        return nullptr;
    }
    const bool written =
        WriteAll(fd, std::string_view(data, static_cast<std::size_t>(size))) && fsync(fd) == 0;
    const int writeErrno = errno;
    close(fd);
    if (!written) {
        unlink(temporary.c_str());
        errno = writeErrno;
        *error = SystemError("Can't write the signing key", temporary);
        return nullptr;
    }
    const bool linked = link(temporary.c_str(), path.c_str()) == 0;
    const int linkErrno = errno;
    unlink(temporary.c_str());
    if (!linked) {
        if (linkErrno == EEXIST) {
            return ReadPrivateKey(path, error);
        }
        errno = linkErrno;
        *error = SystemError("Can't write the signing key", path);
        return nullptr;
    }
    SyncFolder(folder.string());
    return key;
}

}  // namespace

struct CSigningKey::Impl {
    PkeyPtr key;
};

std::string CSigningKey::DefaultPath() {
    return (fs::path(CRunJournal::DefaultFolder()).parent_path() / "signing-key").string();
}

std::unique_ptr<CSigningKey> CSigningKey::LoadOrCreate(const std::string& path,
                                                       std::string* error) {
    std::string ignored;
    std::string& why = error != nullptr ? *error : ignored;
    PkeyPtr key;
    if (access(path.c_str(), F_OK) == 0) {
        key = ReadPrivateKey(path, &why);
    } else {
        // The folder is the user's alone, like the key.
        const fs::path folder = fs::path(path).parent_path();
        std::error_code existed;
        const bool newFolder = !fs::exists(folder, existed);
        key = CreatePrivateKey(path, &why);
        if (key && newFolder) {
            chmod(folder.c_str(), 0700);
        }
    }
    if (!key) {
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->key = std::move(key);
    return std::unique_ptr<CSigningKey>(new CSigningKey(std::move(impl)));
}

std::unique_ptr<CSigningKey> CSigningKey::Load(const std::string& path, std::string* error) {
    PkeyPtr key = ReadPrivateKey(path, error);
    if (!key) {
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->key = std::move(key);
    return std::unique_ptr<CSigningKey>(new CSigningKey(std::move(impl)));
}

CSigningKey::CSigningKey(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
CSigningKey::~CSigningKey() = default;

std::string CSigningKey::PublicKeyBase64() const {
    unsigned char raw[kPublicKeyBytes];
    std::size_t size = sizeof raw;
    if (EVP_PKEY_get_raw_public_key(m_impl->key.get(), raw, &size) != 1) {
        return {};
    }
    return ToBase64(raw, size);
}

std::string CSigningKey::Sign(std::string_view data) const {
    MdCtxPtr ctx(EVP_MD_CTX_new());
    unsigned char signature[kSignatureBytes];
    std::size_t size = sizeof signature;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, m_impl->key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), signature, &size,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1) {
        return {};
    }
    return ToBase64(signature, size);
}

bool VerifyEd25519(std::string_view publicKeyBase64, std::string_view data,
                   std::string_view signatureBase64) {
    const auto publicKey = FromBase64(publicKeyBase64);
    const auto signature = FromBase64(signatureBase64);
    if (!publicKey || !signature || publicKey->size() != kPublicKeyBytes ||
        signature->size() != kSignatureBytes) {
        return false;
    }
    PkeyPtr key(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(publicKey->data()),
        kPublicKeyBytes));
    MdCtxPtr ctx(EVP_MD_CTX_new());
    return key && ctx &&
           EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
           EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature->data()),
                            kSignatureBytes, reinterpret_cast<const unsigned char*>(data.data()),
                            data.size()) == 1;
}

std::string ReadPublicKeyArgument(const std::string& argument) {
    const auto isKey = [](std::string_view text) {
        const auto raw = FromBase64(text);
        return raw && raw->size() == kPublicKeyBytes;
    };
    if (isKey(argument)) {
        return argument;
    }
    std::ifstream file(argument);
    if (!file) {
        return {};
    }
    // The file as `velmora-cli key` prints it: the key's base64 is the first word that is one.
    std::string word;
    while (file >> word) {
        if (isKey(word)) {
            return word;
        }
    }
    return {};
}

std::string Sha256Hex(std::string_view data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
        return {};
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (unsigned int i = 0; i < size; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0xf];
    }
    return hex;
}
