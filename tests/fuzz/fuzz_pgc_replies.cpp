// The PGC replies on any JSON: the root a reply keeps its content in, the episode a season
// reply offers for a video (given by episode id, BV, cid, archive id or nothing), and the
// episode and season ids of a redirect address. A video that names an episode never gets
// one that matches none of its ids, and a redirect's id is the number its address gives.
#include "FuzzInput.h"

#include "model/KRAPIReplyHelpers.h"
#include "model/KRJSON.h"
#include "model/KRSeasonReplyParser.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"

#include <limits>

namespace {

KRVideo givenFrom(fuzz::InputReader& input)
{
    KRVideo video;
    const uint8_t hints = input.byte();
    if (hints & 1)
        video.setEpisodeID(qint64(input.byte() % 4) + 301);
    if (hints & 2)
        video.setBvid(QStringLiteral("BV1%1x411w7K").arg(input.byte() % 4));
    if (hints & 4)
        video.setCid(qint64(input.byte() % 4) + 501);
    if (hints & 8)
        video.setAid(qint64(input.byte() % 4) + 701);
    if (hints & 16)
        video.setSeasonType(int(input.byte() % 8));
    return video;
}

// The id after the last "/" + marker as the address writes it: its digits without leading zeros.
void checkRedirect(const QString& address, const QString& marker, Qt::CaseSensitivity sensitivity)
{
    const qint64 id = KRPGCIDAfterLastMarker(address, marker, sensitivity);
    fuzz::check(id >= 0, "a redirect's id is never negative");
    if (sensitivity == Qt::CaseSensitive)
        fuzz::check(id == KRPGCIDFromRedirectURL(address, marker), "the redirect readers agree");
    if (id == 0)
        return;
    const qsizetype found = address.lastIndexOf(QLatin1Char('/') + marker, -1, sensitivity);
    fuzz::check(found >= 0, "an id follows its marker");
    QString digits;
    for (qsizetype i = found + 1 + marker.size(); i < address.size() && address.at(i).isDigit() && address.at(i).unicode() < 128; ++i)
        digits += address.at(i);
    while (digits.startsWith(QLatin1Char('0')))
        digits.remove(0, 1);
    // A number past the largest id is held at it, as every reader of numbers does.
    const bool past = digits.size() > 19 || (digits.size() == 19 && digits > QStringLiteral("9223372036854775807"));
    fuzz::check(past ? id == std::numeric_limits<qint64>::max() : QString::number(id) == digits,
                "a redirect's id is the number its address gives");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader input(data, size);
    const KRVideo given = givenFrom(input);
    const qint64 givenSeason = qint64(input.byte());
    const QString address = QString::fromUtf8(input.chunk(48));
    const QVariant payload = KRJSONParse(input.rest());

    const QVariantMap root = KRPGCRootDictionary(payload);
    fuzz::check(payload.typeId() == QMetaType::QVariantMap || root.isEmpty(), "only an object has a root");

    const KRSeasonReplyParser::Episode episode = KRSeasonReplyParser::episodeFromPayload(payload, given, givenSeason);
    if (const std::shared_ptr<KRVideo>& video = episode.video) {
        fuzz::check(video->isPGC(), "a season's episode is PGC");
        fuzz::check(video->episodeID() >= 1 || video->cid() >= 1, "an episode has an id or a cid");
        const bool named = given.episodeID() > 0 || given.cid() > 0 || given.aid() > 0 || !given.canonicalBVID().isEmpty();
        if (named) {
            const bool matches = (given.episodeID() > 0 && video->episodeID() == given.episodeID())
                || (!given.canonicalBVID().isEmpty() && video->canonicalBVID() == given.canonicalBVID())
                || (given.cid() > 0 && video->cid() == given.cid()) || (given.aid() > 0 && video->aid() == given.aid());
            fuzz::check(matches, "a video that names an episode gets one that matches it");
        }
    }

    QStringList addresses{address};
    for (const QVariantMap& object : {payload.toMap(), root}) {
        const QVariant redirect = object.value(QStringLiteral("redirect_url"));
        if (KRIsString(redirect))
            addresses << redirect.toString();
    }
    for (const QString& candidate : addresses) {
        for (const QString& marker : {QStringLiteral("ep"), QStringLiteral("ss")}) {
            checkRedirect(candidate, marker, Qt::CaseSensitive);
            checkRedirect(candidate, marker, Qt::CaseInsensitive);
        }
    }
    return 0;
}
