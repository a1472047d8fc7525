#pragma once

// The comment pieces' rig: the browsing rig (fake service with the image CDN, a window with a
// tab whose stack the test fills) plus reply threads, the reply post and the emote packages.

#include "../browse/BrowseScreenTesting.h"

#include "model/KRComment.h"
#include "support/AccountFixtures.h"
#include "support/CommentFixtures.h"

#include <QTest>

#include <atomic>

namespace socialtest {

using namespace browsetest;
using namespace testsupport;

class SocialTest : public BrowseScreenTest {
protected:
    void SetUp() override
    {
        BrowseScreenTest::SetUp();
        CommentFixtures::installCommentRoutes(fake, &emotesFail);
    }

    // A root comment of kThreadOID as a list row would hand it over.
    static std::shared_ptr<KRComment> rootComment(qint64 rpid, qint32 type = 1, qint32 replyCount = 0)
    {
        auto root = std::make_shared<KRComment>();
        root->setRpid(rpid);
        root->setOid(CommentFixtures::kThreadOID);
        root->setType(type);
        root->setAuthorName(QStringLiteral("楼主"));
        root->setMessage(QStringLiteral("原评论正文"));
        root->setReplyCount(replyCount);
        return root;
    }
    static std::shared_ptr<KRComment> reply(qint64 rpid, const QString& author)
    {
        auto comment = std::make_shared<KRComment>();
        comment->setRpid(rpid);
        comment->setOid(CommentFixtures::kThreadOID);
        comment->setAuthorName(author);
        comment->setMessage(QStringLiteral("预览 %1").arg(rpid));
        return comment;
    }

    // A press and release at the middle of the view, sent to the window where it shows as a
    // user's tap arrives; the animations it starts run out.
    void clickThroughWindow(View* view)
    {
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(view->isVisible());
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, view->mapTo(window.get(), view->rect().center()));
        AnimationClock::finishAll();
    }

    // Requests whose path starts with `prefix` (the loader may add a size suffix).
    int requestsStartingWith(const QString& prefix) const
    {
        int n = 0;
        for (const FakeRequest& request : fake.requests())
            n += request.path.startsWith(prefix) ? 1 : 0;
        return n;
    }
    // A picture of this size at `path` on the image host, answered after `delayMs`.
    QString servePicture(const QString& path, int width, int height, int delayMs = 0)
    {
        fake.routeReply(testsupport::ImageFixtures::primaryHost(), path,
                        FakeReply{.body = testsupport::ImageFixtures::bitmap(width, height, quint32(path.size())),
                                  .contentType = QStringLiteral("image/bmp"), .delayMs = delayMs});
        return QStringLiteral("https://%1%2").arg(testsupport::ImageFixtures::primaryHost(), path);
    }

    std::atomic<bool> emotesFail{false};
};

} // namespace socialtest
