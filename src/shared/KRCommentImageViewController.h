#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/ScrollViewDelegate.h"
#include "platform/uikit/ViewController.h"

#include <QPointer>
#include <QStringList>

#include <memory>

namespace platform {
class DelayedCalls;
}
namespace platform::photos {
class PhotoLibrary;
}
namespace platform::uikit {
class ActivityIndicatorView;
class Button;
class ImageView;
class Label;
class LongPressGestureRecognizer;
class PageControl;
class SwipeGestureRecognizer;
class TapGestureRecognizer;
}

// The pictures of a comment or a dynamic one at a time on black: pinch and double-tap zoom,
// swipes to the neighbours, page dots, a retry button when a load fails, and saving to the
// photo album by a long press. Hosts push it with the addresses and the tapped index; empty
// addresses are dropped.
class KRCommentImageViewController : public platform::uikit::ViewController, public platform::uikit::ScrollViewDelegate {
    Q_OBJECT
public:
    bool keepsPresenterPlayback() const override { return true; }
    static constexpr int kSaveAlertTag = 6401;

    KRCommentImageViewController(const QStringList& imageURLs, unsigned startIndex, QObject* parent = nullptr);
    ~KRCommentImageViewController() override;

    QStringList imageURLs() const { return m_imageURLs; }
    unsigned currentIndex() const { return m_currentIndex; }

    void applyTheme();
    // direction: 0 none, positive the next picture, negative the previous one.
    void showImageAtIndex(unsigned index, int direction);
    void layoutCurrentImage();
    bool gestureRecognizerShouldBegin(QObject* recognizer);
    void doubleTapped();
    void swiped(platform::uikit::SwipeGestureRecognizer* recognizer);
    void saveLongPressed();
    void alertViewClickedButtonAtIndex(int tag, int buttonIndex);
    void imageDidFinishSaving(bool failed);
    void showSaveStatus(const QString& text);
    void hideSaveStatus();
    void retryTapped();

    platform::uikit::View* viewForZoomingInScrollView(platform::uikit::ScrollView* scrollView) override;
    void scrollViewDidZoom(platform::uikit::ScrollView* scrollView) override;

    int supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewDidLayoutSubviews() override;

private:
    void endEditingAround();

    QStringList m_imageURLs;
    unsigned m_currentIndex = 0;
    // The window may delete the views before their controller.
    QPointer<platform::uikit::ScrollView> m_imageScrollView;
    platform::uikit::ImageView* m_imageView = nullptr;
    platform::uikit::ActivityIndicatorView* m_spinner = nullptr;
    platform::uikit::Button* m_retryButton = nullptr;
    platform::uikit::PageControl* m_pageControl = nullptr;
    platform::uikit::Label* m_saveStatusLabel = nullptr;
    platform::uikit::TapGestureRecognizer* m_doubleTapRecognizer = nullptr;
    platform::uikit::SwipeGestureRecognizer* m_leftSwipeRecognizer = nullptr;
    platform::uikit::SwipeGestureRecognizer* m_rightSwipeRecognizer = nullptr;
    platform::uikit::LongPressGestureRecognizer* m_saveRecognizer = nullptr;
    platform::uikit::Image m_pendingSaveImage;
    qint32 m_requestGeneration = 0;
    platform::ObserverToken m_themeObserver;
    std::unique_ptr<platform::DelayedCalls> m_delayed;
    std::unique_ptr<platform::photos::PhotoLibrary> m_photoLibrary;
};
