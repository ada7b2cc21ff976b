#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>

#include "SiLAService.grpc.pb.h"
#include "server/server_identity.h"
#include "server_support.h"

namespace sv = sila2::org::silastandard::core::silaservice::v1;

namespace {

const char* kService = "org.silastandard/core/SiLAService/v1";
const char* kShaking = "org.velmora/instruments/ShakingController/v1";

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

}  // namespace

// A client that knows only the standard finds both features, gets definitions it can check
// against the schema, and gets the standard's error shapes.
TEST(SiLAService, AnswersAsTheStandardAsks) {
    CServerProcess server;
    ASSERT_TRUE(server.Start("simulator")) << server.Output();
    auto stub = sv::SiLAService::NewStub(server.InsecureChannel());

    grpc::ClientContext featuresContext;
    sv::Get_ImplementedFeatures_Responses features;
    ASSERT_TRUE(stub->Get_ImplementedFeatures(&featuresContext, {}, &features).ok());
    std::vector<std::string> ids;
    for (const auto& id : features.implementedfeatures())
        ids.push_back(id.value());
    EXPECT_EQ(ids, (std::vector<std::string>{kService, kShaking}));

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
              std::string(kService) + "/DefinedExecutionError/UnimplementedFeature");

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

    grpc::ClientContext longContext;
    sv::SetServerName_Parameters longName;
    longName.mutable_servername()->set_value(std::string(256, 'x'));
    sv::SetServerName_Responses nothing;
    ASSERT_TRUE(DecodeSiLAError(stub->SetServerName(&longContext, longName, &nothing), error));
    EXPECT_EQ(error.validationerror().parameter(),
              std::string(kService) + "/Command/SetServerName/Parameter/ServerName");
    EXPECT_EQ(server.Terminate(), 0);
}

// Without --insecure the server makes its certificate once, with its UUID in it; a client that
// trusts that certificate talks to it, the UUID, certificate and name survive a restart.
TEST(SiLAService, SelfMadeCertificateAndIdentityAreKept) {
    CServerProcess server;
    ASSERT_TRUE(server.Start("simulator", {})) << server.Output();
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
    ASSERT_TRUE(again.Start("simulator", {})) << again.Output();
    EXPECT_EQ(ReadAll(again.DataFolder() + "/certificate.pem"), certificate);
    auto stubAgain =
        sv::SiLAService::NewStub(grpc::CreateChannel(again.Target(), grpc::SslCredentials(trust)));
    EXPECT_EQ(Uuid(*stubAgain), uuid);
    EXPECT_EQ(Name(*stubAgain), "Shaker by the window");
    EXPECT_EQ(again.Terminate(), 0);
}
