#pragma once

#include "support/CommentFixtures.h"
#include "support/FakeService.h"

#include <QByteArray>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

namespace testsupport {

// The read endpoints of the service as the fake service plays them: replies in the service's
// own shapes for feeds, sections, PGC catalogues, search, uploader archives, video and season
// detail, page lists, tags, related videos and comments, plus the fault replies the loaders'
// fall-back roads are tested with. Every reply is generated from the small catalogue below,
// so tests can name the ids they expect without copying JSON around.
//
// Signed routes check their signature (ServiceSignatures) and refuse a bad one with status
// 403 and code -403; the navigation endpoint hands out the fixture WBI keys.
class ServiceFixtures {
public:
    ServiceFixtures() = delete;

    // Installs every read route (and the navigation endpoint that hands out the WBI keys).
    // Later routes of a test replace these one by one.
    static void installReadRoutes(FakeService& fake);
    // Replaces the uploader routes so that every owner the lists name (mids 3000 to 3499) has
    // 25 to 54 videos of their own, not only kUploaderMID: what a person browsing expects.
    static void installEveryUploaderPages(FakeService& fake);
    // The demo's catalogue instead: every route above answers from one record per archive
    // (demoRecord), so a row, the detail it opens, its comments and its media agree; every
    // uploader the lists name has videos; every object has comments (demoCommentTotal of them,
    // replies included), and the comments `posted` keeps come first.
    static void installDemoCatalogue(FakeService& fake, const std::shared_ptr<CommentFixtures::PostedComments>& posted);

    // ---- The demo's record of an archive ----
    // Every part plays the generated clip, so each lasts as long as it.
    static constexpr qint64 kDemoClipSeconds = 12;
    struct DemoRecord {
        qint64 aid = 0;
        QString bvid;
        QString title;
        qint64 seconds = 0;  // every part together
        QString lengthText;  // the seconds as a list's text gives them ("00:12")
        qint64 comments = 0; // top-level comments and replies, none posted
        qint64 ownerMID = 0;
        QString ownerName;
        QString sectionName;
    };
    static DemoRecord demoRecord(qint64 aid);
    // Three videos of the demo's home feed, its first three rows, show what the others cannot:
    // the portrait one plays the 6 s portrait clip (360 × 640) and says so in its record, so its
    // full screen is the portrait one; the 4K one offers a 4K DASH pair beside the usual three;
    // the third has three parts (cids kDemoPartsFirstCID, + 1 and + 2, cids of no other video),
    // each playing the clip, so that several parts can be cached at once, and a search for
    // "分P演示" finds it too.
    static constexpr qint64 kDemoPortraitAID = 300100;
    static constexpr qint64 kDemoPortraitSeconds = 6;
    static constexpr qint64 kDemo4KAID = 300101;
    static constexpr qint64 kDemoPartsAID = 300102;
    static constexpr qint64 kDemoPartsFirstCID = 9100001;
    // Top-level comments and their replies of any object (an archive, a dynamic), none posted.
    static qint64 demoCommentTotal(qint64 oid);
    // The rpid of the first top-level comment of an object that has replies (its first reply is
    // rpid × 100 + 1); 0 when none has.
    static qint64 demoCommentWithReplies(qint64 oid);

    // ---- The catalogue ----
    // Popular page p holds aids 200000 + (p - 1) × 20 …; recommendation batch f holds
    // 300000 + f × 100 + slot (slots 3 and 11 are no videos); the ranking of region r holds
    // 100 videos from 400000 + r × 1000, its new list 500000 + r × 1000 + …; PGC catalogue
    // type t holds seasons 30000 + t × 1000 + …; a search finds 57 videos per keyword.
    //
    // A video with three parts (cids kDetailCID, +1, +2) that every endpoint knows.
    static constexpr qint64 kDetailAID = 170001;
    static constexpr qint64 kDetailCID = 279786;
    static QString detailBVID();
    // The detail's "copyright": 1 (made by the uploader) for kDetailAID and for aids not divisible
    // by 3, 2 (reposted) for the others, so a test can pick either coin limit.
    static qint64 copyrightOf(qint64 aid);
    // Archives the view endpoint refuses, each with a page list of two parts
    // (cids unavailableCID(aid) and +1, of 600 and 660 s).
    static constexpr qint64 kHiddenAID = 880001;   // view: code 62002
    static constexpr qint64 kReviewAID = 880002;   // view: code 62004
    static constexpr qint64 kDeletedAID = 880003;  // view: code -404, page list and old API: -404 as well
    static qint64 unavailableCID(qint64 aid);
    // Archives of PGC episodes: the view endpoint answers with a redirect address to episode
    // kFirstEpisodeID + n of season kSeasonID for kPGCArchiveAID + n.
    static constexpr qint64 kPGCArchiveAID = 890001;
    // A season "星河旅人" of twelve episodes (ids kFirstEpisodeID …, cids kFirstEpisodeCID …)
    // and two trailers in a side section.
    static constexpr qint64 kSeasonID = 4001;
    static constexpr qint64 kFirstEpisodeID = 5001;
    static constexpr qint64 kFirstEpisodeCID = 7000001;
    // An uploader with kUploaderVideoCount videos, aids kUploaderFirstAID + count … + 1,
    // newest (highest aid) first.
    static constexpr qint64 kUploaderMID = 7001;
    static constexpr int kUploaderVideoCount = 45;
    static constexpr qint64 kUploaderFirstAID = 600000;
    static QString uploaderName(); // "木工小林"
    // Top-level comments of kDetailAID: kCommentCount regular ones (rpids kFirstCommentRPID …),
    // of which the first is also the pinned one; every regular comment has kRepliesPerComment
    // replies, the first three of them shipped inside it.
    static constexpr int kCommentCount = 45;
    static constexpr qint64 kFirstCommentRPID = 9000001;
    static constexpr int kRepliesPerComment = 25;
    // The service's BV text of an archive id.
    static QString bvidForAID(qint64 aid);
    // The cid of an archive's first part; every archive of the tests' lists has that part alone
    // (in the demo's, kDemoPartsAID has three, from kDemoPartsFirstCID on).
    static qint64 firstCIDForAID(qint64 aid);

    // ---- Reply bodies, for tests that serve a variant ----
    // One archive as list endpoints give it (popular, ranking, related).
    static QVariantMap archiveItem(qint64 aid);
    // What the detail route ("/x/web-interface/view") answers, for a test that serves it itself
    // (later than the request, say).
    static FakeReply detailReply(const FakeRequest& request);
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
    // A recommendation batch of non-video items only (an advert, a live room, a season card).
    static FakeReply nonVideoFeed();
};

} // namespace testsupport
