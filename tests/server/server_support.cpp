#include "server_support.h"

#include <signal.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

#include "server/sila_error.h"

CServerProcess::CServerProcess() : m_dataPath(m_data.path()), m_statePath(m_state.path()) {}

CServerProcess::~CServerProcess() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void CServerProcess::ShareFoldersWith(const CServerProcess& other) {
    m_dataPath = other.m_dataPath;
    m_statePath = other.m_statePath;
}

QProcessEnvironment CServerProcess::Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", m_dataPath);
    env.insert("XDG_STATE_HOME", m_statePath);
    env.insert("XDG_CONFIG_HOME", ConfigFolder());
    return env;
}

bool CServerProcess::AddUser(const std::string& name, const std::string& password) {
    QProcess add;
    add.setProcessEnvironment(Environment());
    add.start(VELMORA_SERVER_EXE, {"--add-user", QString::fromStdString(name), "--password-stdin"});
    if (!add.waitForStarted(5000))
        return false;
    add.write(QByteArray::fromStdString(password + "\n"));
    add.closeWriteChannel();
    add.waitForFinished(30000);
    return add.exitStatus() == QProcess::NormalExit && add.exitCode() == 0;
}

bool CServerProcess::WaitForOutput(const std::string& text, int waitMs) {
    const QDeadlineTimer deadline(waitMs);
    while (Output().find(text) == std::string::npos) {
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return Output().find(text) != std::string::npos;
        m_process.waitForReadyRead(200);
    }
    return true;
}

bool CServerProcess::Start(const std::string& port, const QStringList& extra,
                           bool waitForInstrument) {
    const QString program = VELMORA_SERVER_EXE;
    m_process.setProcessEnvironment(Environment());
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    QStringList args = {"--port", QString::fromStdString(port), "--listen", "127.0.0.1:0",
                        "--no-discovery"};
    args += extra;
    m_process.start(program, args);
    if (!m_process.waitForStarted(5000)) {
        m_output = "can't start " + program.toStdString();
        return false;
    }
    static const QRegularExpression listening("listening on 127\\.0\\.0\\.1:(\\d+)");
    const QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        const auto match = listening.match(QString::fromStdString(Output()));
        if (match.hasMatch()) {
            m_port = match.captured(1).toInt();
            if (!waitForInstrument)
                return true;
            // The engine names the instrument it found, or says it found none.
            while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
                const std::string output = Output();
                if (output.find("velmora-server: instrument ") != std::string::npos ||
                    output.find("failed to connect the instrument") != std::string::npos)
                    return true;
                m_process.waitForReadyRead(200);
            }
            return false;
        }
        if (m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(200);
    }
    return false;
}

std::shared_ptr<grpc::Channel> CServerProcess::InsecureChannel() const {
    return grpc::CreateChannel(Target(), grpc::InsecureChannelCredentials());
}

int CServerProcess::Terminate(int waitMs) {
    if (m_process.state() == QProcess::NotRunning)
        return -1;
    kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
    if (!m_process.waitForFinished(waitMs))
        return -1;
    Output();
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

void CServerProcess::SignalTerminate() {
    if (m_process.state() != QProcess::NotRunning)
        kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
}

int CServerProcess::WaitForExit(int waitMs) {
    if (!m_process.waitForFinished(waitMs))
        return -1;
    Output();
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

void CServerProcess::Kill() {
    m_process.kill();
    m_process.waitForFinished(10000);
    Output();
}

std::string CServerProcess::Output() {
    m_output += m_process.readAllStandardError().toStdString();
    return m_output;
}

bool DecodeSiLAError(const grpc::Status& status, sila2::org::silastandard::SiLAError& error) {
    return sila_error::Decode(status, error);
}

std::string SchemaErrors(const std::string& xml) {
    QProcess lint;
    lint.start("xmllint", {"--noout", "--schema", VELMORA_SILA_SCHEMA, "-"});
    if (!lint.waitForStarted(5000))
        return "xmllint can't be started";
    lint.write(xml.data(), static_cast<qint64>(xml.size()));
    lint.closeWriteChannel();
    lint.waitForFinished(10000);
    if (lint.exitStatus() == QProcess::NormalExit && lint.exitCode() == 0)
        return {};
    return lint.readAllStandardError().toStdString() + "(exit " + std::to_string(lint.exitCode()) +
           ")";
}
