#include "shared/KRCommentImageViewController.h"

#include "look/KRTheme.h"
#include "platform/foundation/DelayedCall.h"
#include "platform/photos/PhotoLibrary.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/LongPressGestureRecognizer.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/PageControl.h"
#include "platform/uikit/PushTransition.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/SwipeGestureRecognizer.h"
#include "platform/uikit/TapGestureRecognizer.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/Window.h"
#include "images/KRImageLoader.h"

#include <QPointer>

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

namespace {
const QString kHideSaveStatus = QStringLiteral("hideSaveStatus");
const QString kPageTransitionKey = QStringLiteral("KRCommentPicturePage");
constexpr double kPageTransitionSeconds = 0.22;
constexpr int kHideSaveStatusMs = 1350;
constexpr qreal kZoomedBeyond = 1.01;
constexpr qreal kDoubleTapScale = 2.5;
} // namespace

KRCommentImageViewController::KRCommentImageViewController(const QStringList& imageURLs, unsigned startIndex, QObject* parent)
    : ViewController(parent)
    , m_delayed(std::make_unique<platform::DelayedCalls>())
    , m_photoLibrary(std::make_unique<platform::photos::PhotoLibrary>())
{
    for (const QString& address : imageURLs) {
        if (!address.isEmpty())
            m_imageURLs.append(address);
    }
    m_currentIndex = m_imageURLs.isEmpty() ? 0 : std::min<unsigned>(startIndex, unsigned(m_imageURLs.size()) - 1);
    setHidesBottomBarWhenPushed(true);
}

KRCommentImageViewController::~KRCommentImageViewController()
{
    // A picture still loading finds a newer generation, and a save still running finds no
    // owner: nothing reaches the views as they go.
    ++m_requestGeneration;
    m_delayed->cancelAll();
    m_themeObserver.reset();
    if (m_imageScrollView)
        m_imageScrollView->setDelegate(nullptr);
}

void KRCommentImageViewController::viewDidLoad()
{
    setTitle(QStringLiteral("图片"));
    View* root = view();
    root->setBackgroundColor(QColor(Qt::black));
    root->setOpaque(true);
    navigationItem()->setRightBarButtonItem(nullptr);
    const QRectF bounds = root->bounds();

    m_imageScrollView = new ScrollView(bounds, root);
    m_imageScrollView->setObjectName(QStringLiteral("imageScrollView"));
    m_imageScrollView->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    m_imageScrollView->setBackgroundColor(QColor(Qt::black));
    m_imageScrollView->setOpaque(true);
    m_imageScrollView->setMinimumZoomScale(1);
    m_imageScrollView->setMaximumZoomScale(4);
    m_imageScrollView->setBouncesZoom(true);
    m_imageScrollView->setShowsVerticalScrollIndicator(false);
    m_imageScrollView->setDelegate(this);

    m_imageView = new ImageView(bounds, m_imageScrollView);
    m_imageView->setObjectName(QStringLiteral("imageView"));
    m_imageView->setContentMode(ContentModeScaleAspectFit);
    m_imageView->setBackgroundColor(QColor(Qt::transparent));
    m_imageView->setOpaque(false);
    m_imageView->setAccessibilityLabel(QStringLiteral("图片"));
    m_imageView->setUserInteractionEnabled(true);

    m_spinner = new ActivityIndicatorView(ActivityIndicatorStyleWhiteLarge, root);
    m_spinner->setObjectName(QStringLiteral("spinner"));
    m_spinner->setHidesWhenStopped(true);

    m_retryButton = new Button(ButtonTypeCustom, QRectF(42, 0, std::max<qreal>(bounds.width() - 84, 160), 44), root);
    m_retryButton->setObjectName(QStringLiteral("retryButton"));
    m_retryButton->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleTopMargin | AutoresizingFlexibleBottomMargin);
    m_retryButton->titleLabel()->setFont(Label::systemFont(13, true));
    m_retryButton->setTitle(QStringLiteral("图片加载失败，点击重试"), ControlStateNormal);
    m_retryButton->setTitleColor(Qt::white, ControlStateNormal);
    m_retryButton->setHidden(true);
    m_retryButton->addTarget(ControlEventTouchUpInside, [this] { retryTapped(); });

    m_pageControl = new PageControl(QRectF(), root);
    m_pageControl->setObjectName(QStringLiteral("pageControl"));
    m_pageControl->setNumberOfPages(int(m_imageURLs.size()));
    m_pageControl->setHidesForSinglePage(true);
    m_pageControl->setUserInteractionEnabled(false);
    m_pageControl->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleTopMargin);
    m_pageControl->setAccessibilityLabel(QStringLiteral("图片页数"));

    m_saveStatusLabel = new Label(QRectF(), root);
    m_saveStatusLabel->setObjectName(QStringLiteral("saveStatusLabel"));
    m_saveStatusLabel->setBackgroundColor(QColor(0, 0, 0, int(std::lround(0.72 * 255))));
    m_saveStatusLabel->setOpaque(false);
    m_saveStatusLabel->setTextColor(Qt::white);
    m_saveStatusLabel->setFont(Label::systemFont(12, true));
    m_saveStatusLabel->setTextAlignment(TextAlignmentCenter);
    m_saveStatusLabel->setCornerRadius(5);
    m_saveStatusLabel->setHidden(true);

    m_doubleTapRecognizer = new TapGestureRecognizer(m_imageScrollView, [this] { doubleTapped(); });
    m_doubleTapRecognizer->setNumberOfTapsRequired(2);
    m_leftSwipeRecognizer = new SwipeGestureRecognizer(m_imageScrollView, [this] { swiped(m_leftSwipeRecognizer); });
    m_leftSwipeRecognizer->setDirection(SwipeDirectionLeft);
    m_leftSwipeRecognizer->setShouldBegin([this] { return gestureRecognizerShouldBegin(m_leftSwipeRecognizer); });
    m_rightSwipeRecognizer = new SwipeGestureRecognizer(m_imageScrollView, [this] { swiped(m_rightSwipeRecognizer); });
    m_rightSwipeRecognizer->setDirection(SwipeDirectionRight);
    m_rightSwipeRecognizer->setShouldBegin([this] { return gestureRecognizerShouldBegin(m_rightSwipeRecognizer); });
    m_saveRecognizer = new LongPressGestureRecognizer(m_imageView, [this] { saveLongPressed(); });
    m_saveRecognizer->setMinimumPressDuration(0.65);
    m_saveRecognizer->setShouldBegin([this] { return gestureRecognizerShouldBegin(m_saveRecognizer); });

    m_themeObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) { applyTheme(); });
    applyTheme();
    showImageAtIndex(m_currentIndex, 0);
}

void KRCommentImageViewController::endEditingAround()
{
    // Closes any keyboard left open by the screen below: the field holding the focus in the
    // navigation view or the window resigns it.
    QList<View*> scopes;
    if (NavigationController* nav = navigationController())
        scopes.append(nav->view());
    if (Window* window = view()->window())
        scopes.append(window);
    for (View* scope : scopes) {
        for (TextField* field : scope->findChildren<TextField*>()) {
            if (field->isFirstResponder())
                field->resignFirstResponder();
        }
    }
}

void KRCommentImageViewController::viewWillAppear(bool animated)
{
    ViewController::viewWillAppear(animated);
    view()->setHidden(false);
    endEditingAround();
}

void KRCommentImageViewController::viewDidAppear(bool animated)
{
    ViewController::viewDidAppear(animated);
    endEditingAround();
}

void KRCommentImageViewController::applyTheme()
{
    if (!isViewLoaded())
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    navigationItem()->setTitleView(theme->navigationTitleLabelWithText(QStringLiteral("图片")));
    m_retryButton->setTitleColor(theme->accentColor(), ControlStateHighlighted);
}

void KRCommentImageViewController::viewDidLayoutSubviews()
{
    ViewController::viewDidLayoutSubviews();
    const QRectF bounds = view()->bounds();
    const qreal w = bounds.width(), h = bounds.height();
    m_imageScrollView->setFrame(QRectF(0, 0, w, h));
    m_spinner->setCenter(QPointF(w / 2, h / 2));
    m_retryButton->setCenter(m_spinner->center());
    m_pageControl->setFrame(QRectF(0, std::max<qreal>(h - 35, 0), w, 24));
    m_saveStatusLabel->setFrame(QRectF(std::floor((w - 150) / 2), std::max<qreal>(h - 76, 18), 150, 30));
    layoutCurrentImage();
}

void KRCommentImageViewController::showImageAtIndex(unsigned index, int direction)
{
    if (index >= unsigned(m_imageURLs.size())) {
        m_spinner->stopAnimating();
        m_retryButton->setHidden(false);
        return;
    }
    m_currentIndex = index;
    m_pageControl->setCurrentPage(int(index));
    m_imageView->setAccessibilityValue(QStringLiteral("第 %1 张，共 %2 张").arg(index + 1).arg(m_imageURLs.size()));

    const qint32 generation = ++m_requestGeneration;
    m_retryButton->setHidden(true);
    m_imageView->setImage(Image());
    m_imageScrollView->setZoomScale(1, false);
    layoutCurrentImage();
    m_spinner->startAnimating();
    if (direction != 0)
        PushTransition::add(m_imageView, direction > 0 ? TransitionFromRight : TransitionFromLeft, kPageTransitionSeconds,
                            kPageTransitionKey);

    KRImageLoader::sharedLoader()->loadFullImageForURLString(
        m_imageURLs.at(int(index)), this, [this, generation, index](const Image& image) {
            if (generation != m_requestGeneration || index != m_currentIndex)
                return;
            m_spinner->stopAnimating();
            m_imageView->setImage(image);
            m_retryButton->setHidden(!image.isNull());
            layoutCurrentImage();
        });
}

void KRCommentImageViewController::layoutCurrentImage()
{
    if (!m_imageScrollView || !m_imageView)
        return;
    m_imageScrollView->setZoomScale(1, false);
    const QSizeF b = m_imageScrollView->bounds().size();
    const Image image = m_imageView->image();
    QSizeF picture = b;
    if (!image.isNull() && image.size().width() > 0 && image.size().height() > 0)
        picture = image.size();
    qreal scale = std::min(b.width() / picture.width(), b.height() / picture.height());
    if (!(scale > 0))
        scale = 1;
    const QSizeF fitted(std::max<qreal>(1, std::floor(picture.width() * scale)), std::max<qreal>(1, std::floor(picture.height() * scale)));
    m_imageView->setFrame(QRectF(std::floor((b.width() - fitted.width()) / 2), std::floor((b.height() - fitted.height()) / 2),
                                 fitted.width(), fitted.height()));
    m_imageScrollView->setContentSize(b);
}

View* KRCommentImageViewController::viewForZoomingInScrollView(ScrollView* scrollView)
{
    return scrollView == m_imageScrollView ? m_imageView : nullptr;
}

void KRCommentImageViewController::scrollViewDidZoom(ScrollView* scrollView)
{
    if (scrollView != m_imageScrollView)
        return;
    const QSizeF b = scrollView->bounds().size();
    const QRectF f = m_imageView->frame();
    const qreal x = f.width() < b.width() ? std::floor((b.width() - f.width()) / 2) : 0;
    const qreal y = f.height() < b.height() ? std::floor((b.height() - f.height()) / 2) : 0;
    m_imageView->setFrame(QRectF(x, y, f.width(), f.height()));
}

bool KRCommentImageViewController::gestureRecognizerShouldBegin(QObject* recognizer)
{
    if (recognizer == m_leftSwipeRecognizer || recognizer == m_rightSwipeRecognizer)
        return m_imageScrollView->zoomScale() <= kZoomedBeyond && m_imageURLs.size() > 1;
    return true;
}

void KRCommentImageViewController::doubleTapped()
{
    if (m_imageView->image().isNull())
        return;
    if (m_imageScrollView->zoomScale() > kZoomedBeyond) {
        m_imageScrollView->setZoomScale(1, true);
        return;
    }
    const qreal s = std::min(m_imageScrollView->maximumZoomScale(), kDoubleTapScale);
    const QSizeF b = m_imageScrollView->bounds().size();
    // The tap in the image view's own (unscaled) coordinates.
    const QPointF inContent = m_doubleTapRecognizer->location() + m_imageScrollView->contentOffset();
    const QPointF at = (inContent - m_imageView->frame().topLeft()) / m_imageScrollView->zoomScale();
    const QSizeF size(b.width() / s, b.height() / s);
    m_imageScrollView->zoomToRect(QRectF(at.x() - size.width() / 2, at.y() - size.height() / 2, size.width(), size.height()), true);
}

void KRCommentImageViewController::swiped(SwipeGestureRecognizer* recognizer)
{
    if (recognizer->state() != GestureStateEnded || m_imageScrollView->zoomScale() > kZoomedBeyond)
        return;
    if (recognizer->direction() & SwipeDirectionLeft) {
        if (m_currentIndex + 1 < unsigned(m_imageURLs.size()))
            showImageAtIndex(m_currentIndex + 1, 1);
    } else if (recognizer->direction() & SwipeDirectionRight) {
        if (m_currentIndex > 0)
            showImageAtIndex(m_currentIndex - 1, -1);
    }
}

void KRCommentImageViewController::saveLongPressed()
{
    if (m_saveRecognizer->state() != GestureStateBegan)
        return;
    const Image image = m_imageView->image();
    if (image.isNull() || !m_pendingSaveImage.isNull())
        return;
    m_pendingSaveImage = image;
    auto* alert = new AlertView(QStringLiteral("保存图片"), QStringLiteral("是否将这张评论图片保存到相册？"),
                                QStringLiteral("取消"), {QStringLiteral("保存")}, this,
                                [this](int index) { alertViewClickedButtonAtIndex(kSaveAlertTag, index); });
    alert->setTag(kSaveAlertTag);
    alert->show();
}

void KRCommentImageViewController::alertViewClickedButtonAtIndex(int tag, int buttonIndex)
{
    if (tag != kSaveAlertTag)
        return;
    if (buttonIndex == 1 && !m_pendingSaveImage.isNull()) {
        showSaveStatus(QStringLiteral("正在保存到相册…"));
        m_photoLibrary->saveImage(m_pendingSaveImage.image(), this,
                                  [this](const QString&, const std::optional<platform::Error>& error) {
                                      imageDidFinishSaving(error.has_value());
                                  });
        return;
    }
    m_pendingSaveImage = Image();
}

void KRCommentImageViewController::imageDidFinishSaving(bool failed)
{
    m_pendingSaveImage = Image();
    showSaveStatus(failed ? QStringLiteral("保存失败，请重试") : QStringLiteral("已保存到相册"));
}

void KRCommentImageViewController::showSaveStatus(const QString& text)
{
    m_delayed->cancel(kHideSaveStatus);
    m_saveStatusLabel->setText(text);
    m_saveStatusLabel->setHidden(false);
    m_saveStatusLabel->raise();
    m_delayed->schedule(kHideSaveStatus, kHideSaveStatusMs, [this] { hideSaveStatus(); });
}

void KRCommentImageViewController::hideSaveStatus() { m_saveStatusLabel->setHidden(true); }

void KRCommentImageViewController::retryTapped() { showImageAtIndex(m_currentIndex, 0); }

int KRCommentImageViewController::supportedInterfaceOrientations() { return InterfaceOrientationMaskPortrait; }

bool KRCommentImageViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    return orientation == InterfaceOrientationPortrait;
}
