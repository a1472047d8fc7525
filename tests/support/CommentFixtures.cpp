#include "support/CommentFixtures.h"

#include "model/KRServiceHosts.h"
#include "support/AccountFixtures.h"
#include "support/ServiceFixtures.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QUrlQuery>

#include <algorithm>

namespace testsupport {
namespace CommentFixtures {
namespace {

using Map = QVariantMap;
using List = QVariantList;

constexpr int kPageSize = 20;
constexpr int kPackages = 3;
constexpr int kEmotesPerPackage = 50;

qint64 query(const FakeRequest& request, const QString& name, qint64 fallback)
{
    bool ok = false;
    const qint64 value = request.queryValue(name).toLongLong(&ok);
    return ok ? value : fallback;
}

Map replyObject(qint64 root, int index)
{
    const qint64 rpid = replyRpid(root, index);
    return {{"rpid", rpid}, {"rpid_str", QString::number(rpid)}, {"oid", kThreadOID}, {"type", 1}, {"root", root}, {"parent", root},
            {"count", 0}, {"rcount", 0}, {"ctime", 1700000000 - index * 60}, {"like", 500 - index},
            {"member", Map{{"mid", QString::number(5000 + index)}, {"uname", QStringLiteral("回复者%1").arg(index + 1)},
                           {"avatar", QStringLiteral("https://i0.%1/bfs/face/r%2.jpg").arg(KRServiceHosts::imagePrimaryDomain()).arg(index)}}},
            {"content", Map{{"message", QStringLiteral("楼中回复 %1").arg(index + 1)}}}};
}

int threadCount(qint64 root)
{
    return root == kThread45Root ? kThread45Count : root == kThread200Root ? 200 : 0;
}

FakeReply thread(const FakeRequest& request)
{
    const qint64 root = query(request, QStringLiteral("root"), 0);
    if (query(request, QStringLiteral("oid"), 0) != kThreadOID || (root != kThread45Root && root != kThread200Root && root != kEmptyRoot))
        return FakeReply::json(Map{{"code", 12022}, {"message", QStringLiteral("已经被删除了")}, {"ttl", 1}});
    const int page = int(std::max<qint64>(1, query(request, QStringLiteral("pn"), 1)));
    if (root == kThread200Root && page == kFailingPage)
        return FakeReply::withStatus(500);
    const int count = threadCount(root);
    List replies;
    // The second page of the 45 begins with the last two of the first again.
    if (root == kThread45Root && page == 2)
        for (int i = kPageSize - 2; i < kPageSize; ++i)
            replies << replyObject(root, i);
    for (int i = (page - 1) * kPageSize; i < std::min(page * kPageSize, count); ++i)
        replies << replyObject(root, i);
    return FakeReply::json(ServiceFixtures::envelope(
        Map{{"page", Map{{"num", page}, {"size", kPageSize}, {"count", count}}}, {"replies", replies}}));
}

// An accepted post answers with the comment as the area will show it: the signed-in account as its
// member, its pictures and the emotes of the packages its message names. Without `posted` every
// post is kPostedRpid at a fixed time; with it, each gets an rpid of its own and is kept.
FakeReply post(const FakeRequest& request, const std::shared_ptr<PostedComments>& posted = nullptr)
{
    const QString message = AccountFixtures::formValue(request, QStringLiteral("message"));
    if (message.contains(kRefusedWord))
        return AccountFixtures::refusal(12015, kRefusalMessage);
    Map content{{"message", message}};
    Map emotes;
    for (int p = 0; p < kPackages; ++p)
        for (int i = 0; i < kEmotesPerPackage; ++i)
            if (message.contains(emoteToken(p, i)))
                emotes.insert(emoteToken(p, i), Map{{"text", emoteToken(p, i)}, {"url", emoteURL(p, i)}});
    if (!emotes.isEmpty())
        content.insert("emote", emotes);
    const QVariant pictures = QJsonDocument::fromJson(AccountFixtures::formValue(request, QStringLiteral("pictures")).toUtf8()).toVariant();
    if (!pictures.toList().isEmpty())
        content.insert("pictures", pictures);
    Map reply{{"oid", AccountFixtures::formValue(request, QStringLiteral("oid")).toLongLong()},
              {"type", AccountFixtures::formValue(request, QStringLiteral("type")).toInt()},
              {"root", AccountFixtures::formValue(request, QStringLiteral("root")).toLongLong()},
              {"parent", AccountFixtures::formValue(request, QStringLiteral("parent")).toLongLong()},
              {"count", 0}, {"rcount", 0}, {"like", 0},
              {"member", Map{{"mid", "4242"}, {"uname", QStringLiteral("演示账号")},
                             {"avatar", QStringLiteral("https://i0.%1/bfs/face/4242.jpg").arg(KRServiceHosts::imagePrimaryDomain())}}},
              {"content", content}};
    std::unique_lock<std::mutex> guard;
    if (posted)
        guard = std::unique_lock(posted->lock);
    const qint64 rpid = posted ? posted->nextRpid++ : kPostedRpid;
    reply.insert("rpid", rpid);
    reply.insert("rpid_str", QString::number(rpid));
    reply.insert("ctime", posted ? QDateTime::currentSecsSinceEpoch() : 1700000000);
    if (posted)
        posted->comments.append(reply);
    return AccountFixtures::ok(Map{{"rpid", rpid}, {"rpid_str", QString::number(rpid)}, {"reply", reply}});
}

FakeReply emotePackages()
{
    List packages;
    for (int p = 0; p < kPackages; ++p) {
        List emotes;
        for (int i = 0; i < kEmotesPerPackage; ++i)
            emotes << Map{{"id", p * 100 + i}, {"text", emoteToken(p, i)},
                          {"url", p == 0 && (i == 5 || i == 6) ? QString() : emoteURL(p, i)}};
        packages << Map{{"id", p + 1}, {"text", QStringLiteral("表情包%1").arg(p + 1)}, {"emote", emotes}};
    }
    return FakeReply::json(ServiceFixtures::envelope(Map{{"packages", packages}}));
}

} // namespace

qint64 replyRpid(qint64 root, int index)
{
    // One reply of the 45 has no id at all.
    if (root == kThread45Root && index == 10)
        return 0;
    return root * 1000 + index + 1;
}

QString emoteToken(int package, int index) { return QStringLiteral("[%1_%2]").arg(package).arg(index); }

QString emoteURL(int package, int index)
{
    return QStringLiteral("https://i0.%1/bfs/emote/e%2_%3@40w_40h.png").arg(KRServiceHosts::imagePrimaryDomain()).arg(package).arg(index);
}

QList<QVariantMap> PostedComments::on(qint32 type, qint64 oid, qint64 root) const
{
    std::lock_guard guard(lock);
    QList<QVariantMap> found;
    for (const QVariantMap& comment : comments)
        if (comment.value("type").toInt() == type && comment.value("oid").toLongLong() == oid &&
            comment.value("root").toLongLong() == root)
            found.prepend(comment);
    return found;
}

qint64 PostedComments::count(qint32 type, qint64 oid) const
{
    std::lock_guard guard(lock);
    return std::count_if(comments.begin(), comments.end(), [&](const QVariantMap& comment) {
        return comment.value("type").toInt() == type && comment.value("oid").toLongLong() == oid;
    });
}

QVariantMap PostedComments::find(qint32 type, qint64 oid, qint64 rpid) const
{
    std::lock_guard guard(lock);
    for (const QVariantMap& comment : comments)
        if (comment.value("type").toInt() == type && comment.value("oid").toLongLong() == oid &&
            comment.value("rpid").toLongLong() == rpid)
            return comment;
    return {};
}

void installPostAndEmoteRoutes(FakeService& service, const std::shared_ptr<PostedComments>& posted)
{
    const QString api = KRServiceHosts::apiHost();
    service.route(api, QStringLiteral("/x/v2/reply/add"),
                  AccountFixtures::csrfChecked([posted](const FakeRequest& request) { return post(request, posted); }));
    service.route(api, QStringLiteral("/x/emote/package"), [](const FakeRequest&) { return emotePackages(); });
}

void installCommentRoutes(FakeService& service, std::atomic<bool>* emotesFail)
{
    const QString api = KRServiceHosts::apiHost();
    service.route(api, QStringLiteral("/x/v2/reply/reply"), thread);
    service.route(api, QStringLiteral("/x/v2/reply/add"), AccountFixtures::csrfChecked([](const FakeRequest& request) { return post(request); }));
    service.route(api, QStringLiteral("/x/emote/package"), [emotesFail](const FakeRequest&) {
        return emotesFail && emotesFail->load() ? FakeReply::withStatus(500) : emotePackages();
    });
}

} // namespace CommentFixtures
} // namespace testsupport
