#pragma once

#include "support/FakeService.h"

#include <QByteArray>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

namespace testsupport {

// The read endpoints of the service as the fake service plays them: realistic replies in the
// service's own shapes for feeds, sections, PGC catalogues, search, uploader archives, video
// and season detail, page lists, tags, related videos and comments, plus the fault replies
// the loaders' fall-back roads are tested with. Every reply is generated from the small
// catalogue below, so tests can name the ids they expect without copying JSON around.
//
// Signed routes check their signature (ServiceSignatures) and refuse a bad one with status
// 403 and code -403; the navigation endpoint hands out the fixture WBI keys.
class ServiceFixtures {
public:
    ServiceFixtures() = delete;

    // Installs every read route (and the navigation endpoint that hands out the WBI keys).
    // Later routes of a test replace these one by one.
    static void installReadRoutes(FakeService& fake);

    // ---- The catalogue ----
    // A video with three parts (cids kDetailCID, +1, +2) that every endpoint knows.
    static constexpr qint64 kDetailAID = 170001;
    static constexpr qint64 kDetailCID = 279786;
    static QString detailBVID(); // "BV17x411w7KC"
    // Archives the view endpoint refuses, each with a page list of two parts
    // (cids unavailableCID(aid) and +1).
    static constexpr qint64 kHiddenAID = 880001;   // view: code 62002
    static constexpr qint64 kReviewAID = 880002;   // view: code 62004
    static constexpr qint64 kDeletedAID = 880003;  // view: code -404, page list: -404 as well
    static qint64 unavailableCID(qint64 aid);
    // An archive of a PGC episode: the view endpoint answers with a redirect address to
    // episode kFirstEpisodeID of season kSeasonID.
    static constexpr qint64 kPGCArchiveAID = 890001;
    // A season of twelve main episodes (ids kFirstEpisodeID … +11, aids kPGCArchiveAID … +11,
    // cids kFirstEpisodeCID … +11) and two trailers in a side section.
    static constexpr qint64 kSeasonID = 4001;
    static constexpr qint64 kFirstEpisodeID = 5001;
    static constexpr qint64 kFirstEpisodeCID = 7000001;
    static constexpr qint64 kTrailerEpisodeID = 5901;
    static QString seasonTitle(); // "星河旅人"
    // An uploader with kUploaderVideoCount videos, aids kUploaderFirstAID + count … + 1,
    // newest (highest aid) first.
    static constexpr qint64 kUploaderMID = 7001;
    static constexpr int kUploaderVideoCount = 45;
    static constexpr qint64 kUploaderFirstAID = 600000;
    static QString uploaderName(); // "木工小林"
    // Top-level comments of kDetailAID: kCommentCount regular ones (rpids kFirstCommentRPID …),
    // of which the first is also the pinned one; every regular comment has kRepliesPerComment
    // replies.
    static constexpr int kCommentCount = 45;
    static constexpr qint64 kFirstCommentRPID = 9000001;
    static constexpr int kRepliesPerComment = 25;
    // Rankings hold kRankingSize videos; search finds kSearchResultCount per keyword.
    static constexpr int kRankingSize = 100;
    static constexpr int kSearchResultCount = 57;
    // The service's BV text of an archive id, and back (0 for a text that is no BV).
    static QString bvidForAID(qint64 aid);
    static qint64 aidForBVID(const QString& bvid);

    // ---- Reply bodies, for tests that serve a variant ----
    // One archive as list endpoints give it (popular, ranking, related).
    static QVariantMap archiveItem(qint64 aid);
    // The "data" of the view endpoint for an archive.
    static QVariantMap viewData(qint64 aid);
    // The recommendation feed's items of one batch (fresh index), non-video items included.
    static QVariantList recommendationItems(qint64 freshIndex);
    // Items of the recommendation feed that are not videos: an advert, a live room, a
    // column card.
    static QVariantList nonVideoFeedItems();
    // One comment object; `root` 0 for a top-level comment.
    static QVariantMap commentObject(qint64 rpid, qint64 oid, qint64 root);
    // One episode object of a season reply.
    static QVariantMap episodeObject(int index);
    // {"code": 0, "message": "0", "ttl": 1, "data": data}.
    static QVariantMap envelope(const QVariant& data);

    // ---- Faults ----
    // {"code": code, "message": message, "ttl": 1} with status 200.
    static FakeReply serviceError(qint64 code, const QString& message);
    // The risk-control refusal: status 412 with the service's HTML notice.
    static FakeReply riskControlRefusal();
    // A gateway failure: status 500 (or the given one) with an HTML body.
    static FakeReply serverFailure(int status = 500);
    // Status 200 with no body at all.
    static FakeReply emptyBody();
    // Status 200 with an HTML page where JSON was expected (a captive portal, a login wall).
    static FakeReply htmlBody();
    // Headers, then nothing, until the client gives up.
    static FakeReply stalled();
    // A recommendation batch of non-video items only.
    static FakeReply nonVideoFeed();
};

} // namespace testsupport
