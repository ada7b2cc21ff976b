#include "server/server_identity.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QUuid>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <set>

#include "server/call_log.h"

namespace {

bool ReadText(const std::string& path, std::string& text) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    text = file.readAll().toStdString();
    return true;
}

// Written whole or not at all, readable by the owner only (the folder is too): the key is a
// secret.
bool WriteText(const std::string& path, const std::string& text) {
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text.data(), static_cast<qint64>(text.size()));
    if (!file.commit())
        return false;
    chmod(path.c_str(), 0600);
    return true;
}

std::string Trimmed(const std::string& text) {
    return QString::fromStdString(text).trimmed().toStdString();
}

bool IsUuid(const std::string& text) {
    const QUuid uuid = QUuid::fromString(QString::fromStdString(text));
    return !uuid.isNull() && text.size() == 36 &&
           uuid.toString(QUuid::WithoutBraces).toStdString() == text;
}

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

bool AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

// A DNS name in a certificate is letters, digits, hyphens and dots; a host name of other
// characters is left out rather than spoil the certificate.
bool IsDnsName(const std::string& name) {
    if (name.empty() || name.size() > 253)
        return false;
    for (const char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.')
            return false;
    }
    return true;
}

void AddDnsName(GENERAL_NAMES* names, const std::string& dns) {
    GENERAL_NAME* name = GENERAL_NAME_new();
    ASN1_IA5STRING* text = ASN1_IA5STRING_new();
    ASN1_STRING_set(text, dns.data(), static_cast<int>(dns.size()));
    GENERAL_NAME_set0_value(name, GEN_DNS, text);
    sk_GENERAL_NAME_push(names, name);
}

void AddAddress(GENERAL_NAMES* names, const void* bytes, int size) {
    GENERAL_NAME* name = GENERAL_NAME_new();
    ASN1_OCTET_STRING* address = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(address, static_cast<const unsigned char*>(bytes), size);
    GENERAL_NAME_set0_value(name, GEN_IPADD, address);
    sk_GENERAL_NAME_push(names, name);
}

// The names a client may reach this machine by when the certificate is made: "SiLA2" (what
// SiLA 2 clients check an untrusted certificate against), localhost, the host name (and its
// mDNS name) and the addresses of the machine's interfaces.
bool AddSubjectAltNames(X509* cert, const std::string& hostName) {
    std::set<std::string> dnsNames = {"SiLA2", "localhost"};
    if (IsDnsName(hostName)) {
        dnsNames.insert(hostName);
        if (hostName.find('.') == std::string::npos)
            dnsNames.insert(hostName + ".local");
    }
    // Raw, 4 or 16 bytes: 127.0.0.1 and ::1, then the interfaces'.
    std::set<std::string> addresses = {std::string("\x7f\0\0\1", 4), std::string(15, '\0') + '\1'};
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* it = list; it; it = it->ifa_next) {
            if (!it->ifa_addr)
                continue;
            if (it->ifa_addr->sa_family == AF_INET) {
                const auto& address = reinterpret_cast<sockaddr_in*>(it->ifa_addr)->sin_addr;
                addresses.insert(std::string(reinterpret_cast<const char*>(&address), 4));
            } else if (it->ifa_addr->sa_family == AF_INET6) {
                const auto& address = reinterpret_cast<sockaddr_in6*>(it->ifa_addr)->sin6_addr;
                // Link-local addresses need a zone and can't stand in a certificate.
                if (!IN6_IS_ADDR_LINKLOCAL(&address))
                    addresses.insert(std::string(reinterpret_cast<const char*>(&address), 16));
            }
        }
        freeifaddrs(list);
    }
    GENERAL_NAMES* names = sk_GENERAL_NAME_new_null();
    for (const auto& dns : dnsNames)
        AddDnsName(names, dns);
    for (const auto& address : addresses)
        AddAddress(names, address.data(), static_cast<int>(address.size()));
    const bool added = X509_add1_ext_i2d(cert, NID_subject_alt_name, names, 0, 0) == 1;
    GENERAL_NAMES_free(names);
    return added;
}

bool IsEcCertificate(const std::string& certificatePem) {
    BioPtr bio(BIO_new_mem_buf(certificatePem.data(), static_cast<int>(certificatePem.size())));
    X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    return cert && EVP_PKEY_get_base_id(X509_get0_pubkey(cert.get())) == EVP_PKEY_EC;
}

std::string ToPem(X509* cert) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), cert);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

std::string ToPem(EVP_PKEY* key) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

}  // namespace

std::string CServerIdentity::DefaultFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (data && *data == '/')
        base = data;
    else
        base = std::string(std::getenv("HOME") ? std::getenv("HOME") : "") + "/.local/share";
    return base + "/velmora/server";
}

CServerIdentity::CServerIdentity(std::string folder) : m_folder(std::move(folder)) {}

bool CServerIdentity::Load() {
    if (!QDir().mkpath(QString::fromStdString(m_folder))) {
        m_error = "can't make " + m_folder;
        return false;
    }
    chmod(m_folder.c_str(), 0700);
    const std::string uuidPath = m_folder + "/uuid";
    std::string text;
    if (ReadText(uuidPath, text) && IsUuid(Trimmed(text))) {
        m_uuid = Trimmed(text);
    } else {
        m_uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
        if (!WriteText(uuidPath, m_uuid + "\n")) {
            m_error = "can't write " + uuidPath;
            return false;
        }
    }
    if (ReadText(m_folder + "/name", text))
        m_storedName = Trimmed(text);
    return true;
}

bool CServerIdentity::StoreName(const std::string& name) {
    m_storedName = name;
    return WriteText(m_folder + "/name", name + "\n");
}

std::string CServerIdentity::CertificatePath() const {
    return m_folder + "/certificate.pem";
}

std::string CServerIdentity::KeyPath() const {
    return m_folder + "/key.pem";
}

bool CServerIdentity::LoadOrMakeCertificate(std::string& certificatePem, std::string& keyPem) {
    // A pair made for another UUID (the uuid file replaced by hand) is made again.
    const bool ours = ReadText(CertificatePath(), certificatePem) && ReadText(KeyPath(), keyPem) &&
                      UuidOfCertificate(certificatePem) == m_uuid;
    if (ours && IsEcCertificate(certificatePem))
        return true;
    if (!MakeSelfSignedCertificate(m_uuid, HostName(), certificatePem, keyPem)) {
        m_error = "can't make a certificate";
        return false;
    }
    if (!WriteText(KeyPath(), keyPem) || !WriteText(CertificatePath(), certificatePem)) {
        m_error = "can't write the certificate to " + m_folder;
        return false;
    }
    // Older versions made RSA certificates, too big to announce whole by discovery.
    if (ours)
        CCallLog::Line("replaced the RSA certificate in " + m_folder +
                       " by an EC one, small enough for discovery; the server UUID is kept");
    return true;
}

std::string HostName() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0)
        return {};
    return host;
}

bool MakeSelfSignedCertificate(const std::string& uuid, const std::string& hostName,
                               std::string& certificatePem, std::string& keyPem) {
    // P-256: a certificate a third the size of an RSA one, so that discovery can carry it.
    KeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr cert(X509_new());
    if (!key || !cert)
        return false;
    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;  // a positive serial number
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    // Made once and kept for the server's life, so it is valid for a long time.
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60L * 60 * 24);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 60L * 60 * 24 * 365 * 30);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("SiLA2"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);

    // The certificate is its own authority: clients are given it (discovery's "ca" lines) to
    // trust.
    if (!AddExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE") ||
        !AddExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyCertSign") ||
        !AddExtension(cert.get(), NID_ext_key_usage, "serverAuth") ||
        !AddExtension(cert.get(), NID_subject_key_identifier, "hash") ||
        !AddSubjectAltNames(cert.get(), hostName))
        return false;

    ASN1_OBJECT* oid = OBJ_txt2obj(kServerUuidOid, 1);
    ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(value, reinterpret_cast<const unsigned char*>(uuid.data()),
                          static_cast<int>(uuid.size()));
    X509_EXTENSION* ext = X509_EXTENSION_create_by_OBJ(nullptr, oid, 0, value);
    const bool added = ext && X509_add_ext(cert.get(), ext, -1) == 1;
    X509_EXTENSION_free(ext);
    ASN1_OCTET_STRING_free(value);
    ASN1_OBJECT_free(oid);
    if (!added || X509_sign(cert.get(), key.get(), EVP_sha256()) == 0)
        return false;

    certificatePem = ToPem(cert.get());
    keyPem = ToPem(key.get());
    return !certificatePem.empty() && !keyPem.empty();
}

std::string UuidOfCertificate(const std::string& certificatePem) {
    BioPtr bio(BIO_new_mem_buf(certificatePem.data(), static_cast<int>(certificatePem.size())));
    X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!cert)
        return {};
    ASN1_OBJECT* oid = OBJ_txt2obj(kServerUuidOid, 1);
    const int index = X509_get_ext_by_OBJ(cert.get(), oid, -1);
    ASN1_OBJECT_free(oid);
    if (index < 0)
        return {};
    const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(X509_get_ext(cert.get(), index));
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(data)),
                       static_cast<std::size_t>(ASN1_STRING_length(data)));
}
