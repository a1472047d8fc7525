// Which screens pushed over a video page keep its playback going: each screen says so itself,
// and the page asks it, so a renamed class still answers for itself.
#include "../uikit/KitTestSupport.h"

#include "browse/KRSearchViewController.h"
#include "browse/KRUploaderViewController.h"
#include "model/KRComment.h"
#include "platform/uikit/ViewController.h"
#include "shared/KRCommentImageViewController.h"
#include "social/KRReplyThreadViewController.h"
#include "video/KRFavoriteFolderPickerViewController.h"
#include "video/KRVideoDetailViewController.h"

#include <memory>
#include <vector>

using namespace platform::uikit;

class ContinuingScreensTest : public KitTest {};

TEST_F(ContinuingScreensTest, TheFiveScreensOpenedFromThePlayerKeepItPlayingAndNoOtherDoes)
{
    auto root = std::make_shared<KRComment>();
    root->setRpid(11);
    root->setOid(22);
    std::vector<std::unique_ptr<ViewController>> continuing;
    continuing.push_back(std::make_unique<KRReplyThreadViewController>(root));
    continuing.push_back(std::make_unique<KRCommentImageViewController>(QStringList{QStringLiteral("https://example.invalid/a.jpg")}, 0));
    continuing.push_back(std::make_unique<KRUploaderViewController>(7, QStringLiteral("UP"), QString()));
    continuing.push_back(std::make_unique<KRFavoriteFolderPickerViewController>(22, QStringLiteral("视频"), [](bool, const QString&) {}));
    continuing.push_back(std::make_unique<KRSearchViewController>());

    // Pages of no video: nothing to look up in the offline store.
    KRVideoDetailViewController page(nullptr);
    for (const auto& screen : continuing) {
        SCOPED_TRACE(screen->metaObject()->className());
        EXPECT_TRUE(screen->keepsPresenterPlayback());
        EXPECT_TRUE(page.isPlaybackContinuingChildController(screen.get()));
    }

    // An ordinary screen, and another video page, stop what plays under them.
    ViewController plain;
    KRVideoDetailViewController another(nullptr);
    EXPECT_FALSE(plain.keepsPresenterPlayback());
    EXPECT_FALSE(another.keepsPresenterPlayback());
    EXPECT_FALSE(page.isPlaybackContinuingChildController(&plain));
    EXPECT_FALSE(page.isPlaybackContinuingChildController(&another));
    EXPECT_FALSE(page.isPlaybackContinuingChildController(nullptr));
}
