#include "platform/foundation/MainClock.h"
#include "PictureScreensTesting.h"

#include "platform/photos/PhotoLibrary.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/LongPressGestureRecognizer.h"
#include "platform/uikit/PageControl.h"
#include "platform/uikit/PushTransition.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/TextField.h"
#include "shared/KRCommentImageViewController.h"

#include <QImageReader>

using namespace picturetest;

namespace {

class CommentImageViewerTest : public PictureScreenTest {
protected:
    KRCommentImageViewController* open(const QStringList& urls, unsigned start)
    {
        viewer = push(new KRCommentImageViewController(urls, start));
        return viewer;
    }
    template <typename T>
    T* part(const char* name) const
    {
        return viewer->view()->findChild<T*>(QString::fromLatin1(name));
    }
    ImageView* imageView() const { return part<ImageView>("imageView"); }
    ScrollView* scrollView() const { return part<ScrollView>("imageScrollView"); }
    Button* retryButton() const { return part<Button>("retryButton"); }
    Label* saveStatus() const { return part<Label>("saveStatusLabel"); }
    LongPressGestureRecognizer* longPress() const { return imageView()->findChild<LongPressGestureRecognizer*>(); }
    void waitForPicture() const { KR_WAIT_UNTIL(!imageView()->image().isNull()); }
    // A finger's quick stroke across the picture, through the window.
    void swipe(int dx) const
    {
        ScrollView* s = scrollView();
        const QPoint from(187, 300);
        QTest::mousePress(s, Qt::LeftButton, {}, from);
        QTest::mouseMove(s, from + QPoint(dx / 2, 0));
        QTest::mouseMove(s, from + QPoint(dx, 0));
        QTest::mouseRelease(s, Qt::LeftButton, {}, from + QPoint(dx, 0));
    }
    static QStringList twelve()
    {
        QStringList urls;
        for (int i = 0; i < 12; ++i)
            urls.append(ImageFixtures::sizedPictureAddress(200 + i, 100, QStringLiteral("p%1").arg(i)));
        return urls;
    }
    void openSaveQuestion()
    {
        longPress()->beginPressForTesting(QPointF(10, 10));
        longPress()->endPressForTesting();
        ASSERT_NE(alert(), nullptr);
    }

    KRCommentImageViewController* viewer = nullptr;
};

TEST_F(CommentImageViewerTest, APictureIsFittedAndCentredOnBlack)
{
    open({ImageFixtures::sizedPictureAddress(100, 50, QStringLiteral("wide"))}, 0);
    EXPECT_EQ(viewer->view()->frame().size(), QSizeF(375, 603));
    EXPECT_TRUE(part<ActivityIndicatorView>("spinner")->isAnimating());
    waitForPicture();
    EXPECT_FALSE(part<ActivityIndicatorView>("spinner")->isAnimating());
    EXPECT_EQ(imageView()->frame(), QRectF(0, 208, 375, 187));
    EXPECT_TRUE(retryButton()->isHidden());
    // On screen: black above the picture, the picture inside it.
    const QImage shot = screen();
    const QPoint top = viewer->view()->mapTo(window.get(), QPoint(187, 200));
    const QPoint inside = viewer->view()->mapTo(window.get(), QPoint(187, 300));
    EXPECT_EQ(QColor(shot.pixel(top)), QColor(Qt::black));
    EXPECT_NE(QColor(shot.pixel(inside)), QColor(Qt::black));
    EXPECT_EQ(viewer->title(), QStringLiteral("图片"));
    EXPECT_EQ(imageView()->accessibilityLabel(), QStringLiteral("图片"));
    EXPECT_FALSE(viewer->shouldAutorotateToInterfaceOrientation(InterfaceOrientationLandscapeLeft));
    EXPECT_TRUE(viewer->hidesBottomBarWhenPushed());
}

TEST_F(CommentImageViewerTest, PageDotsSaveLabelAndTheValueOfThePicture)
{
    open(twelve(), 8);
    auto* pages = part<PageControl>("pageControl");
    EXPECT_EQ(pages->frame(), QRectF(0, 568, 375, 24));
    EXPECT_EQ(pages->numberOfPages(), 12);
    EXPECT_EQ(pages->currentPage(), 8);
    EXPECT_TRUE(pages->showsIndicators());
    EXPECT_EQ(pages->accessibilityLabel(), QStringLiteral("图片页数"));
    EXPECT_EQ(saveStatus()->frame(), QRectF(112, 527, 150, 30));
    EXPECT_TRUE(saveStatus()->isHidden());
    EXPECT_EQ(imageView()->accessibilityValue(), QStringLiteral("第 9 张，共 12 张"));
    waitForPicture();
}

TEST_F(CommentImageViewerTest, EmptyAddressesAreDroppedAndTheStartStaysInRange)
{
    const QString only = ImageFixtures::sizedPictureAddress(100, 50, QStringLiteral("only"));
    open({QString(), only, QStringLiteral("")}, 7);
    EXPECT_EQ(viewer->imageURLs(), QStringList{only});
    EXPECT_EQ(viewer->currentIndex(), 0u);
    EXPECT_FALSE(part<PageControl>("pageControl")->showsIndicators());
    waitForPicture();
    EXPECT_EQ(requestsTo(only), 1);
}

TEST_F(CommentImageViewerTest, AnEmptyListOffersARetryWithNothingToRetry)
{
    open({}, 3);
    EXPECT_FALSE(retryButton()->isHidden());
    EXPECT_FALSE(part<ActivityIndicatorView>("spinner")->isAnimating());
    click(retryButton());
    EXPECT_FALSE(retryButton()->isHidden());
    EXPECT_TRUE(fake.requests().isEmpty());
}

TEST_F(CommentImageViewerTest, SwipesPageOnlyAtRestAndWithinTheList)
{
    const QStringList urls = twelve();
    open(urls, 0);
    waitForPicture();
    // A right swipe on the first picture does nothing.
    swipe(120);
    EXPECT_EQ(viewer->currentIndex(), 0u);
    EXPECT_EQ(requestsTo(urls[1]), 0);

    // Zoomed to 1.5 by a pinch: no swipe.
    scrollView()->beginPinchForTesting(QPointF(187, 300));
    scrollView()->pinchForTesting(1.5);
    scrollView()->endPinchForTesting();
    AnimationClock::finishAll();
    EXPECT_DOUBLE_EQ(scrollView()->zoomScale(), 1.5);
    swipe(-120);
    EXPECT_EQ(viewer->currentIndex(), 0u);

    // A double tap goes back to 1; then a left swipe pages, sliding the picture in from the right.
    QTest::mouseClick(scrollView(), Qt::LeftButton, {}, QPoint(187, 300));
    QTest::mouseClick(scrollView(), Qt::LeftButton, {}, QPoint(187, 300));
    AnimationClock::finishAll();
    ASSERT_DOUBLE_EQ(scrollView()->zoomScale(), 1);
    swipe(-120);
    EXPECT_EQ(viewer->currentIndex(), 1u);
    EXPECT_TRUE(PushTransition::isRunning(imageView(), QStringLiteral("KRCommentPicturePage")));
    EXPECT_GT(imageView()->geometry().left(), 300);
    AnimationClock::advance(0.3);
    EXPECT_FALSE(PushTransition::isRunning(imageView(), QStringLiteral("KRCommentPicturePage")));
    KR_WAIT_UNTIL(requestsTo(urls[1]) == 1);
    waitForPicture();
    EXPECT_EQ(imageView()->accessibilityValue(), QStringLiteral("第 2 张，共 12 张"));
    EXPECT_EQ(part<PageControl>("pageControl")->currentPage(), 1);

    // A left swipe on the last picture does nothing.
    viewer->showImageAtIndex(11, 0);
    waitForPicture();
    swipe(-120);
    EXPECT_EQ(viewer->currentIndex(), 11u);
    swipe(120);
    EXPECT_EQ(viewer->currentIndex(), 10u);
}

TEST_F(CommentImageViewerTest, ADoubleTapZoomsOnTheTappedPointAndBack)
{
    open({ImageFixtures::sizedPictureAddress(100, 50, QStringLiteral("wide"))}, 0);
    // Without a picture a double tap does nothing.
    QTest::mouseClick(scrollView(), Qt::LeftButton, {}, QPoint(100, 300));
    QTest::mouseClick(scrollView(), Qt::LeftButton, {}, QPoint(100, 300));
    EXPECT_EQ(scrollView()->zoomScale(), 1);
    waitForPicture();
    QTest::mouseClick(scrollView(), Qt::LeftButton, {}, QPoint(100, 300));
    QTest::mouseClick(scrollView(), Qt::LeftButton, {}, QPoint(100, 300));
    AnimationClock::finishAll();
    EXPECT_DOUBLE_EQ(scrollView()->zoomScale(), 2.5);
    EXPECT_EQ(imageView()->frame().size(), QSizeF(937.5, 467.5));
    // Centred vertically (shorter than the view), the tapped point's column in the middle.
    EXPECT_EQ(imageView()->frame().top(), std::floor((603 - 467.5) / 2));
    EXPECT_NEAR(scrollView()->contentOffset().x(), 100 * 2.5 - 187.5, 0.5);
    QTest::mouseClick(scrollView(), Qt::LeftButton, {}, QPoint(100, 300));
    QTest::mouseClick(scrollView(), Qt::LeftButton, {}, QPoint(100, 300));
    AnimationClock::finishAll();
    EXPECT_DOUBLE_EQ(scrollView()->zoomScale(), 1);
    EXPECT_EQ(imageView()->frame(), QRectF(0, 208, 375, 187));
}

TEST_F(CommentImageViewerTest, AFailedLoadIsRetriedFromTheButton)
{
    const QString missing = ImageFixtures::missingPictureAddress(QStringLiteral("gone"));
    open({missing}, 0);
    KR_WAIT_UNTIL(!retryButton()->isHidden());
    EXPECT_EQ(retryButton()->currentTitle(), QStringLiteral("图片加载失败，点击重试"));
    EXPECT_TRUE(imageView()->image().isNull());
    EXPECT_EQ(requestsTo(missing), 1);
    // The failed picture fills the view's place, so a long press offers nothing to save.
    EXPECT_EQ(imageView()->frame(), QRectF(0, 0, 375, 603));
    longPress()->beginPressForTesting(QPointF(10, 10));
    longPress()->endPressForTesting();
    EXPECT_EQ(alert(), nullptr);

    click(retryButton());
    EXPECT_TRUE(retryButton()->isHidden());
    KR_WAIT_UNTIL(requestsTo(missing) == 2);
    KR_WAIT_UNTIL(!retryButton()->isHidden());
}

TEST_F(CommentImageViewerTest, ALateAnswerForAPictureLeftBehindIsIgnored)
{
    ImageFixtures::holdSlowPictures();
    const QString slow = ImageFixtures::slowPictureAddress(QStringLiteral("late"));
    const QString next = ImageFixtures::sizedPictureAddress(120, 60, QStringLiteral("next"));
    open({slow, next}, 0);
    KR_WAIT_UNTIL(requestsTo(slow) == 1);
    swipe(-120);
    ASSERT_EQ(viewer->currentIndex(), 1u);
    waitForPicture();
    EXPECT_EQ(imageView()->image().size(), QSizeF(120, 60));
    ImageFixtures::releaseSlowPictures();
    KR_WAIT_UNTIL(KRImageLoader::sharedLoader()->downloadCountForTesting() == 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(imageView()->image().size(), QSizeF(120, 60));
    EXPECT_EQ(viewer->currentIndex(), 1u);
}

TEST_F(CommentImageViewerTest, TwoLongPressesAskOneQuestion)
{
    open({ImageFixtures::sizedPictureAddress(100, 50, QStringLiteral("wide"))}, 0);
    waitForPicture();
    // A finger held on the picture, through the window.
    const QPoint at = imageView()->rect().center();
    QTest::mousePress(imageView(), Qt::LeftButton, {}, at);
    platform::MainClock::advanceForTesting(longPress()->minimumPressDuration() - 0.01);
    EXPECT_EQ(alert(), nullptr);
    platform::MainClock::advanceForTesting(0.02);
    ASSERT_NE(alert(), nullptr);
    QTest::mouseRelease(imageView(), Qt::LeftButton, {}, at);
    longPress()->beginPressForTesting(QPointF(10, 10));
    longPress()->endPressForTesting();
    AlertView* question = alert();
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(question->title(), QStringLiteral("保存图片"));
    EXPECT_EQ(question->message(), QStringLiteral("是否将这张评论图片保存到相册？"));
    EXPECT_EQ(question->buttonTitles(), (QStringList{QStringLiteral("取消"), QStringLiteral("保存")}));
    EXPECT_EQ(question->tag(), KRCommentImageViewController::kSaveAlertTag);
    question->tapButtonForTesting(0);
    flushDeferredDeletes();
    EXPECT_EQ(alert(), nullptr);
    EXPECT_TRUE(albumFiles().isEmpty());
    // Cancelled, the next press asks again.
    openSaveQuestion();
}

TEST_F(CommentImageViewerTest, SavingWritesANewJPEGAndSaysSoForAWhile)
{
    open({ImageFixtures::sizedPictureAddress(100, 50, QStringLiteral("wide"))}, 0);
    waitForPicture();
    openSaveQuestion();
    alert()->tapButtonForTesting(1);
    EXPECT_FALSE(saveStatus()->isHidden());
    EXPECT_EQ(saveStatus()->text(), QStringLiteral("正在保存到相册…"));
    KR_WAIT_UNTIL(saveStatus()->text() == QStringLiteral("已保存到相册"));
    ASSERT_EQ(albumFiles().size(), 1);
    QImageReader reader(album + QLatin1Char('/') + albumFiles().first());
    EXPECT_EQ(reader.format(), QByteArray("jpeg"));
    EXPECT_EQ(reader.size(), QSize(100, 50));
    EXPECT_FALSE(saveStatus()->isHidden());
    // Hidden 1.35 s after it was last shown.
    platform::MainClock::advanceForTesting(1.34);
    EXPECT_FALSE(saveStatus()->isHidden());
    platform::MainClock::advanceForTesting(0.02);
    EXPECT_TRUE(saveStatus()->isHidden());

    // The next save may start once this one has ended; a refused write says so.
    platform::photos::PhotoLibrary::failNextSaveForTesting();
    openSaveQuestion();
    alert()->tapButtonForTesting(1);
    KR_WAIT_UNTIL(saveStatus()->text() == QStringLiteral("保存失败，请重试"));
    EXPECT_EQ(albumFiles().size(), 1);
}

TEST_F(CommentImageViewerTest, AViewerPoppedDuringASaveShowsNothingAndStaysSafe)
{
    open({ImageFixtures::sizedPictureAddress(100, 50, QStringLiteral("wide"))}, 0);
    waitForPicture();
    openSaveQuestion();
    alert()->tapButtonForTesting(1);
    QPointer<KRCommentImageViewController> watched(viewer);
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    flushDeferredDeletes();
    EXPECT_TRUE(watched.isNull());
    // The picture was asked for, so it is kept; nothing is shown for it.
    KR_WAIT_UNTIL(albumFiles().size() == 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(alert(), nullptr);
    EXPECT_TRUE(window->findChildren<Label*>(QStringLiteral("saveStatusLabel")).isEmpty());
}

TEST_F(CommentImageViewerTest, AQuestionAnsweredAfterTheViewerWentDoesNothing)
{
    open({ImageFixtures::sizedPictureAddress(100, 50, QStringLiteral("wide"))}, 0);
    waitForPicture();
    openSaveQuestion();
    QPointer<AlertView> question(alert());
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    flushDeferredDeletes();
    ASSERT_FALSE(question.isNull());
    question->tapButtonForTesting(1);
    flushDeferredDeletes();
    QCoreApplication::processEvents();
    EXPECT_TRUE(albumFiles().isEmpty());
}

TEST_F(CommentImageViewerTest, AKeyboardLeftOpenBelowIsClosed)
{
    auto* field = new TextField(QRectF(10, 100, 200, 30), nav->topViewController()->view());
    field->becomeFirstResponder();
    ASSERT_TRUE(field->isFirstResponder());
    open({ImageFixtures::sizedPictureAddress(100, 50, QStringLiteral("wide"))}, 0);
    EXPECT_FALSE(field->isFirstResponder());
    waitForPicture();
}

} // namespace
