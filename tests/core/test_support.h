// Helpers shared by the core tests: scratch folders and a loopback HTTP server.
#pragma once

#include "treelark/dom.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <mutex>
#include <thread>

namespace testsupport {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes);
// A document read from text, with validation off; the test fails if it does not parse.
std::shared_ptr<treelark::DOMDocument> parsed(const QByteArray& text);
// Bytes of the heap in use now (the sanitizer's count when it runs).
qint64 heapInUse();
QByteArray readFile(const QString& path);

// Serves fixed bodies on 127.0.0.1 from a thread; counts every connection it accepts.
class LoopbackHttpServer {
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();
    void serve(const QByteArray& path, const QByteArray& body);
    QString url(const QString& path) const;
    int connections() const { return m_connections.load(); }
    int port() const { return m_port; }

private:
    void run();
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::mutex m_mutex;
    QMap<QByteArray, QByteArray> m_bodies;
    std::thread m_thread;
};

} // namespace testsupport
