#include "server/web_events.h"

#include <QHttpServerResponder>
#include <algorithm>

#include "server/web_headers.h"

bool CWebEvents::Open(QHttpServerResponder& responder, const QByteArray& first) {
    Forget();
    QTcpSocket* socket = responder.socket();
    if (m_streams.size() >= kMaxStreams || !socket)
        return false;
    QByteArray head =
        "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
        "Cache-Control: no-store\r\n";
    for (const auto& [name, value] : WebSecurityHeaders())
        head += name + ": " + value + "\r\n";
    socket->write(head + "\r\n" + first);
    m_streams.emplace_back(socket);
    return true;
}

void CWebEvents::Send(const char* name, const QByteArray& data) {
    Forget();
    const QByteArray event = Event(name, data);
    for (const QPointer<QTcpSocket>& socket : m_streams) {
        // A browser that reads nothing (a tab asleep) is dropped before its backlog grows.
        if (socket->bytesToWrite() > (1 << 20))
            socket->abort();
        else
            socket->write(event);
    }
}

void CWebEvents::CloseAll() {
    for (const QPointer<QTcpSocket>& socket : m_streams) {
        if (socket) {
            socket->flush();
            socket->disconnectFromHost();
        }
    }
    m_streams.clear();
}

std::size_t CWebEvents::Count() {
    Forget();
    return m_streams.size();
}

QByteArray CWebEvents::Event(const char* name, const QByteArray& data) {
    return QByteArray("event: ") + name + "\ndata: " + data + "\n\n";
}

void CWebEvents::Forget() {
    m_streams.erase(std::remove_if(m_streams.begin(), m_streams.end(),
                                   [](const QPointer<QTcpSocket>& socket) {
                                       return !socket ||
                                              socket->state() != QAbstractSocket::ConnectedState;
                                   }),
                    m_streams.end());
}
