#include "library/KRProfileViewController.h"

#include "shared/KRRouter.h"
#include "look/KRTarnwick23Skin.h"
#include "look/KRTheme.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/View.h"
#include "store/KRSessionStore.h"

#include <cmath>

using namespace platform::uikit;

namespace {
constexpr qreal kButtonWidth = 140, kButtonHeight = 36, kButtonGap = 16;
} // namespace

KRProfileViewController::KRProfileViewController(QObject* parent)
    : KRComingLaterViewController(QStringLiteral("我的"), parent)
{
}

void KRProfileViewController::viewDidLoad()
{
    m_loginButton = new Button(ButtonTypeCustom, QRectF(), view());
    m_loginButton->setTitle(QStringLiteral("扫码登录"), ControlStateNormal);
    m_loginButton->addTarget(ControlEventTouchUpInside, [this] {
        KRRouter::openQRLogin(navigationController());
    });
    KRComingLaterViewController::viewDidLoad();
    m_sessionObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KRSessionDidChangeNotification, nullptr, [this](const platform::Notification&) { updateLoginButton(); });
    updateLoginButton();
}

void KRProfileViewController::viewDidLayoutSubviews()
{
    KRComingLaterViewController::viewDidLayoutSubviews();
    const qreal top = messageLabel()->frame().bottom() + kButtonGap;
    m_loginButton->setFrame(QRectF(std::floor((view()->bounds().width() - kButtonWidth) / 2), top, kButtonWidth, kButtonHeight));
}

void KRProfileViewController::applyTheme()
{
    KRComingLaterViewController::applyTheme();
    if (!m_loginButton)
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    m_loginButton->setBackgroundImage(KRTarnwick23ButtonBackground(theme, false), ControlStateNormal);
    m_loginButton->setBackgroundImage(KRTarnwick23ButtonBackground(theme, true), ControlStateHighlighted);
    m_loginButton->setTitleColor(KRTarnwick23ButtonTitleColor(theme), ControlStateNormal);
    m_loginButton->setTitleShadowColor(KRTarnwick23ButtonTitleShadowColor(theme), ControlStateNormal);
    m_loginButton->titleLabel()->setShadowOffset(KRTarnwick23ButtonTitleShadowOffset(theme));
}

void KRProfileViewController::updateLoginButton()
{
    if (m_loginButton)
        m_loginButton->setHidden(KRSessionStore::sharedStore().isLoggedIn());
}
