#include "platform/web/engine/ConnectToProxy.h"

#include <QCoreApplication>
#include <QNetworkProxy>
#include <QPointer>
#include <QTcpSocket>
#include <QUrl>

namespace platform::web {

namespace {

// A request head larger than this is not a proxy request of the engine's.
constexpr qsizetype kMaxHeadBytes = 16 * 1024;

// One client connection: its head read, then bytes relayed both ways until either side ends.
class ProxyConnection : public QObject {
public:
    ProxyConnection(QTcpSocket* client, WebEngine::Host* host) : QObject(client), m_client(client), m_host(host)
    {
        connect(client, &QTcpSocket::readyRead, this, [this] { clientReadable(); });
        connect(client, &QTcpSocket::disconnected, this, [this] {
            finish();
            m_client->deleteLater();
        });
    }

private:
    void clientReadable()
    {
        if (m_upstream) {
            if (m_tunnelOpen)
                m_upstream->write(m_client->readAll());
            return;
        }
        m_head += m_client->readAll();
        const qsizetype end = m_head.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_head.size() > kMaxHeadBytes)
                refuse("431 Request Header Fields Too Large");
            return;
        }
        open(end + 4);
    }

    void open(qsizetype headLength)
    {
        const QByteArray head = m_head.left(headLength);
        m_pending = m_head.mid(headLength);
        const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
        if (requestLine.size() != 3) {
            refuse("400 Bad Request");
            return;
        }
        QString host;
        int port = -1;
        m_isConnect = requestLine.at(0) == "CONNECT";
        if (m_isConnect) {
            const QUrl authority(QStringLiteral("//") + QString::fromLatin1(requestLine.at(1)));
            host = authority.host().toLower();
            port = authority.port();
        } else {
            const QUrl url(QString::fromLatin1(requestLine.at(1)));
            if (url.scheme() != QLatin1String("http") || url.host().isEmpty()) {
                refuse("400 Bad Request");
                return;
            }
            host = url.host().toLower();
            port = url.port(80);
            m_pending.prepend(originFormHead(head, url));
        }
        if (host.isEmpty() || port <= 0) {
            refuse("400 Bad Request");
            return;
        }
        const std::optional<std::pair<QString, int>> target = m_host->connectTarget(host, port);
        if (!target) {
            refuse("403 Forbidden");
            return;
        }
        m_upstream = new QTcpSocket(this);
        connect(m_upstream, &QTcpSocket::connected, this, [this] { upstreamConnected(); });
        connect(m_upstream, &QTcpSocket::readyRead, this, [this] { m_client->write(m_upstream->readAll()); });
        connect(m_upstream, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
            if (!m_tunnelOpen)
                refuse("502 Bad Gateway");
            else
                finish();
        });
        connect(m_upstream, &QTcpSocket::disconnected, this, [this] { finish(); });
        m_upstream->connectToHost(target->first, quint16(target->second));
    }

    void upstreamConnected()
    {
        m_tunnelOpen = true;
        if (m_isConnect)
            m_client->write("HTTP/1.1 200 Connection established\r\n\r\n");
        m_upstream->write(m_pending);
        m_pending.clear();
        if (m_client->bytesAvailable() > 0)
            m_upstream->write(m_client->readAll());
    }

    // A plain request in the form a server takes, asking it to close after its answer, so the
    // engine never sends a request for another host down this connection.
    static QByteArray originFormHead(const QByteArray& head, const QUrl& url)
    {
        QList<QByteArray> lines = head.left(head.size() - 4).split('\n');
        const QList<QByteArray> requestLine = lines.takeFirst().trimmed().split(' ');
        QByteArray path = url.path(QUrl::FullyEncoded).toLatin1();
        if (path.isEmpty())
            path = "/";
        if (url.hasQuery())
            path += '?' + url.query(QUrl::FullyEncoded).toLatin1();
        QByteArray out = requestLine.at(0) + ' ' + path + ' ' + requestLine.at(2) + "\r\n";
        for (QByteArray line : lines) {
            line = line.trimmed();
            const QByteArray name = line.left(line.indexOf(':')).trimmed().toLower();
            if (name == "connection" || name == "proxy-connection" || name == "keep-alive")
                continue;
            out += line + "\r\n";
        }
        return out + "Connection: close\r\n\r\n";
    }

    void refuse(const QByteArray& status)
    {
        if (m_finished)
            return;
        m_client->write("HTTP/1.1 " + status + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        finish();
    }

    void finish()
    {
        if (m_finished)
            return;
        m_finished = true;
        if (m_upstream) {
            if (m_upstream->bytesAvailable() > 0)
                m_client->write(m_upstream->readAll());
            m_upstream->disconnectFromHost();
        }
        // Goes once what was written has left: the socket is deleted when it disconnects.
        m_client->disconnectFromHost();
        if (m_client->state() == QAbstractSocket::UnconnectedState)
            m_client->deleteLater();
    }

    QTcpSocket* m_client;
    WebEngine::Host* m_host;
    QTcpSocket* m_upstream = nullptr;
    QByteArray m_head;
    QByteArray m_pending;
    bool m_isConnect = false;
    bool m_tunnelOpen = false;
    bool m_finished = false;
};

} // namespace

ConnectToProxy::ConnectToProxy(WebEngine::Host* host)
    : QObject(QCoreApplication::instance())
    , m_host(host)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
}

void ConnectToProxy::installIfNeeded(WebEngine::Host* host)
{
    static QPointer<ConnectToProxy> installed;
    if (installed || !host->hasConnectToEntries())
        return;
    auto* proxy = new ConnectToProxy(host);
    if (!proxy->m_server.listen(QHostAddress::LocalHost, 0)) {
        qWarning("[Korvane] web-proxy-listen-failed");
        delete proxy;
        return;
    }
    installed = proxy;
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), proxy->m_server.serverPort()));
}

void ConnectToProxy::accept()
{
    while (QTcpSocket* client = m_server.nextPendingConnection())
        new ProxyConnection(client, m_host);
}

} // namespace platform::web
