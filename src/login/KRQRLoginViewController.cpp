#include "login/KRQRLoginViewController.h"

#include "account/KRQRLoginFlow.h"
#include "login/KRQRCodeImage.h"
#include "look/KRTheme.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/View.h"

#include <QPointer>
#include <algorithm>
#include <cmath>

using namespace platform::uikit;

namespace {

const QString kTitle = QStringLiteral("扫码登录");
constexpr qreal kCardMaxWidth = 300, kCardMaxHeight = 365, kCardInset = 10;
constexpr qreal kCodeMaxSide = 236, kCodeTop = 56;
constexpr qreal kRefreshWidth = 110, kRefreshHeight = 32;

} // namespace

KRQRLoginViewController::KRQRLoginViewController(QObject* parent)
    : ViewController(parent)
{
}

KRQRLoginViewController::~KRQRLoginViewController() = default;

int KRQRLoginViewController::supportedInterfaceOrientations() { return InterfaceOrientationMaskPortrait; }

bool KRQRLoginViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    return orientation == InterfaceOrientationPortrait;
}

void KRQRLoginViewController::viewDidLoad()
{
    setTitle(kTitle);
    setHidesBottomBarWhenPushed(true);

    m_cardView = new View(QRectF(), view());
    m_cardView->setCornerRadius(8);

    m_instructionLabel = new Label(QRectF(), m_cardView);
    m_instructionLabel->setBackgroundColor(QBrush(Qt::NoBrush));
    m_instructionLabel->setFont(Label::systemFont(14, true));
    m_instructionLabel->setTextAlignment(TextAlignmentCenter);
    m_instructionLabel->setNumberOfLines(2);
    m_instructionLabel->setText(QStringLiteral("请用另一台已登录岚帆视频的设备\n扫描下方二维码并确认"));

    m_qrImageView = new ImageView(QRectF(), m_cardView);
    m_qrImageView->setBackgroundColor(QColor(Qt::white));
    m_qrImageView->setContentMode(ContentModeCenter);
    m_qrImageView->setBorderWidth(1);
    m_qrImageView->setBorderColor(QColor::fromRgbF(0.82, 0.82, 0.82, 1));

    m_spinner = new ActivityIndicatorView(ActivityIndicatorStyleGray, m_cardView);

    m_statusLabel = new Label(QRectF(), m_cardView);
    m_statusLabel->setBackgroundColor(QBrush(Qt::NoBrush));
    m_statusLabel->setFont(Label::systemFont(12));
    m_statusLabel->setTextAlignment(TextAlignmentCenter);
    m_statusLabel->setNumberOfLines(2);

    m_refreshButton = new Button(ButtonTypeSystem, QRectF(), m_cardView);
    m_refreshButton->setTitle(QStringLiteral("刷新二维码"), ControlStateNormal);
    m_refreshButton->addTarget(ControlEventTouchUpInside, [this] { refreshTapped(); });
    m_refreshButton->setHidden(true);

    m_themeObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) { applyTheme(); });
    applyTheme();

    // The flow draws into the view's parts, which a container being torn down may delete
    // before this controller's own deferred deletion: an answer arriving in between draws nothing.
    const QPointer<View> shown = view();
    KRQRLoginFlow::Delegate delegate;
    delegate.setInstruction = [this, shown](const QString& text) { if (shown) m_instructionLabel->setText(text); };
    delegate.setStatus = [this, shown](const QString& text) { if (shown) m_statusLabel->setText(text); };
    delegate.setSpinning = [this, shown](bool on) {
        if (shown)
            on ? m_spinner->startAnimating() : m_spinner->stopAnimating();
    };
    delegate.setRefreshVisible = [this, shown](bool visible) { if (shown) m_refreshButton->setHidden(!visible); };
    delegate.showCode = [this, shown](const QString& url) { return shown && showCode(url); };
    delegate.clearCode = [this, shown] { if (shown) m_qrImageView->setImage(Image()); };
    delegate.finish = [this] { finishLogin(); };
    m_flow = std::make_unique<KRQRLoginFlow>(std::move(delegate));
    m_flow->start();
}

void KRQRLoginViewController::applyTheme()
{
    if (!isViewLoaded() || !m_cardView)
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    navigationItem()->setTitleView(theme->navigationTitleLabelWithText(kTitle));
    view()->setBackgroundColor(theme->backgroundColor());
    m_cardView->setBackgroundColor(theme->surfaceColor());
    m_cardView->setBorderWidth(1);
    m_cardView->setBorderColor(theme->separatorColor());
    m_instructionLabel->setTextColor(theme->primaryTextColor());
    m_statusLabel->setTextColor(theme->secondaryTextColor());
    m_refreshButton->setTitleColor(theme->accentColor(), ControlStateNormal);
    m_spinner->setActivityIndicatorViewStyle(theme->spinnerStyle());
}

void KRQRLoginViewController::viewDidLayoutSubviews()
{
    const QRectF bounds = view()->bounds();
    const qreal cw = std::min(bounds.width() - 2 * kCardInset, kCardMaxWidth);
    const qreal ch = std::min(bounds.height() - 2 * kCardInset, kCardMaxHeight);
    m_cardView->setFrame(QRectF(std::floor((bounds.width() - cw) / 2), kCardInset, cw, ch));
    m_instructionLabel->setFrame(QRectF(10, 10, cw - 20, 42));
    const qreal q = std::min(cw - 32, kCodeMaxSide);
    m_qrImageView->setFrame(QRectF(std::floor((cw - q) / 2), kCodeTop, q, q));
    m_spinner->setCenter(m_qrImageView->center());
    m_statusLabel->setFrame(QRectF(12, m_qrImageView->frame().bottom() + 8, cw - 24, 36));
    m_refreshButton->setFrame(QRectF(std::floor((cw - kRefreshWidth) / 2), ch - 41, kRefreshWidth, kRefreshHeight));
}

void KRQRLoginViewController::viewWillAppear(bool animated)
{
    ViewController::viewWillAppear(animated);
    if (m_flow)
        m_flow->setShowing(true);
}

void KRQRLoginViewController::viewWillDisappear(bool animated)
{
    ViewController::viewWillDisappear(animated);
    if (m_flow)
        m_flow->setShowing(false);
}

void KRQRLoginViewController::refreshTapped()
{
    if (m_flow)
        m_flow->generateQRCode();
}

// Drawn for the view's current width and shown at its size in points.
bool KRQRLoginViewController::showCode(const QString& url)
{
    const QImage code = KRQRCodeImageFromString(url, m_qrImageView->bounds().width());
    if (code.isNull())
        return false;
    m_qrImageView->setImage(Image(code));
    return true;
}

void KRQRLoginViewController::finishLogin()
{
    NavigationController* navigation = navigationController();
    if (navigation && navigation->topViewController() == this)
        navigation->popViewControllerAnimated(true);
}
