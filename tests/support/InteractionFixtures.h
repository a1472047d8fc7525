#pragma once

#include "support/AnswerGate.h"
#include "support/FakeService.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <mutex>

namespace testsupport {

// What a signed-in user does to a video, served by the fake service with state: the user's
// favourite folders (the list for a video, the deal that adds and removes it, the creation of a
// folder), the archive relation and an uploader's relation, like, coins, the service's triple,
// follow, danmaku posting and the share to dynamics. Every route needs the web session's
// cookie (-101 "账号未登录" otherwise); writes check the CSRF token. Any route can be made to
// refuse with a code and a message.
class InteractionFixtures {
public:
    struct Folder {
        qint64 id = 0;
        QString title;
        qint64 mediaCount = 0;
        bool isPrivate = false;
        QSet<qint64> aids;  // the videos it holds
    };

    explicit InteractionFixtures(FakeService& service);

    // The user's folders, in list order.
    void setFolders(const QList<Folder>& folders);
    QList<Folder> folders() const;
    // A private folder made by the creation route is answered without its "id" (and "fid"):
    // the caller finds it by its title.
    void setPrivateFolderAnsweredWithoutID(bool on);
    // The next folder id the creation route hands out.
    void setNextFolderID(qint64 id);

    // Refuses every request of this path with `code` and `message` (code 0: answers again).
    void refuse(const QString& path, qint64 code, const QString& message);
    // Every answer of this path is made at once (a write is done, a read sees the state as it
    // is) and then waits for the gate before it goes: a slow answer, not a slow server.
    void hold(const QString& path, std::shared_ptr<AnswerGate> gate);
    // The risk control: like and coin are refused with -352 and a captcha challenge (a voucher
    // and the risk object) until a request carries `token` as its "tk", as the replay after a
    // passed captcha does. The default is the token the captcha fixtures' loader resolves; an
    // empty token ends the challenge.
    void challengeLikeAndCoin(const QString& token = QStringLiteral("a+b/c="));
    // How many challenges were answered so far.
    int challengesAnswered() const;
    // The archive relation's "like" and "favorite" for the video, as this user's state has them.
    QVariantMap likeAndFavoriteOf(qint64 aid) const;
    // Watch later, as the user's list holds it.
    QSet<qint64> watchLater() const;

    // What the user did so far.
    bool liked(qint64 aid) const;
    qint64 coinsGiven(qint64 aid) const;
    bool following(qint64 mid) const;
    QList<QString> postedDanmaku() const;
    QList<QString> sharedTexts() const;
    void setLiked(qint64 aid, bool liked);
    void setCoinsGiven(qint64 aid, qint64 coins);
    void setFollowing(qint64 mid, bool following);

    static constexpr qint64 kUserID = 4242;
    static constexpr qint64 kFirstDemoFolderID = 81001;
    static inline const QString kLikePath = QStringLiteral("/x/web-interface/archive/like");
    static inline const QString kCoinPath = QStringLiteral("/x/web-interface/coin/add");
    static inline const QString kWatchLaterPath = QStringLiteral("/x/v2/history/toview/add");

private:
    struct State {
        mutable std::mutex lock;
        QList<Folder> folders;
        bool privateWithoutID = false;
        qint64 nextFolderID = 900;
        QHash<QString, QPair<qint64, QString>> refusals;
        QHash<QString, std::shared_ptr<AnswerGate>> holds;
        QSet<qint64> liked;
        QHash<qint64, qint64> coins;
        QSet<qint64> following;
        QList<QString> danmaku;
        QList<QString> shares;
        QString challengeToken;
        int challenges = 0;
        QSet<qint64> watchLater;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace testsupport
