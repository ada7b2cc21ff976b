#pragma once

#include <string>

// What makes this server the same server across restarts: its UUID, its name, and the
// self-signed certificate that carries the UUID. All of it lives in one folder that only its
// owner may read ($XDG_DATA_HOME/velmora/server, default ~/.local/share/velmora/server).
class CServerIdentity {
  public:
    static std::string DefaultFolder();

    explicit CServerIdentity(std::string folder);

    // Reads the UUID and the name kept in the folder; makes the folder and a new UUID the first
    // time. False (and Error() says why) when the folder can't be made or written.
    bool Load();
    const std::string& Uuid() const { return m_uuid; }
    // The name last set (SetServerName), empty if none was ever set.
    const std::string& StoredName() const { return m_storedName; }
    bool StoreName(const std::string& name);

    // The certificate and key in PEM: the pair kept in the folder, made (CN "SiLA2", the UUID in
    // its own extension) the first time; an RSA pair an older version made is made again as EC.
    // False when it can't be made or read.
    bool LoadOrMakeCertificate(std::string& certificatePem, std::string& keyPem);
    std::string CertificatePath() const;
    std::string KeyPath() const;

    const std::string& Error() const { return m_error; }

  private:
    std::string m_folder;
    std::string m_uuid;
    std::string m_storedName;
    std::string m_error;
};

// The object identifier under which a SiLA 2 server's certificate carries the server's UUID.
inline constexpr const char* kServerUuidOid = "1.3.6.1.4.1.58583";

// This machine's host name; empty if it has none.
std::string HostName();
// Makes a self-signed certificate for the machine `hostName` and its EC (P-256) key, both PEM;
// false on failure.
bool MakeSelfSignedCertificate(const std::string& uuid, const std::string& hostName,
                               std::string& certificatePem, std::string& keyPem);
// The UUID a certificate carries in its SiLA extension; empty if it has none.
std::string UuidOfCertificate(const std::string& certificatePem);
