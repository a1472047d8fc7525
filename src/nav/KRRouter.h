#pragma once

#include "model/KRError.h"

#include <QString>
#include <QVariantMap>
#include <QtGlobal>

#include <functional>
#include <memory>

class KRComment;
class KRVideo;
class QObject;

namespace platform::uikit {
class NavigationController;
class ViewController;
}

// Where a page opened from elsewhere (an inbox message) shows its comments: as it would
// (None), at a thread's root and the reply to focus, or at one reply (0: the comments without
// focus).
struct KRCommentFocus {
    enum class Kind { None, AtRootRpid, AtRpid } kind = Kind::None;
    qint64 root = 0;
    qint64 target = 0;
    qint64 rpid = 0;
};

// How screens open one another without including one another: each route makes the screen it
// names, and the shell fills the routes at start-up. A screen asks the router and pushes what it
// gets; while a route is empty (a test that builds one screen alone) nothing is pushed.
struct KRRoutes {
    using Screen = platform::uikit::ViewController*;
    std::function<Screen(const std::shared_ptr<KRVideo>&, const KRCommentFocus&)> videoPage;
    std::function<Screen(qint64 mid, const QString& name, const QString& avatarURL)> uploaderPage;
    std::function<Screen(const std::shared_ptr<KRComment>& root, qint64 focusedReplyRpid)> replyThread;
    std::function<Screen(const QString& dynamicID, const KRCommentFocus&)> dynamicDetail;
    std::function<Screen(const QString& keyword)> tagSearch;
    std::function<Screen(const QString& feedType)> followingFeed;
    std::function<Screen(int tableStyle)> messageInbox;
    std::function<Screen()> qrLogin;
    // The captcha screen for the risk options a refused action carried; the completion runs
    // once, with the token or the error (1: cancelled or left).
    using GaiaCompletion = std::function<void(const QString& token, const KROptionalError& error)>;
    std::function<Screen(const QVariantMap& riskOptions, GaiaCompletion completion)> gaiaVerification;
};

class KRRouter {
public:
    // Replaces every route at once; the shell calls it before the first screen is built.
    static void install(KRRoutes routes);
    static const KRRoutes& routes();

    // Each pushes the route's screen onto `navigation` (animated) and answers whether it did.
    static bool openVideoPage(platform::uikit::NavigationController* navigation, const std::shared_ptr<KRVideo>& video,
                              const KRCommentFocus& focus = {});
    static bool openUploaderPage(platform::uikit::NavigationController* navigation, qint64 mid, const QString& name,
                                 const QString& avatarURL = {});
    static bool openReplyThread(platform::uikit::NavigationController* navigation,
                                const std::shared_ptr<KRComment>& root, qint64 focusedReplyRpid = 0);
    static bool openDynamicDetail(platform::uikit::NavigationController* navigation, const QString& dynamicID,
                                  const KRCommentFocus& focus = {});
    static bool openTagSearch(platform::uikit::NavigationController* navigation, const QString& keyword);
    static bool openFollowingFeed(platform::uikit::NavigationController* navigation, const QString& feedType);
    static bool openMessageInbox(platform::uikit::NavigationController* navigation, int tableStyle = 0);
    static bool openQRLogin(platform::uikit::NavigationController* navigation);
    // The completion is not called once `owner` has gone.
    static bool openGaiaVerification(platform::uikit::NavigationController* navigation, const QVariantMap& riskOptions,
                                     QObject* owner, KRRoutes::GaiaCompletion completion);
};
