#pragma once

#include <QHttpServer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/shaker_backend.h"
#include "server/web_events.h"
#include "server/web_view.h"

class QTcpSocket;

// The web view's half on its own thread: the HTTP server, its routes, the open event streams
// and the samples of the run in progress. Everything here runs on that thread.
class CWebSide : public QObject {
  public:
    CWebSide(CShakerBackend& backend, CAccessControl& access, std::string journalFolder);

    std::uint16_t Listen(const CWebView::Options& options, std::string& error);
    // The backend's state changed; `sample` is the run's new sample when that was the change.
    void Changed(const std::optional<CShakerBackend::RunSample>& sample);
    void Close();

  private:
    void Route();
    // With the run's samples so far, or without (the state events).
    QByteArray StateDocument(bool withSeries) const;
    QByteArray RunsDocument() const;
    // The user of the request's bearer token, when it names a logged-in user.
    std::optional<std::string> User(const QHttpServerRequest& request) const;
    void StartRun(const QHttpServerRequest& request, QTcpSocket* socket);
    void StopRun(const QHttpServerRequest& request, QTcpSocket* socket);

    CShakerBackend& m_backend;
    CAccessControl& m_access;
    const std::string m_journalFolder;
    QHttpServer m_http;
    CWebEvents m_events;
    std::vector<CShakerBackend::RunSample> m_samples;
    // Changes of the state come in bursts (speed, time, sample): one state event for each.
    QTimer m_stateEvent;
    QByteArray m_lastState;  // the last state event sent
};
