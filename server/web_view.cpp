#include "server/web_view.h"

#include <QPointer>
#include <QThread>

#include "server/shaker_backend.h"
#include "server/web_side.h"

struct CWebView::Impl {
    Impl(CShakerBackend& backend, CAccessControl& access) : backend(backend), access(access) {}

    CShakerBackend& backend;
    CAccessControl& access;
    QThread thread;
    // Lives on the web thread, for the calls made there before and after the side exists.
    std::unique_ptr<QObject> anchor;
    // Written on the web thread only while the engine's thread waits for it (Start, Stop);
    // read on the engine's thread.
    QPointer<CWebSide> side;
};

CWebView::CWebView(CShakerBackend& backend, CAccessControl& access)
    : m_impl(std::make_unique<Impl>(backend, access)) {}

CWebView::~CWebView() {
    Stop();
}

std::uint16_t CWebView::Start(const Options& options, std::string& error) {
    Impl& d = *m_impl;
    const std::string journals = d.backend.JournalFolder();
    d.thread.setObjectName("web view");
    d.thread.start();
    d.anchor = std::make_unique<QObject>();
    d.anchor->moveToThread(&d.thread);
    std::uint16_t port = 0;
    // The side is made on its thread, so that its server and sockets belong there.
    QMetaObject::invokeMethod(
        d.anchor.get(),
        [&] {
            d.side = new CWebSide(d.backend, d.access, journals);
            port = d.side->Listen(options, error);
        },
        Qt::BlockingQueuedConnection);
    if (port == 0) {
        Stop();
        return 0;
    }
    d.backend.SetListener([&d](const std::optional<CShakerBackend::RunSample>& sample) {
        if (CWebSide* side = d.side)
            QMetaObject::invokeMethod(
                side, [side, sample] { side->Changed(sample); }, Qt::QueuedConnection);
    });
    return port;
}

void CWebView::Stop() {
    Impl& d = *m_impl;
    d.backend.SetListener(nullptr);
    if (!d.thread.isRunning())
        return;
    QMetaObject::invokeMethod(
        d.anchor.get(),
        [&d] {
            if (d.side) {
                d.side->Close();
                delete d.side.data();
            }
        },
        Qt::BlockingQueuedConnection);
    d.thread.quit();
    d.thread.wait();
    d.anchor.reset();
}
