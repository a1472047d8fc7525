#include "video/KRVideoFullscreenComposer.h"

#include "look/KRTheme.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/Toolbar.h"
#include "platform/uikit/View.h"

#include <algorithm>

using namespace platform::uikit;

namespace {
constexpr qreal kBarHeight = 44;
}

KRVideoFullscreenComposer::KRVideoFullscreenComposer(Actions actions)
    : m_actions(std::move(actions))
{
}

KRVideoFullscreenComposer::~KRVideoFullscreenComposer() { remove(); }

void KRVideoFullscreenComposer::build(View* host, bool faded, const QString& draft)
{
    remove();
    if (!host)
        return;
    const qreal width = host->bounds().width();
    auto* bar = new View(QRectF(0, 0, width, kBarHeight), host);
    bar->setObjectName(QStringLiteral("fullscreenComposerBar"));
    bar->setAlpha(faded ? 0 : 1);
    bar->setAutoresizingMask(AutoresizingFlexibleWidth);
    bar->setHidden(true);
    auto* background = new ImageView(bar->bounds(), bar);
    background->setImage(Image::named(QStringLiteral("Tarnwick23/player_top_control_bg")).stretchable(0, 21));
    background->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    background->setUserInteractionEnabled(false);
    auto* field = new TextField(QRectF(8, 6, std::max<qreal>(width - 16, 100), 31), bar);
    field->setObjectName(QStringLiteral("fullscreenInputField"));
    field->setAutoresizingMask(AutoresizingFlexibleWidth);
    field->setFont(Label::systemFont(13));
    field->setTextColor(QColor::fromRgbF(0.18, 0.18, 0.18));
    field->setPlaceholder(QStringLiteral("登录后发弹幕"));
    field->setText(draft);
    field->setReturnKeyType(ReturnKeySend);
    field->setClearsWhileEditing(true);
    field->setAutocorrectionType(TextAutocorrectionTypeNo);
    field->setAutocapitalizationType(TextAutocapitalizationTypeNone);
    field->setBackground(Image::named(QStringLiteral("Tarnwick23/textfield_bg")).stretchable(12, 15));
    field->setLeftView(new View(QRectF(0, 0, 8, 1)));
    field->addTarget(ControlEventEditingChanged, [this] {
        if (m_field && m_actions.draftChanged)
            m_actions.draftChanged(m_field->text());
    });
    field->addTarget(ControlEventEditingDidBegin, [this] {
        if (m_actions.editingChanged)
            m_actions.editingChanged(true);
    });
    field->addTarget(ControlEventEditingDidEnd, [this] {
        if (m_actions.editingChanged)
            m_actions.editingChanged(false);
    });
    field->shouldReturn = [this] {
        if (m_actions.send)
            m_actions.send();
        return false;
    };
    // A bar of its own: the embedded field's bar belongs to that field's life.
    auto* accessory = new Toolbar(QRectF(0, 0, width, 44));
    accessory->setObjectName(QStringLiteral("fullscreenInputAccessory"));
    accessory->setItems({new BarButtonItem(QStringLiteral("取消"), BarButtonItemStyleBordered, [this] { close(); }, accessory),
                         BarButtonItem::systemItem(BarButtonSystemItemFlexibleSpace, {}, accessory),
                         new BarButtonItem(QStringLiteral("发送"), BarButtonItemStyleDone,
                                           [this] {
                                               if (m_actions.send)
                                                   m_actions.send();
                                           },
                                           accessory)});
    field->setInputAccessoryView(accessory);
    m_bar = bar;
    m_field = field;
    m_accessory = accessory;
    applyTheme();
}

void KRVideoFullscreenComposer::applyTheme()
{
    // The keyboard's bar is the page's, dark in the black theme.
    if (m_accessory)
        m_accessory->setBarStyle(KRTheme::sharedTheme()->style() == 1 ? BarStyleBlack : BarStyleDefault);
}

void KRVideoFullscreenComposer::remove()
{
    if (m_field && m_field->isFirstResponder())
        m_field->resignFirstResponder();
    delete m_bar.data();
    m_bar = nullptr;
    m_field = nullptr;
    m_accessory = nullptr;
    m_keyboardVisible = false;
    m_keyboardY = 0;
}

bool KRVideoFullscreenComposer::isShown() const { return m_bar && !m_bar->isHidden(); }

void KRVideoFullscreenComposer::open(const QString& draft)
{
    if (!m_bar)
        return;
    m_bar->setHidden(false);
    m_bar->setAlpha(1);
    m_keyboardVisible = false;
    m_keyboardY = 0;
    if (View* host = m_bar->superview())
        host->bringSubviewToFront(m_bar);
    m_field->setText(draft);
    m_field->becomeFirstResponder();
}

void KRVideoFullscreenComposer::close()
{
    if (!m_bar)
        return;
    if (m_field->isFirstResponder())
        m_field->resignFirstResponder();
    m_bar->setHidden(true);
}

void KRVideoFullscreenComposer::setDanmakuEnabled(bool enabled)
{
    if (!m_field)
        return;
    m_field->setEnabled(enabled);
    m_field->setPlaceholder(enabled ? QStringLiteral("登录后发弹幕") : QStringLiteral("已关弹幕"));
}

void KRVideoFullscreenComposer::layout(const QSizeF& host, const EdgeInsets& insets)
{
    if (!m_bar)
        return;
    const qreal y = m_keyboardVisible ? m_keyboardY : insets.top;
    m_bar->setFrame(QRectF(0, y, host.width(), kBarHeight));
    m_field->setFrame(QRectF(insets.left + 8, 6, std::max<qreal>(host.width() - insets.left - insets.right - 16, 100), 31));
}

void KRVideoFullscreenComposer::setKeyboard(bool visible, qreal y)
{
    m_keyboardVisible = visible;
    m_keyboardY = visible ? y : 0;
}

bool KRVideoFullscreenComposer::contains(const View* view) const
{
    for (const QWidget* w = view; w; w = w->parentWidget()) {
        if (w == m_bar.data())
            return true;
    }
    return false;
}

bool KRVideoFullscreenComposer::isBuilt() const { return !m_bar.isNull(); }

View* KRVideoFullscreenComposer::view() const { return m_bar; }

TextField* KRVideoFullscreenComposer::field() const { return m_field; }
