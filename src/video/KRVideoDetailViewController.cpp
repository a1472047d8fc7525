#include "video/KRVideoDetailViewController.h"

#include "look/KRTheme.h"
#include "model/KRVideo.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/View.h"

#include <cmath>

using namespace platform::uikit;

namespace {

const QString kNotice = QStringLiteral("视频页将在后续版本中提供");
constexpr qreal kNoticeHeight = 40, kNoticeInset = 12;

} // namespace

KRVideoDetailViewController::KRVideoDetailViewController(std::shared_ptr<KRVideo> video, QObject* parent)
    : ViewController(parent)
    , m_video(std::move(video))
{
    setTitle(m_video ? m_video->title() : QString());
    setHidesBottomBarWhenPushed(true);
}

KRVideoDetailViewController::~KRVideoDetailViewController() = default;

int KRVideoDetailViewController::supportedInterfaceOrientations() { return InterfaceOrientationMaskPortrait; }

bool KRVideoDetailViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    return orientation == InterfaceOrientationPortrait;
}

void KRVideoDetailViewController::viewDidLoad()
{
    m_noticeLabel = new Label(QRectF(), view());
    m_noticeLabel->setBackgroundColor(QBrush(Qt::NoBrush));
    m_noticeLabel->setFont(Label::systemFont(15));
    m_noticeLabel->setTextAlignment(TextAlignmentCenter);
    m_noticeLabel->setText(kNotice);
    m_themeObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) { applyTheme(); });
    applyTheme();
}

void KRVideoDetailViewController::applyTheme()
{
    KRTheme* theme = KRTheme::sharedTheme();
    navigationItem()->setTitleView(theme->navigationTitleLabelWithText(title()));
    view()->setBackgroundColor(theme->backgroundColor());
    m_noticeLabel->setTextColor(theme->secondaryTextColor());
}

void KRVideoDetailViewController::viewDidLayoutSubviews()
{
    const QRectF bounds = view()->bounds();
    m_noticeLabel->setFrame(QRectF(kNoticeInset, std::floor((bounds.height() - kNoticeHeight) / 2),
                                   std::max<qreal>(0, bounds.width() - 2 * kNoticeInset), kNoticeHeight));
}

void KRVideoDetailViewController::showCommentsWhenPresented()
{
    // The page has no comments tab yet to select: the request is kept for it.
    m_showCommentsWhenPresented = true;
}

void KRVideoDetailViewController::showCommentsWhenPresentedAtRootRpid(qint64 root, qint64 target)
{
    m_focusedCommentRpid = root < 0 ? 0 : root;
    m_focusedReplyRpid = target >= 1 ? target : m_focusedCommentRpid;
    showCommentsWhenPresented();
}

void KRVideoDetailViewController::showCommentsWhenPresentedAtRpid(qint64 rpid)
{
    showCommentsWhenPresentedAtRootRpid(rpid, rpid);
}
