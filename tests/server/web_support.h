#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QWebSocket>
#include <map>

#include "server_support.h"

struct HttpReply {
    int status = 0;  // 0: no answer
    QByteArray body;
    QByteArray contentType;
};
// A request, waited for at most 30 s.
HttpReply HttpGet(const QString& url);
HttpReply HttpPost(const QString& url, const QJsonObject& body, const QString& token = {});
// http://127.0.0.1:PORT of the server's web view, from its log; empty when it has none.
QString WebViewBase(CServerProcess& server);

// Debian's chromium, headless, driven through the DevTools protocol: one page, with its
// console errors, failed loads and uncaught exceptions collected.
class CHeadlessBrowser {
  public:
    ~CHeadlessBrowser();
    bool Start();  // false: Error() says why
    bool Open(const QString& url);
    QJsonValue Evaluate(const QString& expression);
    bool SetViewport(int width, int height);
    bool Screenshot(const QString& path);
    QStringList Errors() const { return m_errors; }
    QString Error() const { return m_error; }

  private:
    // The result of a DevTools call; empty with Error() set when it failed or timed out.
    QJsonObject Call(const QString& method, const QJsonObject& params = {});
    void Received(const QString& message);

    QTemporaryDir m_profile;
    QProcess m_chromium;
    QWebSocket m_socket;
    int m_lastId = 0;
    std::map<int, QJsonObject> m_replies;
    QStringList m_errors;
    QString m_error;
};
