#pragma once

#include "browse/KRSearchViewController.h"
#include "browse/KRUploaderViewController.h"
#include "nav/KRRouter.h"
#include "social/KRDynamicDetailViewController.h"
#include "social/KRFollowingViewController.h"
#include "social/KRMessageViewController.h"
#include "social/KRReplyThreadViewController.h"
#include "video/KRVideoDetailViewController.h"

// The routes of the screens that open one another, every one but the QR login, whose folder
// brings the web engine; the shell adds it. Inline, so that the screens' tests fill the routes
// as the application does without linking the shell and what it brings.
inline KRRoutes KRScreenRoutes()
{
    KRRoutes routes;
    routes.videoPage = [](const std::shared_ptr<KRVideo>& video, const KRCommentFocus& focus) -> KRRoutes::Screen {
        auto* page = new KRVideoDetailViewController(video);
        switch (focus.kind) {
        case KRCommentFocus::Kind::None:
            break;
        case KRCommentFocus::Kind::AtRootRpid:
            page->showCommentsWhenPresentedAtRootRpid(focus.root, focus.target);
            break;
        case KRCommentFocus::Kind::AtRpid:
            page->showCommentsWhenPresentedAtRpid(focus.rpid);
            break;
        }
        return page;
    };
    routes.uploaderPage = [](qint64 mid, const QString& name, const QString& avatarURL) -> KRRoutes::Screen {
        return new KRUploaderViewController(mid, name, avatarURL);
    };
    routes.replyThread = [](const std::shared_ptr<KRComment>& root, qint64 focusedReplyRpid) -> KRRoutes::Screen {
        return new KRReplyThreadViewController(root, focusedReplyRpid);
    };
    routes.dynamicDetail = [](const QString& dynamicID, const KRCommentFocus& focus) -> KRRoutes::Screen {
        auto* detail = new KRDynamicDetailViewController(dynamicID);
        switch (focus.kind) {
        case KRCommentFocus::Kind::None:
            break;
        case KRCommentFocus::Kind::AtRootRpid:
            detail->showCommentsAtRootRpid(focus.root, focus.target);
            break;
        case KRCommentFocus::Kind::AtRpid:
            detail->showCommentsAtRpid(focus.rpid);
            break;
        }
        return detail;
    };
    routes.tagSearch = [](const QString& keyword) -> KRRoutes::Screen { return new KRSearchViewController(keyword); };
    routes.followingFeed = [](const QString& feedType) -> KRRoutes::Screen {
        return new KRFollowingViewController(feedType);
    };
    routes.messageInbox = [](int tableStyle) -> KRRoutes::Screen { return new KRMessageViewController(tableStyle); };
    return routes;
}
