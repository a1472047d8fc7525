#include "support/InteractionFixtures.h"

#include "model/KRServiceHosts.h"
#include "support/AccountFixtures.h"

#include <QStringList>
#include <QUrlQuery>

namespace testsupport {
namespace {

bool carriesSession(const FakeRequest& request) { return request.header(QStringLiteral("Cookie")).contains(QLatin1String("SESSDATA=")); }

// A value from the form of a POST, else from the query (danmaku posts carry both).
QString valueOf(const FakeRequest& request, const QString& name)
{
    if (request.method == QLatin1String("POST")) {
        const QString form = AccountFixtures::formValue(request, name);
        if (!form.isNull())
            return form;
    }
    return request.queryValue(name);
}

qint64 numberOf(const FakeRequest& request, const QString& name) { return valueOf(request, name).toLongLong(); }

QSet<qint64> idList(const QString& text)
{
    QSet<qint64> ids;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (const qint64 id = part.trimmed().toLongLong(); id > 0)
            ids.insert(id);
    return ids;
}

} // namespace

InteractionFixtures::InteractionFixtures(FakeService& service)
{
    const std::shared_ptr<State> state = m_state;
    const QString api = KRServiceHosts::apiHost();

    // Every route: the session first, then a scripted refusal, then the handler under the lock.
    auto guarded = [state](const QString& path, bool write, std::function<FakeReply(const FakeRequest&, State&)> handler) {
        FakeService::Handler answer = [state, path, handler](const FakeRequest& request) {
            if (!carriesSession(request))
                return AccountFixtures::refusal(-101, QStringLiteral("账号未登录"));
            std::lock_guard guard(state->lock);
            if (const auto refusal = state->refusals.constFind(path); refusal != state->refusals.constEnd())
                return AccountFixtures::refusal(refusal->first, refusal->second);
            if ((path == kLikePath || path == kCoinPath) && !state->challengeToken.isEmpty()
                && valueOf(request, QStringLiteral("tk")) != state->challengeToken) {
                ++state->challenges;
                const QVariantMap risk{{QStringLiteral("decision_type"), QStringLiteral("captcha_v2")},
                                       {QStringLiteral("grisk_id"), QStringLiteral("grisk-%1").arg(state->challenges)}};
                return AccountFixtures::refusal(-352, QString(),
                                                QVariantMap{{QStringLiteral("v_voucher"), QStringLiteral("voucher-%1").arg(state->challenges)},
                                                            {QStringLiteral("ga_data"), risk}});
            }
            return handler(request, *state);
        };
        // A held answer waits outside the lock, so the other routes keep answering meanwhile.
        FakeService::Handler inner = [state, path, answer](const FakeRequest& request) {
            FakeReply reply = answer(request);
            std::shared_ptr<AnswerGate> gate;
            {
                std::lock_guard guard(state->lock);
                gate = state->holds.value(path);
            }
            if (gate)
                gate->wait();
            return reply;
        };
        return write ? AccountFixtures::csrfChecked(inner) : inner;
    };
    auto route = [&](const QString& host, const QString& path, bool write, std::function<FakeReply(const FakeRequest&, State&)> handler) {
        service.route(host, path, guarded(path, write, std::move(handler)));
    };
    const FakeReply badRequest = AccountFixtures::refusal(-400, QStringLiteral("请求错误"));

    route(api, QStringLiteral("/x/v3/fav/folder/created/list-all"), false, [](const FakeRequest& request, State& s) {
        const qint64 aid = numberOf(request, QStringLiteral("rid"));
        QVariantList list;
        for (const Folder& folder : std::as_const(s.folders))
            list.append(QVariantMap{{QStringLiteral("id"), folder.id},
                                    {QStringLiteral("fid"), folder.id / 100},
                                    {QStringLiteral("mid"), kUserID},
                                    {QStringLiteral("attr"), folder.isPrivate ? 1 : 0},
                                    {QStringLiteral("title"), folder.title},
                                    {QStringLiteral("media_count"), folder.mediaCount},
                                    {QStringLiteral("fav_state"), folder.aids.contains(aid) ? 1 : 0}});
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("count"), list.size()}, {QStringLiteral("list"), list}});
    });
    route(api, QStringLiteral("/x/v3/fav/resource/deal"), true, [badRequest](const FakeRequest& request, State& s) {
        const qint64 aid = numberOf(request, QStringLiteral("rid"));
        const QSet<qint64> add = idList(valueOf(request, QStringLiteral("add_media_ids")));
        const QSet<qint64> remove = idList(valueOf(request, QStringLiteral("del_media_ids")));
        if (aid < 1 || (add.isEmpty() && remove.isEmpty()))
            return badRequest;
        for (Folder& folder : s.folders) {
            if (add.contains(folder.id) && !folder.aids.contains(aid)) {
                folder.aids.insert(aid);
                ++folder.mediaCount;
            } else if (remove.contains(folder.id) && folder.aids.remove(aid)) {
                --folder.mediaCount;
            }
        }
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("prompt"), false}});
    });
    route(api, QStringLiteral("/x/v3/fav/folder/add"), true, [badRequest](const FakeRequest& request, State& s) {
        const QString title = valueOf(request, QStringLiteral("title")).trimmed();
        if (title.isEmpty())
            return badRequest;
        const bool isPrivate = numberOf(request, QStringLiteral("privacy")) == 1;
        Folder folder{s.nextFolderID++, title, 0, isPrivate, {}};
        s.folders.append(folder);
        QVariantMap data{{QStringLiteral("title"), title}, {QStringLiteral("mid"), kUserID}, {QStringLiteral("attr"), isPrivate ? 1 : 0}};
        if (!(isPrivate && s.privateWithoutID)) {
            data.insert(QStringLiteral("id"), folder.id);
            data.insert(QStringLiteral("fid"), folder.id / 100);
        }
        return AccountFixtures::ok(data);
    });
    route(api, QStringLiteral("/x/web-interface/archive/relation"), false, [](const FakeRequest& request, State& s) {
        const qint64 aid = numberOf(request, QStringLiteral("aid"));
        bool favorite = false;
        for (const Folder& folder : std::as_const(s.folders))
            favorite = favorite || folder.aids.contains(aid);
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("attention"), false},
                                               {QStringLiteral("favorite"), favorite},
                                               {QStringLiteral("like"), s.liked.contains(aid)},
                                               {QStringLiteral("coin"), s.coins.value(aid)}});
    });
    route(api, QStringLiteral("/x/relation"), false, [](const FakeRequest& request, State& s) {
        const qint64 mid = numberOf(request, QStringLiteral("fid"));
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("mid"), mid}, {QStringLiteral("attribute"), s.following.contains(mid) ? 2 : 0}});
    });
    route(api, QStringLiteral("/x/relation/modify"), true, [badRequest](const FakeRequest& request, State& s) {
        const qint64 mid = numberOf(request, QStringLiteral("fid")), act = numberOf(request, QStringLiteral("act"));
        if (mid < 1 || (act != 1 && act != 2))
            return badRequest;
        if (act == 1)
            s.following.insert(mid);
        else
            s.following.remove(mid);
        return AccountFixtures::ok();
    });
    route(api, kLikePath, true, [badRequest](const FakeRequest& request, State& s) {
        const qint64 aid = numberOf(request, QStringLiteral("aid")), like = numberOf(request, QStringLiteral("like"));
        if (aid < 1 || (like != 1 && like != 2))
            return badRequest;
        if (like == 1 && s.liked.contains(aid))
            return AccountFixtures::refusal(65006, QStringLiteral("已赞过"));
        if (like == 1)
            s.liked.insert(aid);
        else
            s.liked.remove(aid);
        return AccountFixtures::ok();
    });
    // The app route of the like (its "like" 0 likes, 1 takes it back), signed with an access key.
    service.route(KRServiceHosts::appHost(), QStringLiteral("/x/v2/view/like"),
                  AccountFixtures::appSigned([state, badRequest](const FakeRequest& request) {
                      const qint64 aid = numberOf(request, QStringLiteral("aid")), like = numberOf(request, QStringLiteral("like"));
                      if (aid < 1 || (like != 0 && like != 1) || valueOf(request, QStringLiteral("access_key")).isEmpty())
                          return badRequest;
                      std::lock_guard guard(state->lock);
                      if (like == 0)
                          state->liked.insert(aid);
                      else
                          state->liked.remove(aid);
                      return AccountFixtures::ok();
                  }));
    route(api, kCoinPath, true, [badRequest](const FakeRequest& request, State& s) {
        const qint64 aid = numberOf(request, QStringLiteral("aid")), multiply = numberOf(request, QStringLiteral("multiply"));
        if (aid < 1 || multiply < 1 || multiply > 2)
            return badRequest;
        if (s.coins.value(aid) + multiply > 2)
            return AccountFixtures::refusal(34005, QStringLiteral("超过投币上限啦~"));
        s.coins[aid] += multiply;
        if (numberOf(request, QStringLiteral("select_like")) == 1)
            s.liked.insert(aid);
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("like"), s.liked.contains(aid)}});
    });
    route(api, QStringLiteral("/x/web-interface/archive/like/triple"), true, [badRequest](const FakeRequest& request, State& s) {
        const qint64 aid = numberOf(request, QStringLiteral("aid"));
        if (aid < 1)
            return badRequest;
        const qint64 added = std::max<qint64>(0, 2 - s.coins.value(aid));
        s.coins[aid] += added;
        s.liked.insert(aid);
        if (!s.folders.isEmpty())
            s.folders.first().aids.insert(aid);
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("like"), true},
                                               {QStringLiteral("coin"), true},
                                               {QStringLiteral("fav"), !s.folders.isEmpty()},
                                               {QStringLiteral("multiply"), added}});
    });
    route(api, QStringLiteral("/x/v2/dm/post"), true, [badRequest](const FakeRequest& request, State& s) {
        const QString text = valueOf(request, QStringLiteral("msg"));
        if (text.isEmpty() || numberOf(request, QStringLiteral("oid")) < 1)
            return badRequest;
        s.danmaku.append(text);
        const QString dmid = QString::number(7000 + s.danmaku.size());
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("dmid"), dmid.toLongLong()}, {QStringLiteral("dmid_str"), dmid}});
    });
    route(api, kWatchLaterPath, true, [badRequest](const FakeRequest& request, State& s) {
        const qint64 aid = numberOf(request, QStringLiteral("aid"));
        if (aid < 1)
            return badRequest;
        s.watchLater.insert(aid);
        return AccountFixtures::ok();
    });
    route(KRServiceHosts::vcHost(), QStringLiteral("/dynamic_repost/v1/dynamic_repost/share"), true,
          [badRequest](const FakeRequest& request, State& s) {
              const QString content = valueOf(request, QStringLiteral("content"));
              if (numberOf(request, QStringLiteral("rid")) < 1)
                  return badRequest;
              s.shares.append(content);
              return AccountFixtures::ok(QVariantMap{{QStringLiteral("dynamic_id"), 88000 + s.shares.size()}});
          });
}

void InteractionFixtures::setFolders(const QList<Folder>& folders)
{
    std::lock_guard guard(m_state->lock);
    m_state->folders = folders;
}

QList<InteractionFixtures::Folder> InteractionFixtures::folders() const
{
    std::lock_guard guard(m_state->lock);
    return m_state->folders;
}

void InteractionFixtures::setPrivateFolderAnsweredWithoutID(bool on)
{
    std::lock_guard guard(m_state->lock);
    m_state->privateWithoutID = on;
}

void InteractionFixtures::setNextFolderID(qint64 id)
{
    std::lock_guard guard(m_state->lock);
    m_state->nextFolderID = id;
}

void InteractionFixtures::hold(const QString& path, std::shared_ptr<AnswerGate> gate)
{
    std::lock_guard guard(m_state->lock);
    m_state->holds.insert(path, std::move(gate));
}

void InteractionFixtures::refuse(const QString& path, qint64 code, const QString& message)
{
    std::lock_guard guard(m_state->lock);
    if (code == 0)
        m_state->refusals.remove(path);
    else
        m_state->refusals.insert(path, {code, message});
}

void InteractionFixtures::challengeLikeAndCoin(const QString& token)
{
    std::lock_guard guard(m_state->lock);
    m_state->challengeToken = token;
}

int InteractionFixtures::challengesAnswered() const
{
    std::lock_guard guard(m_state->lock);
    return m_state->challenges;
}

QVariantMap InteractionFixtures::likeAndFavoriteOf(qint64 aid) const
{
    std::lock_guard guard(m_state->lock);
    bool favorite = false;
    for (const Folder& folder : std::as_const(m_state->folders))
        favorite = favorite || folder.aids.contains(aid);
    return {{QStringLiteral("like"), m_state->liked.contains(aid)}, {QStringLiteral("favorite"), favorite}};
}

QSet<qint64> InteractionFixtures::watchLater() const
{
    std::lock_guard guard(m_state->lock);
    return m_state->watchLater;
}

bool InteractionFixtures::liked(qint64 aid) const
{
    std::lock_guard guard(m_state->lock);
    return m_state->liked.contains(aid);
}

qint64 InteractionFixtures::coinsGiven(qint64 aid) const
{
    std::lock_guard guard(m_state->lock);
    return m_state->coins.value(aid);
}

bool InteractionFixtures::following(qint64 mid) const
{
    std::lock_guard guard(m_state->lock);
    return m_state->following.contains(mid);
}

QList<QString> InteractionFixtures::postedDanmaku() const
{
    std::lock_guard guard(m_state->lock);
    return m_state->danmaku;
}

QList<QString> InteractionFixtures::sharedTexts() const
{
    std::lock_guard guard(m_state->lock);
    return m_state->shares;
}

void InteractionFixtures::setLiked(qint64 aid, bool liked)
{
    std::lock_guard guard(m_state->lock);
    if (liked)
        m_state->liked.insert(aid);
    else
        m_state->liked.remove(aid);
}

void InteractionFixtures::setCoinsGiven(qint64 aid, qint64 coins)
{
    std::lock_guard guard(m_state->lock);
    m_state->coins[aid] = coins;
}

void InteractionFixtures::setFollowing(qint64 mid, bool following)
{
    std::lock_guard guard(m_state->lock);
    if (following)
        m_state->following.insert(mid);
    else
        m_state->following.remove(mid);
}

} // namespace testsupport
