#include "video/KRVideoOfflinePickerOverlay.h"

#include "look/KRTheme.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

namespace {

View* overlayParent(View* covered)
{
    Window* window = covered ? covered->window() : nullptr;
    ViewController* root = window ? window->rootViewController() : nullptr;
    return root && root->isViewLoaded() ? root->view() : covered;
}

} // namespace

KRVideoOfflinePickerOverlay::KRVideoOfflinePickerOverlay(View* covered, const QString& name, std::function<void()> cancelled)
    : View(QRectF(), overlayParent(covered))
    , m_covered(covered)
{
    setObjectName(name);
    setBackgroundColor(QColor(Qt::transparent));
    m_backdrop = new Button(ButtonTypeCustom, bounds(), this);
    m_backdrop->setObjectName(name + QStringLiteral("Backdrop"));
    m_backdrop->setBackgroundColor(QColor(0, 0, 0, 115));
    m_backdrop->setAccessibilityLabel(QStringLiteral("取消"));
    m_backdrop->addTarget(ControlEventTouchUpInside, std::move(cancelled));
    m_panel = new View(QRectF(), this);
    m_panel->setObjectName(name + QStringLiteral("Panel"));
    m_panel->setCornerRadius(10);
    m_title = new Label(QRectF(), m_panel);
    m_title->setObjectName(name + QStringLiteral("Title"));
    m_title->setFont(Label::systemFont(16, true));
    m_title->setTextAlignment(TextAlignmentCenter);
    m_title->setBackgroundColor(QColor(Qt::transparent));
    m_footerLine = new View(QRectF(), m_panel);
    applyTheme();
}

Button* KRVideoOfflinePickerOverlay::addFooterButton(const QString& title, const QString& name, std::function<void()> action)
{
    auto* button = new Button(ButtonTypeCustom, QRectF(), m_panel);
    button->setObjectName(name);
    button->setTitle(title, ControlStateNormal);
    button->titleLabel()->setFont(Label::systemFont(16));
    button->addTarget(ControlEventTouchUpInside, std::move(action));
    m_footer.append(button);
    applyTheme();
    return button;
}

QRectF KRVideoOfflinePickerOverlay::layoutForContentHeight(qreal contentHeight)
{
    const View* host = superview();
    QRectF area = frame();
    if (m_covered && host)
        area = m_covered == host ? host->bounds() : m_covered->convertRectToView(m_covered->bounds(), host);
    setFrame(area);
    m_backdrop->setFrame(bounds());
    raise();
    const qreal width = std::floor(std::min(std::max<qreal>(area.width() - 32, 0), kMaximumPanelWidth));
    const qreal room = std::max<qreal>(area.height() - 40 - kTitleHeight - kFooterHeight, 0);
    const qreal content = std::min(std::max<qreal>(contentHeight, 0), room);
    const qreal height = kTitleHeight + content + kFooterHeight;
    m_panel->setFrame(QRectF(std::floor((area.width() - width) / 2), std::floor((area.height() - height) / 2), width, height));
    m_title->setFrame(QRectF(12, 0, std::max<qreal>(width - 24, 0), kTitleHeight));
    m_footerLine->setFrame(QRectF(0, height - kFooterHeight, width, 1));
    const int count = int(m_footer.size());
    for (int i = 0; i < count; ++i) {
        const qreal left = std::floor(width * i / count);
        const qreal right = std::floor(width * (i + 1) / count);
        m_footer.at(i)->setFrame(QRectF(left, height - kFooterHeight + 1, right - left, kFooterHeight - 1));
    }
    return QRectF(0, kTitleHeight, width, content);
}

void KRVideoOfflinePickerOverlay::applyTheme()
{
    const KRTheme* theme = KRTheme::sharedTheme();
    m_panel->setBackgroundColor(theme->surfaceColor());
    m_title->setTextColor(theme->primaryTextColor());
    m_footerLine->setBackgroundColor(theme->separatorColor());
    for (int i = 0; i < m_footer.size(); ++i) {
        Button* button = m_footer.at(i);
        // The last button is the one that goes on; the others stay quiet.
        const QColor color = i + 1 == m_footer.size() && m_footer.size() > 1 ? theme->accentColor() : theme->primaryTextColor();
        button->setTitleColor(color, ControlStateNormal);
        button->setTitleColor(theme->secondaryTextColor(), ControlStateDisabled);
    }
}
