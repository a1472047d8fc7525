#include "look/KRComingLaterViewController.h"

#include "look/KRTheme.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/View.h"

using namespace platform::uikit;

namespace {
const QString kMessage = QStringLiteral("此页面将在后续版本中提供");
constexpr qreal kMessageTop = 40, kMessageHeight = 22, kSideMargin = 16;
} // namespace

KRComingLaterViewController::KRComingLaterViewController(const QString& title, QObject* parent)
    : ViewController(parent)
{
    setTitle(title);
}

void KRComingLaterViewController::viewDidLoad()
{
    m_messageLabel = new Label(QRectF(), view());
    m_messageLabel->setBackgroundColor(QBrush(Qt::NoBrush));
    m_messageLabel->setFont(Label::systemFont(15));
    m_messageLabel->setTextAlignment(TextAlignmentCenter);
    m_messageLabel->setText(kMessage);
    m_themeObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) { applyTheme(); });
    applyTheme();
}

void KRComingLaterViewController::viewWillAppear(bool) { applyTheme(); }

void KRComingLaterViewController::viewDidLayoutSubviews()
{
    const qreal width = view()->bounds().width();
    m_messageLabel->setFrame(QRectF(kSideMargin, kMessageTop, std::max<qreal>(0, width - 2 * kSideMargin), kMessageHeight));
}

void KRComingLaterViewController::applyTheme()
{
    if (!m_messageLabel)
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    theme->applyNavigationTitle(title(), navigationItem());
    view()->setBackgroundColor(theme->backgroundColor());
    m_messageLabel->setTextColor(theme->secondaryTextColor());
}
