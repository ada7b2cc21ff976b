#include <gtest/gtest.h>

#include <algorithm>

#include "server/client_text.h"
#include "server/discovery.h"
#include "server/server_identity.h"

namespace {

// The record's strings as a client reads them, and their size on the wire.
std::size_t WireSize(const TxtRecord& record) {
    std::size_t size = 0;
    for (const auto& text : record.strings) {
        EXPECT_LE(text.size(), 255u) << text;
        size += 1 + text.size();
    }
    return size;
}

// The certificate a client puts together from the lines ca0, ca1 …
std::string CertificateIn(const TxtRecord& record) {
    std::string pem;
    for (int n = 0;; ++n) {
        const std::string key = "ca" + std::to_string(n) + "=";
        auto line = std::find_if(record.strings.begin(), record.strings.end(),
                                 [&](const std::string& text) { return text.rfind(key, 0) == 0; });
        if (line == record.strings.end())
            return pem;
        pem += line->substr(key.size()) + "\n";
    }
}

std::string ValueOf(const TxtRecord& record, const std::string& key) {
    for (const auto& text : record.strings) {
        if (text.rfind(key + "=", 0) == 0)
            return text.substr(key.size() + 1);
    }
    return "<none>";
}

}  // namespace

// The self-made certificate of a machine with a long name goes out whole, beside the longest
// name a client may set, in a record that fits one mDNS packet; a certificate that could
// never fit is left out whole, never cut.
TEST(Discovery, TheRecordCarriesTheCertificateAndFitsOnePacket) {
    CDiscovery::Announcement announcement;
    announcement.uuid = "5b1c07e2-8f0e-4c57-9d36-2b8f2c3d9a41";
    announcement.port = 50052;
    announcement.version = "1.2";
    for (int i = 0; i < 255; ++i)
        announcement.name += "é";
    announcement.description =
        "A laboratory shaker: runs at a set speed (1/min) for a set time and reports its speed "
        "and remaining time once a second.";
    // As long as a Linux host name can be.
    const std::string host = "shaker-in-the-cold-room-of-the-second-floor-east-wing-lab-000042";
    ASSERT_EQ(host.size(), 64u);
    std::string key;
    ASSERT_TRUE(
        MakeSelfSignedCertificate(announcement.uuid, host, announcement.certificatePem, key));

    const TxtRecord record = AssembleTxtRecord(announcement);
    EXPECT_EQ(WireSize(record), record.wireSize);
    EXPECT_LT(record.wireSize, 1300u);
    EXPECT_FALSE(record.certificateLeftOut);
    EXPECT_EQ(CertificateIn(record), announcement.certificatePem);
    EXPECT_EQ(ValueOf(record, "version"), "1.2");
    const std::string name = ValueOf(record, "server_name");
    EXPECT_TRUE(PlainTextLength(name)) << name;
    EXPECT_EQ(announcement.name.rfind(name, 0), 0u);

    announcement.certificatePem = "-----BEGIN CERTIFICATE-----\n";
    for (int i = 0; i < 30; ++i)
        announcement.certificatePem += std::string(64, 'A') + "\n";
    announcement.certificatePem += "-----END CERTIFICATE-----\n";
    const TxtRecord tooBig = AssembleTxtRecord(announcement);
    EXPECT_LT(WireSize(tooBig), 1300u);
    EXPECT_TRUE(tooBig.certificateLeftOut);
    EXPECT_EQ(CertificateIn(tooBig), "");
    // Without the certificate, the name is cut only to what a TXT string holds, at the end of
    // a character.
    EXPECT_EQ(ValueOf(tooBig, "server_name"), announcement.name.substr(0, 2 * 121));
}
