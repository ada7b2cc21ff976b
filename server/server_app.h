#pragma once

#include <memory>
#include <string>

// The whole server: the instrument's engine, the gRPC server with both features, the
// announcement, and the orderly end on SIGTERM or SIGINT. Runs on the thread of the
// QCoreApplication, which is the engine's thread.
class CServerApp {
  public:
    struct Options {
        std::string port;  // a device path, "COMn", or "simulator"
        int baud = 9600;
        // Where to serve; empty: 0.0.0.0:50052 with users, 127.0.0.1:50052 without. Without
        // users any other address is refused unless `noAuth` says the network is closed.
        std::string listen;
        bool noAuth = false;
        std::string name;  // empty: the name last set, else the default
        bool insecure = false;
        std::string certFile, keyFile;  // both or neither
        bool discovery = true;
        // Seconds a run's link may stay down before the run is given up; 0: never.
        int reconnectTimeoutS = 0;
        // Where runs' starts, ends and alarms are posted; empty: the configuration's, if any.
        std::string notify;
        // Where the web view serves (HOST:PORT, or PORT for 127.0.0.1); empty: no web view.
        std::string http;
    };

    explicit CServerApp(Options options);
    ~CServerApp();

    // Serves until SIGTERM or SIGINT; the process's exit code.
    int Run();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
