#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

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

// The announcement's TXT record as it goes on the wire.
struct TxtRecord {
    std::vector<std::string> strings;  // "key=value", in order
    std::size_t wireSize = 0;          // each string's length byte and bytes
    // What had to give for the record to fit: the values shortened (description first, then
    // the name), and at last the certificate left out.
    bool descriptionCut = false;
    bool nameCut = false;
    bool certificateLeftOut = false;
};

// An mDNS answer travels in one packet, so the record stays below this, with room beside it
// in a 1500-byte Ethernet frame for the headers and the service's other records.
inline constexpr std::size_t kTxtRecordLimit = 1300;

// The TXT record for `announcement`: version, server_name, description and the certificate's
// PEM lines as ca0, ca1 …, smaller than kTxtRecordLimit.
TxtRecord AssembleTxtRecord(const CDiscovery::Announcement& announcement);
