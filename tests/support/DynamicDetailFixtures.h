#pragma once

#include "support/FakeService.h"

#include <QString>
#include <QVariantMap>
#include <QtGlobal>

#include <atomic>

namespace testsupport {

// One dynamic at a time as the detail screen reads it, and the writes it makes: likes,
// reposts, deletions, watch-later and picture uploads, each able to refuse with a message.
namespace DynamicDetailFixtures {

// The user's own video dynamic (author 4242, the logged-in test account): its comments are
// the landed comments of ServiceFixtures::kDetailAID in area 11; seven comments on record.
inline const QString kOwnVideoID = QStringLiteral("880001");
constexpr qint64 kOwnVideoAID = 170001;
constexpr qint32 kOwnVideoCommentCount = 7;
// Another author's dynamic with two pictures and no comment area of its own: comments hang on
// its numeric id in area 1, where the service lists none.
inline const QString kPictureID = QStringLiteral("880002");
constexpr qint64 kPictureAuthorMID = 7001;
// An empty answer, and a 500.
inline const QString kEmptyID = QStringLiteral("880000");
inline const QString kFailingID = QStringLiteral("880500");

inline const QString kRefusalMessage = QStringLiteral("操作过于频繁");

// What the write routes do; all answer at once and accept by default.
struct Behaviour {
    std::atomic<bool> refuseWrites{false};
    std::atomic<bool> failUploads{false};
    std::atomic<int> likeDelayMs{0};
};

QVariantMap ownVideoItem();
QVariantMap pictureItem();

// The detail read, "/x/dynamic/feed/dyn/thumb", "/x/dynamic/feed/create/dyn",
// "/x/dynamic/feed/operate/remove", "/x/v2/history/toview/add" and
// "/x/dynamic/feed/draw/upload_bfs" (records {"image_url", "image_width", "image_height"},
// numbered in the order received).
void installDetailRoutes(FakeService& service, Behaviour* behaviour);

} // namespace DynamicDetailFixtures
} // namespace testsupport
