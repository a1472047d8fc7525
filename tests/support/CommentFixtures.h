#pragma once

#include "support/FakeService.h"

#include <QString>
#include <QtGlobal>

#include <QList>
#include <QVariantMap>

#include <atomic>
#include <memory>
#include <mutex>

namespace testsupport {

// The comment pieces' part of the fake service: reply threads under the comments of
// kThreadOID, the reply post (CSRF-checked) and the reply emote packages.
namespace CommentFixtures {

constexpr qint64 kThreadOID = 180001;
// 45 replies, 20 a page: page 2 starts with the last two replies of page 1 again, and reply
// 11 has rpid 0.
constexpr qint64 kThread45Root = 9100045;
constexpr int kThread45Count = 45;
// 200 replies, 20 a page; kFocusedRpid is on page 5 and page kFailingPage answers 500.
constexpr qint64 kThread200Root = 9100200;
constexpr qint64 kFocusedRpid = kThread200Root * 1000 + 86;
constexpr int kFailingPage = 10;
// No replies at all.
constexpr qint64 kEmptyRoot = 9100000;
// The rpid of reply i (0-based) of a thread.
qint64 replyRpid(qint64 root, int index);

// Messages containing this are refused with kRefusalMessage.
inline const QString kRefusedWord = QStringLiteral("敏感");
inline const QString kRefusalMessage = QStringLiteral("内容含有敏感词");
// The rpid the next accepted post gets.
constexpr qint64 kPostedRpid = 77000001;

// Entry i of emote package p (both from 0): "[p_i]"; entries 5 and 6 of package 0 have an
// empty "url". Three packages of 50.
QString emoteToken(int package, int index);
QString emoteURL(int package, int index);

// What accepted posts leave behind, for comment pages that show them (the demo's): each post gets
// an rpid of its own from kPostedRpid on, the demo account as its member, its pictures and the
// emotes of the packages its message names.
struct PostedComments {
    // Comment objects as the post's answer carried them, each with its "type" and "oid".
    QList<QVariantMap> on(qint32 type, qint64 oid, qint64 root) const; // newest first; root 0: top-level
    qint64 count(qint32 type, qint64 oid) const;                       // replies included
    QVariantMap find(qint32 type, qint64 oid, qint64 rpid) const;      // empty when none
    mutable std::mutex lock;
    qint64 nextRpid = kPostedRpid;
    QList<QVariantMap> comments; // in posting order
};

// Reply threads, "/x/v2/reply/add" and "/x/emote/package" on the API host; "/x/emote/package"
// fails with 500 while `emotesFail` is set.
void installCommentRoutes(FakeService& service, std::atomic<bool>* emotesFail = nullptr);
// The post and the emote packages alone, the posts kept in `posted`.
void installPostAndEmoteRoutes(FakeService& service, const std::shared_ptr<PostedComments>& posted);

} // namespace CommentFixtures
} // namespace testsupport
