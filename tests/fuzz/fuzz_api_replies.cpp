// The web-API client's readers of replies on any JSON: the service error a reply carries,
// the navigation reply's mixin key, the tag list, the recommendation feed's video items and
// the comment a post's reply stands for. An error has a code and a message; a mixin key is
// 32 characters of the two image names or nothing; tags are named once each; a feed item
// kept is a video the normaliser reads; a posted comment keeps what was sent where the reply
// says nothing.
#include "FuzzInput.h"

#include "model/KRComment.h"
#include "model/KRJSON.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideoNormalizer.h"
#include "service/KRAPIClient.h"
#include "service/KRAPIErrors.h"
#include "service/KRAPISigning.h"

#include <QSet>

namespace {

void checkError(const QVariant& payload)
{
    const KROptionalError error = KRAPIErrorFromPayload(payload);
    if (!error)
        return;
    fuzz::check(error->code() != 0, "a service error has a code");
    fuzz::check(!error->message().isEmpty(), "a service error has a message");
    fuzz::check(payload.typeId() == QMetaType::QVariantMap, "only an object carries an error");
}

void checkMixinKey(const QVariant& payload)
{
    const auto [key, error] = KRAPIClient::mixinKeyFromNavigationReply(payload, std::nullopt);
    fuzz::check(key.isEmpty() != !error.has_value(), "a key or an error, never both");
    if (key.isEmpty())
        return;
    fuzz::check(key.size() == 32, "a mixin key has 32 characters");
    const QVariantMap images = payload.toMap().value(QStringLiteral("data")).toMap().value(QStringLiteral("wbi_img")).toMap();
    const QString names = KRWBIFileKey(images.value(QStringLiteral("img_url"))) + KRWBIFileKey(images.value(QStringLiteral("sub_url")));
    for (const QChar c : key)
        fuzz::check(names.contains(c), "a mixin key is made of the image names");
    KRAPIClient::resetWBIMixinKeyForTesting();
}

void checkTags(const QVariant& payload)
{
    const QStringList tags = KRAPIClient::tagNamesFromReply(payload);
    fuzz::check(QSet<QString>(tags.cbegin(), tags.cend()).size() == tags.size(), "each tag once");
    for (const QString& tag : tags)
        fuzz::check(!tag.isEmpty(), "no empty tag");
}

void checkFeed(const QVariant& payload)
{
    qsizetype rawCount = -1;
    const QVariantList items = KRAPIClient::recommendationVideoItems(payload, &rawCount);
    fuzz::check(rawCount >= items.size(), "no more items kept than given");
    for (const QVariant& item : items) {
        const QVariantMap map = item.toMap();
        fuzz::check(map.value(QStringLiteral("goto")) == QStringLiteral("av"), "only videos are kept");
        fuzz::check(!KRIsMissing(map.value(QStringLiteral("aid"))), "a kept item has an archive id");
    }
    const KRVideoList videos = KRVideoNormalizer::videosFromPayload(QVariantMap{{QStringLiteral("list"), items}});
    fuzz::check(videos.size() <= items.size(), "no more videos than items");
}

void checkPostedComment(const QVariant& payload, fuzz::InputReader& input)
{
    const QString text = QString::fromUtf8(input.chunk(16));
    const qint64 oid = 1 + input.byte();
    const qint64 root = input.byte() & 1 ? 9001 : 0;
    const qint64 parent = root;
    const QVariantMap profile{{QStringLiteral("uname"), QStringLiteral("我自己")}};
    const QVariant data = payload.typeId() == QMetaType::QVariantMap ? payload.toMap().value(QStringLiteral("data")) : payload;
    const std::shared_ptr<KRComment> comment = KRComment::postedCommentFromResponseData(data, text, profile, oid, root, parent);
    fuzz::check(comment != nullptr, "a post always stands for a comment");
    fuzz::check(comment->oid() >= 1 && comment->createdAt() > 0, "a posted comment has its object and its time");
    fuzz::check(!comment->authorName().isEmpty(), "a posted comment has an author");
    fuzz::check(text.isEmpty() || !comment->message().isEmpty(), "a posted comment has a message");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader input(data, size);
    QByteArray side = input.chunk(24);
    const QVariant payload = KRJSONParse(input.rest());
    if (!payload.isValid())
        return 0;
    fuzz::InputReader sideInput(reinterpret_cast<const uint8_t*>(side.constData()), size_t(side.size()));
    checkError(payload);
    checkMixinKey(payload);
    checkTags(payload);
    checkFeed(payload);
    checkPostedComment(payload, sideInput);
    return 0;
}
