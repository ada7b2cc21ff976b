#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CAccessControl;
class CShakerBackend;

// The live view of the shaker for browsers: one page, the state as JSON, the run's samples as
// they come (Server-Sent Events, one event per sample), the last runs' journals, Prometheus
// metrics, and Start and Stop for a user logged in with the server's users. It serves on a
// thread of its own, so that a browser never waits for the engine and a password check or a
// journal read never stalls a run.
class CWebView {
  public:
    struct Options {
        std::string host;  // an address, or "localhost"
        std::uint16_t port = 0;
        std::string certificatePem, keyPem;  // both empty: plain HTTP
    };

    // On the engine's thread; the backend and the access control outlive the view.
    CWebView(CShakerBackend& backend, CAccessControl& access);
    ~CWebView();
    CWebView(const CWebView&) = delete;
    CWebView& operator=(const CWebView&) = delete;

    // On the engine's thread: starts serving; the port bound, or 0 and `error` says why.
    std::uint16_t Start(const Options& options, std::string& error);
    // On the engine's thread: the event streams end and nothing more is served.
    void Stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
