#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <algorithm>

#include "SiLAService.grpc.pb.h"
#include "server/feature_definitions.h"
#include "server/server_identity.h"
#include "server_support.h"

namespace sv = sila2::org::silastandard::core::silaservice::v1;

namespace {

const std::string kService = kSiLAServiceFeature;
const std::string kNameParameter = kService + "/Command/SetServerName/Parameter/ServerName";

std::string ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

std::string Uuid(sv::SiLAService::Stub& stub) {
    grpc::ClientContext context;
    sv::Get_ServerUUID_Responses uuid;
    EXPECT_TRUE(stub.Get_ServerUUID(&context, {}, &uuid).ok());
    return uuid.serveruuid().value();
}

std::string Name(sv::SiLAService::Stub& stub) {
    grpc::ClientContext context;
    sv::Get_ServerName_Responses name;
    EXPECT_TRUE(stub.Get_ServerName(&context, {}, &name).ok());
    return name.servername().value();
}

grpc::Status Rename(sv::SiLAService::Stub& stub, const std::string& name) {
    grpc::ClientContext context;
    sv::SetServerName_Parameters request;
    request.mutable_servername()->set_value(name);
    sv::SetServerName_Responses response;
    return stub.SetServerName(&context, request, &response);
}

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

X509Ptr ParseCertificate(const std::string& pem) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509Ptr cert(PEM_read_bio_X509(bio, nullptr, nullptr, nullptr), &X509_free);
    BIO_free(bio);
    return cert;
}

std::string Hex(const std::string& bytes) {
    return QByteArray::fromStdString(bytes).toHex().toStdString();
}

std::string Repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

}  // namespace

// A client that knows only the standard finds every feature, gets definitions it can check
// against the schema, and gets the standard's error shapes.
TEST(SiLAService, AnswersAsTheStandardAsks) {
    CServerProcess server;
    ASSERT_TRUE(server.Start("simulator", {"--insecure"}, false)) << server.Output();
    auto stub = sv::SiLAService::NewStub(server.InsecureChannel());

    grpc::ClientContext featuresContext;
    sv::Get_ImplementedFeatures_Responses features;
    ASSERT_TRUE(stub->Get_ImplementedFeatures(&featuresContext, {}, &features).ok());
    std::vector<std::string> ids;
    for (const auto& id : features.implementedfeatures())
        ids.push_back(id.value());
    std::vector<std::string> expected = {
        kSiLAServiceFeature,          kShakingControllerFeature, kAuthenticationServiceFeature,
        kAuthorizationServiceFeature, kLockControllerFeature,    kCancelControllerFeature,
        kSimulationControllerFeature};
    std::sort(ids.begin(), ids.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ids, expected);

    for (const auto& id : ids) {
        grpc::ClientContext context;
        sv::GetFeatureDefinition_Parameters request;
        request.mutable_featureidentifier()->set_value(id);
        sv::GetFeatureDefinition_Responses definition;
        ASSERT_TRUE(stub->GetFeatureDefinition(&context, request, &definition).ok()) << id;
        const std::string& xml = definition.featuredefinition().value();
        EXPECT_EQ(SchemaErrors(xml), "") << id;
        const QString identifier = QString::fromStdString(id).split('/').at(2);
        EXPECT_NE(xml.find("<Identifier>" + identifier.toStdString() + "</Identifier>"),
                  std::string::npos)
            << id;
    }

    grpc::ClientContext unknownContext;
    sv::GetFeatureDefinition_Parameters unknown;
    unknown.mutable_featureidentifier()->set_value("org.velmora/instruments/Incubator/v1");
    sv::GetFeatureDefinition_Responses none;
    sila2::org::silastandard::SiLAError error;
    ASSERT_TRUE(
        DecodeSiLAError(stub->GetFeatureDefinition(&unknownContext, unknown, &none), error));
    EXPECT_EQ(error.definedexecutionerror().erroridentifier(),
              kService + "/DefinedExecutionError/UnimplementedFeature");

    grpc::ClientContext typeContext;
    sv::Get_ServerType_Responses type;
    ASSERT_TRUE(stub->Get_ServerType(&typeContext, {}, &type).ok());
    EXPECT_TRUE(QRegularExpression("^[A-Z][a-zA-Z0-9]*$")
                    .match(QString::fromStdString(type.servertype().value()))
                    .hasMatch())
        << type.servertype().value();
    grpc::ClientContext versionContext;
    sv::Get_ServerVersion_Responses version;
    ASSERT_TRUE(stub->Get_ServerVersion(&versionContext, {}, &version).ok());
    EXPECT_TRUE(QRegularExpression("^(0|[1-9][0-9]*)\\.(0|[1-9][0-9]*)(\\.(0|[1-9][0-9]*))?$")
                    .match(QString::fromStdString(version.serverversion().value()))
                    .hasMatch());

    EXPECT_EQ(server.Terminate(), 0);
}

// Without --insecure the server makes its certificate once, with its UUID in it; a client that
// trusts that certificate talks to it, the UUID, certificate and name survive a restart.
TEST(SiLAService, SelfMadeCertificateAndIdentityAreKept) {
    CServerProcess server;
    ASSERT_TRUE(server.Start("simulator", {}, false)) << server.Output();
    const std::string certificate = ReadAll(server.DataFolder() + "/certificate.pem");
    ASSERT_FALSE(certificate.empty());

    grpc::SslCredentialsOptions trust;
    trust.pem_root_certs = certificate;
    auto stub =
        sv::SiLAService::NewStub(grpc::CreateChannel(server.Target(), grpc::SslCredentials(trust)));
    const std::string uuid = Uuid(*stub);
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$")
                    .match(QString::fromStdString(uuid))
                    .hasMatch())
        << uuid;
    EXPECT_EQ(UuidOfCertificate(certificate), uuid);

    grpc::ClientContext renameContext;
    sv::SetServerName_Parameters rename;
    rename.mutable_servername()->set_value("Shaker by the window");
    sv::SetServerName_Responses renamed;
    ASSERT_TRUE(stub->SetServerName(&renameContext, rename, &renamed).ok());

    // A client without TLS gets nowhere.
    auto plain = sv::SiLAService::NewStub(server.InsecureChannel());
    grpc::ClientContext plainContext;
    plainContext.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(5));
    sv::Get_ServerUUID_Responses ignored;
    EXPECT_FALSE(plain->Get_ServerUUID(&plainContext, {}, &ignored).ok());
    EXPECT_EQ(server.Terminate(), 0);

    CServerProcess again;
    again.ShareFoldersWith(server);
    ASSERT_TRUE(again.Start("simulator", {}, false)) << again.Output();
    EXPECT_EQ(ReadAll(again.DataFolder() + "/certificate.pem"), certificate);
    auto stubAgain =
        sv::SiLAService::NewStub(grpc::CreateChannel(again.Target(), grpc::SslCredentials(trust)));
    EXPECT_EQ(Uuid(*stubAgain), uuid);
    EXPECT_EQ(Name(*stubAgain), "Shaker by the window");
    EXPECT_EQ(again.Terminate(), 0);
}

// What a client sends can't forge a log line or swell an answer, and a name's length is
// counted in characters.
TEST(SiLAService, ClientTextIsCheckedAndKeptSmall) {
    CServerProcess server;
    ASSERT_TRUE(server.Start("simulator", {"--insecure"}, false)) << server.Output();
    auto stub = sv::SiLAService::NewStub(server.InsecureChannel());
    sila2::org::silastandard::SiLAError error;

    ASSERT_TRUE(
        DecodeSiLAError(Rename(*stub, "Shaker\nvelmora-server: run ended: forged\x1b[1A"), error));
    EXPECT_EQ(error.validationerror().parameter(), kNameParameter);
    const std::string e255 = Repeated("é", 255);
    EXPECT_TRUE(Rename(*stub, e255).ok());
    ASSERT_TRUE(DecodeSiLAError(Rename(*stub, e255 + "é"), error));
    EXPECT_EQ(error.validationerror().parameter(), kNameParameter);
    EXPECT_EQ(Name(*stub), e255);

    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(60));
    sv::GetFeatureDefinition_Parameters huge;
    huge.mutable_featureidentifier()->set_value(std::string(3 << 20, 'x'));
    sv::GetFeatureDefinition_Responses none;
    ASSERT_TRUE(DecodeSiLAError(stub->GetFeatureDefinition(&context, huge, &none), error));
    EXPECT_EQ(error.definedexecutionerror().erroridentifier(),
              kService + "/DefinedExecutionError/UnimplementedFeature");
    EXPECT_LT(error.definedexecutionerror().message().size(), 300u);

    EXPECT_EQ(server.Terminate(), 0);
    const std::string log = server.Output();
    EXPECT_NE(log.find("Shaker\\x0Avelmora-server: run ended: forged\\x1B[1A"), std::string::npos)
        << log;
    EXPECT_EQ(log.find("\nvelmora-server: run ended: forged"), std::string::npos);
    EXPECT_EQ(log.find('\x1b'), std::string::npos);
    EXPECT_LT(log.size(), 64u * 1024);
}

// A certificate an older version made (RSA, too big to announce) is made again as EC, for the
// same server UUID and with the machine's names.
TEST(SiLAService, AnRsaCertificateIsReplacedKeepingTheUuid) {
    CServerProcess server;
    const QString folder = server.DataFolder();
    ASSERT_TRUE(QDir().mkpath(folder));
    const std::string uuid = "0f6a2d1e-3b4c-4d5e-8f70-112233445566";
    QFile uuidFile(folder + "/uuid");
    ASSERT_TRUE(uuidFile.open(QIODevice::WriteOnly));
    uuidFile.write(QByteArray::fromStdString(uuid + "\n"));
    uuidFile.close();
    QProcess openssl;
    openssl.start(
        "openssl",
        {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", folder + "/key.pem", "-out",
         folder + "/certificate.pem", "-days", "30", "-subj", "/CN=SiLA2", "-addext",
         QString::fromStdString(kServerUuidOid + std::string("=DER:") + Hex(uuid))});
    ASSERT_TRUE(openssl.waitForFinished(60000));
    ASSERT_EQ(openssl.exitCode(), 0) << openssl.readAllStandardError().toStdString();
    ASSERT_EQ(UuidOfCertificate(ReadAll(folder + "/certificate.pem")), uuid);

    ASSERT_TRUE(server.Start("simulator", {}, false)) << server.Output();
    EXPECT_NE(server.Output().find("replaced the RSA certificate"), std::string::npos);
    const std::string certificate = ReadAll(folder + "/certificate.pem");
    const X509Ptr cert = ParseCertificate(certificate);
    ASSERT_TRUE(cert);
    EXPECT_EQ(EVP_PKEY_get_base_id(X509_get0_pubkey(cert.get())), EVP_PKEY_EC);
    EXPECT_EQ(X509_get_signature_nid(cert.get()), NID_ecdsa_with_SHA256);
    EXPECT_EQ(UuidOfCertificate(certificate), uuid);
    for (const std::string& name : {std::string("SiLA2"), std::string("localhost"), HostName()})
        EXPECT_EQ(X509_check_host(cert.get(), name.data(), name.size(), 0, nullptr), 1) << name;
    EXPECT_EQ(X509_check_ip_asc(cert.get(), "127.0.0.1", 0), 1);

    grpc::SslCredentialsOptions trust;
    trust.pem_root_certs = certificate;
    auto stub =
        sv::SiLAService::NewStub(grpc::CreateChannel(server.Target(), grpc::SslCredentials(trust)));
    EXPECT_EQ(Uuid(*stub), uuid);
    EXPECT_EQ(server.Terminate(), 0);
}
