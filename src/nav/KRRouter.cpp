#include "nav/KRRouter.h"

#include "platform/uikit/NavigationController.h"
#include "platform/uikit/View.h"

#include <QPointer>

namespace {

KRRoutes& installedRoutes()
{
    static KRRoutes routes;
    return routes;
}

bool push(platform::uikit::NavigationController* navigation, platform::uikit::ViewController* screen)
{
    if (!screen)
        return false;
    if (!navigation) {
        delete screen;
        return false;
    }
    navigation->pushViewController(screen, true);
    return true;
}

template <typename Route, typename... Args>
bool open(platform::uikit::NavigationController* navigation, const Route& route, Args&&... args)
{
    if (!route || !navigation)
        return false;
    return push(navigation, route(std::forward<Args>(args)...));
}

} // namespace

void KRRouter::install(KRRoutes routes) { installedRoutes() = std::move(routes); }

const KRRoutes& KRRouter::routes() { return installedRoutes(); }

bool KRRouter::openVideoPage(platform::uikit::NavigationController* navigation, const std::shared_ptr<KRVideo>& video,
                             const KRCommentFocus& focus)
{
    return video && open(navigation, routes().videoPage, video, focus);
}

bool KRRouter::openUploaderPage(platform::uikit::NavigationController* navigation, qint64 mid, const QString& name,
                                const QString& avatarURL)
{
    // An id below 1 is an uploader whose id could not be read: the page says so ("UID 待解析")
    // and finds the videos by the name.
    return open(navigation, routes().uploaderPage, mid, name, avatarURL);
}

bool KRRouter::openReplyThread(platform::uikit::NavigationController* navigation,
                               const std::shared_ptr<KRComment>& root, qint64 focusedReplyRpid)
{
    return root && open(navigation, routes().replyThread, root, focusedReplyRpid);
}

bool KRRouter::openDynamicDetail(platform::uikit::NavigationController* navigation, const QString& dynamicID,
                                 const KRCommentFocus& focus)
{
    return !dynamicID.isEmpty() && open(navigation, routes().dynamicDetail, dynamicID, focus);
}

bool KRRouter::openTagSearch(platform::uikit::NavigationController* navigation, const QString& keyword)
{
    return !keyword.trimmed().isEmpty() && open(navigation, routes().tagSearch, keyword);
}

bool KRRouter::openFollowingFeed(platform::uikit::NavigationController* navigation, const QString& feedType)
{
    return open(navigation, routes().followingFeed, feedType);
}

bool KRRouter::openMessageInbox(platform::uikit::NavigationController* navigation, int tableStyle)
{
    return open(navigation, routes().messageInbox, tableStyle);
}

bool KRRouter::openQRLogin(platform::uikit::NavigationController* navigation)
{
    return open(navigation, routes().qrLogin);
}

bool KRRouter::openGaiaVerification(platform::uikit::NavigationController* navigation, const QVariantMap& riskOptions,
                                    QObject* owner, KRRoutes::GaiaCompletion completion)
{
    if (!owner || !completion)
        return false;
    KRRoutes::GaiaCompletion guarded = [owner = QPointer<QObject>(owner), completion = std::move(completion)](
                                           const QString& token, const KROptionalError& error) {
        if (owner)
            completion(token, error);
    };
    return open(navigation, routes().gaiaVerification, riskOptions, std::move(guarded));
}
