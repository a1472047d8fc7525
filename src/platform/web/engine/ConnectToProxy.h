#pragma once

#include "platform/web/WebEngine.h"

#include <QObject>
#include <QTcpServer>

namespace platform::web {

// The web engine resolves and connects by itself, so the connect-to seam reaches it as a
// proxy of ours on loopback: a tunnel to a host:port the seam lists goes to the local server
// it names (TLS stays end to end, under the real host name), a host outside the fence is
// refused, loopback is never proxied. Entries are read per connection, so each test's server
// is reached; the proxy itself is put in place only while the seam holds entries. The seam is
// the application's, asked through the engine's host.
class ConnectToProxy : public QObject {
    Q_OBJECT
public:
    // Puts the proxy in place when the seam holds entries and it is not yet there. Main thread.
    static void installIfNeeded(WebEngine::Host* host);

private:
    explicit ConnectToProxy(WebEngine::Host* host);
    void accept();

    WebEngine::Host* m_host;
    QTcpServer m_server;
};

} // namespace platform::web
