#pragma once

#include <QString>
#include <QStringList>

// Where tests point the HTTP layer at a local server while URLs keep their real host names.
// Defaults are read once from KORVANE_CONNECT_TO (comma-separated) and KORVANE_CA_FILE.
namespace platform::NetworkSeams {

// Entries in libcurl's connect-to form "host:port:127.0.0.1:port". While any entry is set,
// the exchange only goes to the listed host:port pairs and to loopback addresses; any other
// host fails as not found, so a test can never reach the outside network.
void setConnectTo(const QStringList& entries);
QStringList connectTo();

// An extra PEM bundle trusted in addition to the system's certificate authorities.
void setExtraCAFile(const QString& path);
QString extraCAFile();

} // namespace platform::NetworkSeams
