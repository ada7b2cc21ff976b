#pragma once

#include <grpcpp/grpcpp.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "SiLAFramework.pb.h"

// The real velmora-server as a child process, with its own data and state folders, serving on
// a port of its choice on localhost.
class CServerProcess {
  public:
    CServerProcess();
    ~CServerProcess();  // kills a server still running

    // Starts `velmora-server --port <port> --listen 127.0.0.1:0 --no-discovery <extra>` and
    // waits until it says where it listens and, unless `waitForInstrument` is false, until it
    // has identified the instrument or failed to. False (and Output() says why) otherwise.
    bool Start(const std::string& port, const QStringList& extra = {"--insecure"},
               bool waitForInstrument = true);
    // Waits until standard error holds `text`; false at the deadline or the server's exit.
    bool WaitForOutput(const std::string& text, int waitMs = 30000);
    // `velmora-server --add-user NAME --password-stdin` in this server's folders; true when it
    // exited with 0.
    bool AddUser(const std::string& name, const std::string& password);
    int Port() const { return m_port; }
    std::string Target() const { return "127.0.0.1:" + std::to_string(m_port); }
    std::shared_ptr<grpc::Channel> InsecureChannel() const;

    // SIGTERM, then waits for the exit; the exit code, or -1 if it didn't exit normally.
    int Terminate(int waitMs = 20000);
    // The two halves of Terminate, for a test that watches the server meanwhile.
    void SignalTerminate();
    int WaitForExit(int waitMs = 20000);
    // SIGKILL, as a crash ends it: nothing is stopped or closed in order.
    void Kill();
    // Everything the server wrote on standard error so far.
    std::string Output();

    QString DataFolder() const { return m_dataPath + "/velmora/server"; }
    QString JournalFolder() const { return m_dataPath + "/velmora/runs"; }
    QString ConfigFolder() const { return m_dataPath + "/config"; }
    // Reuse another server's folders (a restart).
    void ShareFoldersWith(const CServerProcess& other);

  private:
    QProcessEnvironment Environment() const;

    QTemporaryDir m_data;
    QTemporaryDir m_state;
    QString m_dataPath, m_statePath;
    QProcess m_process;
    std::string m_output;
    int m_port = 0;
};

// Polls `done` every 20 ms for at most `limitMs`; its last verdict.
template <typename Done>
bool WaitUntil(Done done, int limitMs = 10000) {
    const QDeadlineTimer deadline(limitMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The SiLAError a failed call carries; false if the status is not of that shape.
bool DecodeSiLAError(const grpc::Status& status, sila2::org::silastandard::SiLAError& error);

// xmllint's verdict on `xml` against the feature definition schema: empty when it validates.
std::string SchemaErrors(const std::string& xml);
