#pragma once

#include <QByteArray>
#include <QPointer>
#include <QTcpSocket>
#include <cstddef>
#include <vector>

class QHttpServerResponder;

// The web view's open event streams (Server-Sent Events), on its thread. The connection of a
// request to /events is kept and written to at each event; a browser that went is dropped.
class CWebEvents {
  public:
    static constexpr std::size_t kMaxStreams = 64;

    // Answers the request with the stream's headers and `first` event and keeps its
    // connection; false (nothing written) when kMaxStreams are open.
    bool Open(QHttpServerResponder& responder, const QByteArray& first);
    // "event: NAME" and one data line to every stream.
    void Send(const char* name, const QByteArray& data);
    // Closes every stream.
    void CloseAll();
    std::size_t Count();

    // One event as it goes on the stream: data holds no line break (compact JSON).
    static QByteArray Event(const char* name, const QByteArray& data);

  private:
    void Forget();

    std::vector<QPointer<QTcpSocket>> m_streams;
};
