#pragma once

#include "support/FakeService.h"

#include <QHash>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <mutex>

namespace testsupport {

// The dynamics part of the fake service: the following feed by type and offset, the writes on
// dynamics (each able to refuse with a message) and the picture upload of reposts.
namespace DynamicFixtures {

inline const QString kFeedPath = QStringLiteral("/x/polymer/web-dynamic/v1/feed/all");
inline const QString kThumbPath = QStringLiteral("/x/dynamic/feed/dyn/thumb");
inline const QString kCreatePath = QStringLiteral("/x/dynamic/feed/create/dyn");
inline const QString kRemovePath = QStringLiteral("/x/dynamic/feed/operate/remove");
inline const QString kWatchLaterPath = QStringLiteral("/x/v2/history/toview/add");
inline const QString kUploadPath = QStringLiteral("/x/dynamic/feed/draw/upload_bfs");

// Post builders in the feed's own shape; `author` 0 picks the default author (mid 9001).
QVariantMap textItem(const QString& id, const QString& text, qint64 authorMID = 0);
QVariantMap pictureItem(const QString& id, const QString& text, int pictures, qint64 authorMID = 0);
QVariantMap videoItem(const QString& id, qint64 aid, const QString& title, qint64 authorMID = 0);
QVariantMap repostItem(const QString& id, const QString& text, const QVariantMap& original);
// Counts and like state of a post.
QVariantMap withStats(QVariantMap item, qint64 likes, qint64 comments, bool liked = false);

// One answer of the feed.
struct FeedPage {
    QVariantList items = {};
    QVariant offset = {};  // absent (invalid) leaves "offset" out
    bool hasMore = false;
    bool fails = false; // a 500
    int delayMs = 0;
};

// What the feed answers, by type ("all", "video") and offset ("" for the first page); a page
// not planned is empty and ends.
struct FeedPlan {
    std::mutex lock;
    QHash<QString, FeedPage> pages;
    void set(const QString& type, const QString& offset, const FeedPage& page)
    {
        std::lock_guard guard(lock);
        pages.insert(type + QLatin1Char('|') + offset, page);
    }
};

// What the writes answer: a non-empty message refuses with it (code -400).
struct ActionPlan {
    std::mutex lock;
    QHash<QString, QString> refusals;   // path → message
    bool uploadFails = false;
    void refuse(const QString& path, const QString& message)
    {
        std::lock_guard guard(lock);
        refusals.insert(path, message);
    }
    void accept(const QString& path)
    {
        std::lock_guard guard(lock);
        refusals.remove(path);
    }
};

// A plan with the demo's pages: two pages of "all" (pictures, a video, a repost; the second
// repeating a row of the first) and one of "video".
std::shared_ptr<FeedPlan> demoFeed();

void installFeedRoute(FakeService& service, const std::shared_ptr<FeedPlan>& plan);

// The detail read ("/x/polymer/web-dynamic/v1/detail") by "id":
// - kOwnVideoID: the user's own video dynamic (author 4242, the logged-in test account) whose
//   comments are the landed comments of ServiceFixtures::kDetailAID in area 11; 5 likes,
//   7 comments on record;
// - kPictureID: another author's two pictures with no comment area of their own, so comments
//   hang on the numeric id in area 1, where the service lists none;
// - kFailingID answers 500; an id of a row `feed` plans (the demo's) that row; any other id an
//   empty answer.
inline const QString kDetailPath = QStringLiteral("/x/polymer/web-dynamic/v1/detail");
inline const QString kOwnVideoID = QStringLiteral("880001");
constexpr qint64 kOwnVideoAID = 170001;
constexpr qint64 kOwnMID = 4242;
inline const QString kPictureID = QStringLiteral("880002");
inline const QString kEmptyID = QStringLiteral("880000");
inline const QString kFailingID = QStringLiteral("880500");
QVariantMap ownVideoDetailItem();
QVariantMap pictureDetailItem();
void installDetailRoute(FakeService& service, const std::shared_ptr<FeedPlan>& feed = nullptr);
void installActionRoutes(FakeService& service, const std::shared_ptr<ActionPlan>& plan);

} // namespace DynamicFixtures
} // namespace testsupport
