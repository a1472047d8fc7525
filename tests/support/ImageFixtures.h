#pragma once

#include "support/FakeService.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QStringList>

namespace testsupport {

// The image CDN of the fake service: every path answers a picture generated from it, so a
// test can ask for any cover or avatar and tell the answers apart, and the service's requests
// show exactly which address each load sent.
namespace ImageFixtures {

// Hosts on the CDN's primary and alternate domains; give them to FakeService with any others.
QString primaryHost();
QString alternateHost();
QStringList hosts();

// Addresses of generated pictures on the primary host ("/bfs/archive/<name>.jpg", "/bfs/face/…").
QString coverAddress(const QString& name);
QString avatarAddress(const QString& name);

// A picture of exactly this size that no CDN resizing rule touches ("/bfs/sized/<w>x<h>/<name>.jpg").
QString sizedPictureAddress(int width, int height, const QString& name);
// A 404 whose body is an HTML page, no picture at all.
QString missingPictureAddress(const QString& name);
// A picture held back until releaseSlowPictures() (or 20 s), for loads that must arrive late.
QString slowPictureAddress(const QString& name);
void holdSlowPictures();
void releaseSlowPictures();

// A picture (uncompressed 24-bit BMP, which decoders recognise by content) of this size,
// coloured and patterned from `seed`.
QByteArray bitmap(int width, int height, quint32 seed);
// The size a CDN address asks for: "@<w>w_<h>h…" or "@<w>w…" (16:9); else 640×400, 128×128
// for avatars ("/face/").
QSize sizeForPath(const QString& path);
// The first bytes of a PNG announcing a picture of this size: enough for a decoder to learn
// the size, never a whole picture.
QByteArray pngHeaderAnnouncing(int width, int height);

// Serves generated pictures on every image host. Paths under "/fault/html-200/" answer an
// HTML error page with status 200, paths under "/fault/image-404/" a picture with status 404,
// "/fault/missing/" a 404 HTML page, "/fault/slow/" a picture once released.
void serveImages(FakeService& service);

} // namespace ImageFixtures
} // namespace testsupport
