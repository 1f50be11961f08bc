#include "test_support.h"

#include <QFile>

#include <gtest/gtest.h>
#include <malloc.h>
#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>


namespace testsupport {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(bytes);
    return path;
}

std::shared_ptr<treelark::DOMDocument> parsed(const QByteArray& text)
{
    auto doc = treelark::DOMDocument::create();
    doc->setValidateOnParse(false);
    EXPECT_TRUE(doc->loadXML(text)) << doc->parseError().reason.toStdString();
    return doc;
}

qint64 heapInUse()
{
#if defined(__SANITIZE_ADDRESS__)
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    return qint64(mallinfo2().uordblks);
#endif
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

LoopbackHttpServer::LoopbackHttpServer()
{
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    ::listen(m_listen, 16);
    m_thread = std::thread([this] { run(); });
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    m_stop = true;
    m_thread.join();
    ::close(m_listen);
}

void LoopbackHttpServer::serve(const QByteArray& path, const QByteArray& body)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bodies[path] = body;
}

QString LoopbackHttpServer::url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

void LoopbackHttpServer::run()
{
    while (!m_stop) {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        int c = ::accept(m_listen, nullptr, nullptr);
        if (c < 0)
            continue;
        ++m_connections;
        QByteArray request;
        char buf[4096];
        while (!request.contains("\r\n\r\n")) {
            pollfd q{c, POLLIN, 0};
            if (::poll(&q, 1, 2000) <= 0)
                break;
            ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            request.append(buf, n);
        }
        const QList<QByteArray> words = request.split(' ');
        const QByteArray path = words.size() > 1 ? words[1] : QByteArray();
        QByteArray body;
        bool found;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            found = m_bodies.contains(path);
            body = m_bodies.value(path);
        }
        QByteArray response = found ? QByteArray("HTTP/1.0 200 OK\r\n") : QByteArray("HTTP/1.0 404 Not Found\r\n");
        response += "Content-Type: text/xml\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\nConnection: close\r\n\r\n" + body;
        qsizetype sent = 0;
        while (sent < response.size()) {
            ssize_t n = ::send(c, response.constData() + sent, size_t(response.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        ::close(c);
    }
}

} // namespace testsupport
