#include "shared/KRDynamicComposerView.h"

#include "look/KRTarnwick23Skin.h"
#include "look/KRTheme.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/Window.h"
#include "images/KRImageLoader.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

namespace {

constexpr qreal kBarHeight = 42;
constexpr qreal kButtonWidth = 43;
constexpr qreal kButtonHeight = 32;
constexpr qreal kButtonTop = 5;
constexpr qreal kMinimumFieldWidth = 72;
constexpr int kEmoteTagBase = 9900;
constexpr qreal kEmoteSide = 42;
constexpr int kEmotesPerPackage = 40;
constexpr int kEmotesInAll = 80;
constexpr unsigned kMaximumPictures = 9;
const EdgeInsets kIconInsets{5, 6.5, 5, 6.5};

} // namespace

QList<KREmotePanelItem> KREmotePanelItemsFromPackages(const QVariant& data)
{
    QList<KREmotePanelItem> items;
    const QVariant packages = data.toMap().value(QStringLiteral("packages"));
    if (packages.typeId() != QMetaType::QVariantList)
        return items;
    for (const QVariant& package : packages.toList()) {
        int taken = 0;
        for (const QVariant& entry : package.toMap().value(QStringLiteral("emote")).toList()) {
            const QVariantMap emote = entry.toMap();
            const QVariant text = emote.value(QStringLiteral("text"));
            const QVariant url = emote.value(QStringLiteral("url"));
            if (text.typeId() != QMetaType::QString || url.typeId() != QMetaType::QString || text.toString().isEmpty()
                || url.toString().isEmpty())
                continue;
            items << KREmotePanelItem{{QStringLiteral("text"), text}, {QStringLiteral("url"), url}};
            if (int(items.size()) >= kEmotesInAll)
                return items;
            if (++taken >= kEmotesPerPackage)
                break;
        }
    }
    return items;
}

void KRFillEmotePanel(ScrollView* scrollView, const QList<KREmotePanelItem>& emotes, int tagBase,
                      const std::function<void(int tag)>& tapped)
{
    for (View* old : scrollView->subviews())
        delete old;
    const qreal width = std::max<qreal>(scrollView->frame().width(), 250);
    const int columns = std::max(5, int(std::floor(width / kEmoteSide)));
    for (int i = 0; i < int(emotes.size()); ++i) {
        const int tag = tagBase + i;
        auto* button = new Button(ButtonTypeCustom, QRectF((i % columns) * kEmoteSide, (i / columns) * kEmoteSide, kEmoteSide, kEmoteSide),
                                  scrollView);
        button->setTag(tag);
        button->setImageContentMode(ContentModeScaleAspectFit);
        button->setImageEdgeInsets({6, 6, 6, 6});
        button->setAccessibilityLabel(emotes[i].value(QStringLiteral("text")).toString());
        button->addTarget(ControlEventTouchUpInside, [tapped, tag] { tapped(tag); });
        QPointer<Button> guard(button);
        KRImageLoader::sharedLoader()->loadImageForURLString(emotes[i].value(QStringLiteral("url")).toString(), button,
                                                             [guard, tag](const Image& image) {
                                                                 if (guard && !image.isNull() && guard->tag() == tag)
                                                                     guard->setImage(image, ControlStateNormal);
                                                             });
    }
    const int rows = (int(emotes.size()) + columns - 1) / columns;
    scrollView->setContentSize(QSizeF(width, rows * kEmoteSide));
}

QRectF KREmotePanelFrame(const QSizeF& host, qreal barTop)
{
    const qreal panelHeight = std::clamp(0.28 * host.height(), 88.0, 152.0);
    return QRectF(8, std::max(barTop - panelHeight - 2, 2.0), std::max(host.width() - 16, 1.0), panelHeight);
}

void KRApplyComposerPictureButton(Button* button, ImageView* badge, bool allowed, unsigned count)
{
    if (allowed) {
        const KRTheme* theme = KRTheme::sharedTheme();
        const Image picture = Image::named(QStringLiteral("Davirivu961/comment_picture"));
        button->setImage(KRDynamicComposerTintedImage(picture, theme->secondaryTextColor()), ControlStateNormal);
        button->setImage(KRDynamicComposerTintedImage(picture, theme->accentColor()), ControlStateHighlighted);
        button->setImageContentMode(ContentModeScaleAspectFit);
        button->setImageEdgeInsets(kIconInsets);
        button->setTitle({}, ControlStateNormal);
        button->setHidden(false);
        badge->setHidden(count == 0);
        button->setAccessibilityLabel(count > 0 ? QStringLiteral("已选 %1 张图片").arg(count) : QStringLiteral("选择图片"));
    } else {
        button->setImage({}, ControlStateNormal);
        button->setImage({}, ControlStateHighlighted);
        button->setImageEdgeInsets({});
        button->setTitle({}, ControlStateNormal);
        button->setHidden(true);
        badge->setHidden(true);
        button->setAccessibilityLabel({});
    }
}

Image KRDynamicComposerTintedImage(const Image& icon, const std::optional<QColor>& color)
{
    if (icon.isNull() || !color)
        return icon;
    // Drawn at scale 1: the icon's own pixels are its points.
    QImage source = icon.image();
    source.setDevicePixelRatio(1);
    QImage tinted(source.size(), QImage::Format_ARGB32_Premultiplied);
    tinted.fill(Qt::transparent);
    QPainter p(&tinted);
    p.drawImage(0, 0, source);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(tinted.rect(), *color);
    p.end();
    return Image(tinted);
}

KRDynamicComposerView::KRDynamicComposerView(const QRectF& frame, View* superview) : View(frame, superview)
{
    setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleTopMargin);

    m_cancelButton = new Button(ButtonTypeCustom, QRectF(), this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setTitle(QStringLiteral("取消"), ControlStateNormal);
    m_cancelButton->titleLabel()->setFont(Label::systemFont(12, true));
    m_cancelButton->addTarget(ControlEventTouchUpInside, [this] { cancelTapped(); });

    m_textField = new TextField(QRectF(), this);
    m_textField->setObjectName(QStringLiteral("textField"));
    m_textField->setClearsWhileEditing(true);
    m_textField->setReturnKeyType(ReturnKeySend);
    m_textField->setFont(Label::systemFont(13));
    m_textField->setTextInsets({});
    m_textField->setLeftView(new View(QRectF(0, 0, 8, 1)));
    m_textField->shouldReturn = [this] {
        submitText();
        return false;
    };

    m_sendButton = new Button(ButtonTypeCustom, QRectF(), this);
    m_sendButton->setObjectName(QStringLiteral("sendButton"));
    m_sendButton->titleLabel()->setFont(Label::systemFont(12, true));
    m_sendButton->addTarget(ControlEventTouchUpInside, [this] { sendTapped(); });

    m_emoteButton = new Button(ButtonTypeCustom, QRectF(), this);
    m_emoteButton->setObjectName(QStringLiteral("emoteButton"));
    m_emoteButton->setImageContentMode(ContentModeScaleAspectFit);
    m_emoteButton->setImageEdgeInsets(kIconInsets);
    m_emoteButton->setAccessibilityLabel(QStringLiteral("岚帆视频表情"));
    m_emoteButton->addTarget(ControlEventTouchUpInside, [this] { emoteTapped(); });

    // Kept as a hidden child until presenting moves it into the host view.
    m_emotePanel = new View(QRectF(), this);
    m_emotePanel->setObjectName(QStringLiteral("emotePanel"));
    m_emotePanel->setHidden(true);
    m_emotePanel->setCornerRadius(7);
    m_emotePanel->setBorderWidth(1);
    m_emoteScrollView = new ScrollView(QRectF(), m_emotePanel);
    m_emoteScrollView->setObjectName(QStringLiteral("emoteScrollView"));
    m_emoteScrollView->setShowsVerticalScrollIndicator(true);

    m_selectedImageBadge = new ImageView(Image::named(QStringLiteral("Davirivu961/photo_selected")), m_sendButton);
    m_selectedImageBadge->setObjectName(QStringLiteral("selectedImageBadge"));
    m_selectedImageBadge->setContentMode(ContentModeScaleAspectFit);
    m_selectedImageBadge->setHidden(true);

    auto& center = platform::NotificationCenter::defaultCenter();
    m_keyboardShowObserver = center.addObserver(KeyboardWillShowNotification, nullptr,
                                                [this](const platform::Notification& n) { keyboardChanged(n, true); });
    m_keyboardHideObserver = center.addObserver(KeyboardWillHideNotification, nullptr,
                                                [this](const platform::Notification& n) { keyboardChanged(n, false); });
    m_themeObserver = center.addObserver(KRThemeDidChangeNotification, nullptr,
                                         [this](const platform::Notification&) { applyTheme(); });
    applyTheme();
}

KRDynamicComposerView::~KRDynamicComposerView()
{
    m_delegate = nullptr;
    AnimationClock::cancel(m_frameAnimation);
    // The panel may live in the host view; it goes with the bar.
    delete m_emotePanel.data();
}

void KRDynamicComposerView::setDelegate(KRDynamicComposerViewDelegate* delegate) { m_delegate = delegate; }

void KRDynamicComposerView::layoutSubviews()
{
    const qreal w = frame().width();
    m_cancelButton->setFrame(QRectF(4, kButtonTop, kButtonWidth, kButtonHeight));
    m_sendButton->setFrame(QRectF(w - 47, kButtonTop, kButtonWidth, kButtonHeight));
    const qreal emoteX = m_allowsImage ? w - 93 : w - 47;
    m_emoteButton->setFrame(QRectF(emoteX, kButtonTop, kButtonWidth, kButtonHeight));
    m_selectedImageBadge->setFrame(QRectF(28, 17, 13, 13));
    m_textField->setFrame(QRectF(50, kButtonTop, std::max(emoteX - 53, kMinimumFieldWidth), kButtonHeight));
    layoutEmotePanel();
}

void KRDynamicComposerView::applyTheme()
{
    const KRTheme* theme = KRTheme::sharedTheme();
    setBackgroundColor(theme->surfaceColor());
    setBorderWidth(0.5);
    setBorderColor(theme->separatorColor());
    for (Button* button : {m_cancelButton, m_sendButton}) {
        button->setBackgroundImage(KRTarnwick23PaleButtonBackground(theme, false), ControlStateNormal);
        button->setBackgroundImage(KRTarnwick23PaleButtonBackground(theme, true), ControlStateHighlighted);
        button->setTitleColor(KRTarnwick23PaleButtonTitleColor(theme), ControlStateNormal);
    }
    m_textField->setTextColor(theme->primaryTextColor());
    m_textField->setBackground(theme->searchFieldBackgroundImage());
    m_emoteButton->setBackgroundImage(theme->searchFieldBackgroundImage(), ControlStateNormal);
    const Image emoji = Image::named(QStringLiteral("Davirivu961/comment_emoji"));
    m_emoteButton->setImage(KRDynamicComposerTintedImage(emoji, theme->secondaryTextColor()), ControlStateNormal);
    m_emoteButton->setImage(KRDynamicComposerTintedImage(emoji, theme->accentColor()), ControlStateHighlighted);
    if (m_emotePanel) {
        m_emotePanel->setBackgroundColor(theme->surfaceColor());
        m_emotePanel->setBorderColor(theme->separatorColor());
    }
    setAllowsImage(m_allowsImage);
}

void KRDynamicComposerView::setAllowsImage(bool allows)
{
    m_allowsImage = allows;
    KRApplyComposerPictureButton(m_sendButton, m_selectedImageBadge, allows, m_selectedImageCount);
    setNeedsLayout();
}

void KRDynamicComposerView::setHasSelectedImage(bool has) { setSelectedImageCount(has ? 1 : 0); }

void KRDynamicComposerView::setSelectedImageCount(unsigned count)
{
    m_selectedImageCount = std::min(count, kMaximumPictures);
    m_hasSelectedImage = count != 0;
    setAllowsImage(m_allowsImage);
}

void KRDynamicComposerView::presentInView(View* host, const QString& placeholder, const QString& initialText)
{
    if (superview() != host) {
        removeFromSuperview();
        if (host)
            host->addSubview(this);
        setFrame(host ? QRectF(0, host->frame().height() - kBarHeight, host->frame().width(), kBarHeight)
                      : QRectF(0, -kBarHeight, 0, kBarHeight));
    }
    if (m_emotePanel && host && m_emotePanel->superview() != host)
        host->addSubview(m_emotePanel);
    setHidden(false);
    setAlpha(1);
    m_textField->setEnabled(true);
    m_textField->setPlaceholder(placeholder);
    m_textField->setText(initialText);
    hideEmotePanel();
    loadEmotesIfNeeded();
    if (View* s = superview())
        s->bringSubviewToFront(this);
    layoutSubviews();
    m_textField->becomeFirstResponder();
}

void KRDynamicComposerView::dismiss()
{
    AnimationClock::cancel(m_frameAnimation);
    m_frameAnimation = 0;
    m_textField->resignFirstResponder();
    m_textField->setText({});
    m_textField->setPlaceholder({});
    m_textField->setEnabled(true);
    m_hasSelectedImage = false;
    m_selectedImageCount = 0;
    hideEmotePanel();
    if (m_emotePanel && m_emotePanel->superview() != this) {
        m_emotePanel->removeFromSuperview();
        addSubview(m_emotePanel);
        m_emotePanel->setHidden(true);
    }
    setHidden(true);
    removeFromSuperview();
}

void KRDynamicComposerView::keyboardChanged(const platform::Notification& notification, bool showing)
{
    View* host = superview();
    if (!host)
        return;
    const double duration = notification.userInfo.value(KeyboardAnimationDurationKey).toDouble();
    QRectF end = notification.userInfo.value(KeyboardFrameEndKey).toRectF();
    if (Window* w = window())
        end = w->convertRectToView(end, host);
    const qreal h = host->frame().height();
    const qreal y = showing ? std::min(h - kBarHeight, end.top() - kBarHeight) : h - kBarHeight;
    const QRectF from = frame();
    const QRectF to(0, y, host->frame().width(), kBarHeight);
    AnimationClock::cancel(m_frameAnimation);
    m_frameAnimation = AnimationClock::animate(this, duration, [this, from, to](double t) {
        setFrame(QRectF(from.x() + (to.x() - from.x()) * t, from.y() + (to.y() - from.y()) * t,
                        from.width() + (to.width() - from.width()) * t, kBarHeight));
        layoutEmotePanel();
    });
}

void KRDynamicComposerView::cancelTapped()
{
    if (m_delegate)
        m_delegate->dynamicComposerViewDidCancel(this);
    dismiss();
}

void KRDynamicComposerView::sendTapped()
{
    if (m_allowsImage && m_delegate)
        m_delegate->dynamicComposerViewDidRequestImage(this);
}

void KRDynamicComposerView::submitText()
{
    const QString trimmed = m_textField->text().trimmed();
    if (trimmed.isEmpty() && !m_hasSelectedImage)
        return;
    if (m_delegate)
        m_delegate->dynamicComposerViewDidSubmitText(this, trimmed);
}

void KRDynamicComposerView::layoutEmotePanel()
{
    View* host = m_emotePanel ? m_emotePanel->superview() : nullptr;
    if (!host || host == this)
        return;
    m_emotePanel->setFrame(KREmotePanelFrame(host->frame().size(), frame().top()));
    m_emoteScrollView->setFrame(EdgeInsetsInsetRect(QRectF(QPointF(), m_emotePanel->frame().size()), {5, 5, 5, 5}));
}

void KRDynamicComposerView::loadEmotesIfNeeded()
{
    m_emotes.loadIfNeeded(this, [this] { rebuildEmotePanel(); });
}

void KRDynamicComposerView::rebuildEmotePanel()
{
    KRFillEmotePanel(m_emoteScrollView, m_emotes.items(), kEmoteTagBase, [this](int tag) { emoteItemTapped(tag); });
}

void KRDynamicComposerView::emoteTapped()
{
    loadEmotesIfNeeded();
    if (!m_emotePanel)
        return;
    m_emotePanel->setHidden(!m_emotePanel->isHidden());
    View* host = m_emotePanel->superview();
    if (!m_emotePanel->isHidden() && host && host != this) {
        layoutEmotePanel();
        rebuildEmotePanel();
        host->bringSubviewToFront(m_emotePanel);
    }
    if (View* s = superview())
        s->bringSubviewToFront(this);
}

void KRDynamicComposerView::emoteItemTapped(int tag)
{
    const int index = tag - kEmoteTagBase;
    if (tag < kEmoteTagBase || index >= int(m_emotes.items().size()))
        return;
    m_textField->replaceSelectedRange(m_emotes.items()[index].value(QStringLiteral("text")).toString());
    hideEmotePanel();
    if (!m_textField->isFirstResponder())
        m_textField->becomeFirstResponder();
}

void KRDynamicComposerView::hideEmotePanel()
{
    if (m_emotePanel)
        m_emotePanel->setHidden(true);
}
