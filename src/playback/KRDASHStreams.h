#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// Choosing streams from the service's play information. A DASH information lists picture and
// sound streams under "dash" → "video" / "audio"; a progressive one lists files under "durl".
// Every caller (playback start, quality switch, offline caching) goes through these so that
// all of them choose alike. Values that are not of the expected shape are skipped, never
// trusted.

// The H.264 picture stream for `quality`: the exact id, else the best id below it, else the
// highest id; among equal ids the one an older device decodes most easily. Records which one
// was chosen. Empty when the information lists no H.264 stream.
std::optional<QVariantMap> KRDASHH264VideoStream(const QVariant& playInfo, int quality);
// The AAC (or unlabelled) sound stream of the highest bandwidth; the earlier of equals.
std::optional<QVariantMap> KRDASHBestAACStream(const QVariant& playInfo);
// The stream's address ("base_url", "baseUrl", then the first backup), made playable for the
// system; null when the stream names none.
QString KRDASHStreamURLString(const QVariant& stream);
// The "url" of one "durl" entry, then its backups: http(s) addresses only, each once, in order.
QStringList KROfflineProgressiveCandidateURLStrings(const QVariant& durlEntry);
// Frames per second of a "frame_rate" value: a number, decimal text or "a/b" text; 0 when it
// gives none.
double KRDASHFrameRateValue(const QVariant& frameRate);
// How hard a stream is for an older decoder: 100 beyond 1920×1080, 20 above 31 frames per
// second, 10 for an H.264 level of 4.2 or more.
int KRDASHLegacyPenalty(const QVariant& stream);
// Whether `candidate` is to replace `keptOrInvalid`: always when nothing is kept, else when
// its penalty is lower, or, at an equal penalty, its known bandwidth smaller.
bool KRDASHPreferLegacyStream(const QVariant& candidate, const QVariant& keptOrInvalid);
// Systems up to 8 cannot play the video CDNs' https addresses; those go over http. Every other
// address comes back as it was.
QString KRLegacyPlayableCDNURLString(const QString& address);
