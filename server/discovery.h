#pragma once

#include <memory>
#include <string>

// The server's announcement on the local network (mDNS/DNS-SD through the Avahi daemon), as
// "<server UUID>._sila._tcp" with the TXT lines SiLA 2 clients read. Without a daemon the
// server serves all the same; Start says so once on standard error.
class CDiscovery {
  public:
    struct Announcement {
        std::string uuid;
        int port = 0;
        std::string version;
        std::string name;
        std::string description;
        // The certificate clients should trust, PEM; empty when the server runs without TLS or
        // with a certificate of a trusted authority.
        std::string certificatePem;
    };

    CDiscovery();
    ~CDiscovery();
    CDiscovery(const CDiscovery&) = delete;
    CDiscovery& operator=(const CDiscovery&) = delete;

    // Starts announcing; false when no Avahi daemon can be reached.
    bool Start(const Announcement& announcement);
    // The server's name changed: the TXT lines follow.
    void Rename(const std::string& name);
    void Stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
