#include "video/KRVideoCommentComposer.h"

#include "look/KRTarnwick23Skin.h"
#include "look/KRTheme.h"
#include "model/KRComment.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/View.h"
#include "shared/KRCommentPoster.h"
#include "store/KRSessionStore.h"
#include "video/KRVideoDetailSupport.h"

#include <algorithm>

using namespace platform::uikit;

namespace {

constexpr int kEmoteTagBase = 9900;
constexpr qreal kBarHeight = 42;
const QString kLoginMessage = QStringLiteral("发表评论需要登录后提交。当前未登录，不会伪造操作结果。");
const QString kRestingTitle = QStringLiteral("登录后发表评论·点评论可进入回复");

template <typename T>
T* named(T* view, const char* name)
{
    view->setObjectName(QString::fromLatin1(name));
    return view;
}

void applyPaleButton(Button* button, const KRTheme* theme)
{
    button->setBackgroundImage(KRTarnwick23PaleButtonBackground(theme, false), ControlStateNormal);
    button->setBackgroundImage(KRTarnwick23PaleButtonBackground(theme, true), ControlStateHighlighted);
    button->setTitleColor(KRTarnwick23PaleButtonTitleColor(theme), ControlStateNormal);
    button->setTitleColor(KRTarnwick23PaleButtonTitleColor(theme), ControlStateHighlighted);
    button->setTitleColor(theme->secondaryTextColor(), ControlStateDisabled);
    button->setTitleShadowColor(KRTarnwick23PaleButtonTitleShadowColor(theme), ControlStateNormal);
    button->setTitleShadowColor(KRTarnwick23PaleButtonTitleShadowColor(theme), ControlStateHighlighted);
    button->titleLabel()->setShadowOffset(KRTarnwick23PaleButtonTitleShadowOffset(theme));
}

} // namespace

KRVideoCommentComposer::KRVideoCommentComposer(Actions actions, QObject* parent)
    : QObject(parent)
    , m_actions(std::move(actions))
{
}

KRVideoCommentComposer::~KRVideoCommentComposer() = default;

void KRVideoCommentComposer::build(View* page, View* root, qreal width)
{
    m_page = page;
    m_root = root;
    m_width = width;
    Views& c = m_views;
    c.commentComposerBar = named(new View(QRectF(), page), "commentComposerBar");
    m_bar = c.commentComposerBar;
    c.commentComposerBar->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleTopMargin);
    c.commentComposerSeparator = named(new View(QRectF(), c.commentComposerBar), "commentComposerSeparator");
    c.commentComposerButton = named(new Button(ButtonTypeCustom, QRectF(), c.commentComposerBar), "commentComposerButton");
    c.commentComposerButton->titleLabel()->setFont(Label::systemFont(12));
    c.commentComposerButton->setTitle(kRestingTitle, ControlStateNormal);
    c.commentComposerButton->titleLabel()->setTextAlignment(TextAlignmentLeft);
    c.commentComposerButton->setContentEdgeInsets(EdgeInsets{0, 12, 0, 8});
    c.commentComposerButton->setAccessibilityLabel(QStringLiteral("发表评论"));
    c.commentComposerButton->addTarget(ControlEventTouchUpInside, [this] { commentComposerTapped(); });
}

// The editing controls and the emote panel wait for the first edit: most visits to the page
// never write a comment, and opening it pays for every view it makes.
void KRVideoCommentComposer::buildEditingControls()
{
    if (m_views.commentInputField || !hasViews() || !m_root)
        return;
    Views& c = m_views;
    c.commentInputField = named(new TextField(QRectF(), c.commentComposerBar), "commentInputField");
    c.commentInputField->setFont(Label::systemFont(12));
    c.commentInputField->setPlaceholder(QStringLiteral("说点什么…"));
    c.commentInputField->setReturnKeyType(ReturnKeySend);
    c.commentInputField->setClearsWhileEditing(true);
    c.commentInputField->setLeftView(new View(QRectF(0, 0, 8, 1)));
    c.commentInputField->setHidden(true);
    c.commentInputField->addTarget(ControlEventEditingChanged, [this] { updateCommentPictureButton(); });
    c.commentInputField->shouldReturn = [this] {
        // The return key sends what there is: text, or the photos alone.
        if (!m_views.commentInputField->text().trimmed().isEmpty() || !m_pickedItems.isEmpty())
            submit();
        return false;
    };
    c.commentEmoteButton = named(new Button(ButtonTypeCustom, QRectF(), c.commentComposerBar), "commentEmoteButton");
    c.commentEmoteButton->setImageContentMode(ContentModeScaleAspectFit);
    c.commentEmoteButton->setImageEdgeInsets(EdgeInsets{5, 6.5, 5, 6.5});
    c.commentEmoteButton->setAccessibilityLabel(QStringLiteral("岚帆视频表情"));
    c.commentEmoteButton->setHidden(true);
    c.commentEmoteButton->addTarget(ControlEventTouchUpInside, [this] { commentEmoteTapped(); });
    c.commentCancelButton = named(new Button(ButtonTypeCustom, QRectF(), c.commentComposerBar), "commentCancelButton");
    c.commentCancelButton->titleLabel()->setFont(Label::systemFont(12, true));
    c.commentCancelButton->setTitle(QStringLiteral("取消"), ControlStateNormal);
    c.commentCancelButton->setAccessibilityLabel(QStringLiteral("取消评论"));
    c.commentCancelButton->setHidden(true);
    c.commentCancelButton->addTarget(ControlEventTouchUpInside, [this] { cancelCommentComposer(); });
    c.commentSendButton = named(new Button(ButtonTypeCustom, QRectF(), c.commentComposerBar), "commentSendButton");
    c.commentSendButton->titleLabel()->setFont(Label::systemFont(12, true));
    c.commentSendButton->setTitle(QStringLiteral("发送"), ControlStateNormal);
    c.commentSendButton->setAccessibilityLabel(QStringLiteral("发送评论"));
    c.commentSendButton->setHidden(true);
    c.commentSendButton->addTarget(ControlEventTouchUpInside, [this] { commentTrailingButtonTapped(); });
    c.commentSelectedImageBadge = named(new ImageView(Image::named(QStringLiteral("Davirivu961/photo_selected")), c.commentSendButton),
                                        "commentSelectedImageBadge");
    c.commentSelectedImageBadge->setContentMode(ContentModeScaleAspectFit);
    c.commentSelectedImageBadge->setUserInteractionEnabled(false);
    c.commentSelectedImageBadge->setHidden(true);
    c.commentEmotePanel = named(new View(QRectF(), m_root), "commentEmotePanel");
    c.commentEmotePanel->setHidden(true);
    c.commentEmotePanel->setCornerRadius(7);
    c.commentEmotePanel->setBorderWidth(1);
    c.commentEmoteScrollView = named(new ScrollView(QRectF(), c.commentEmotePanel), "commentEmoteScrollView");
    c.commentEmoteScrollView->setShowsVerticalScrollIndicator(true);
    applyEditingTheme();
    layoutEditingControls(m_width, m_rootHeight);
}

void KRVideoCommentComposer::layout(qreal w, qreal restingTop, qreal rootHeight)
{
    m_width = w;
    m_restingTop = restingTop;
    m_rootHeight = rootHeight;
    Views& c = m_views;
    QRectF bar(0, restingTop, w, kBarHeight);
    if (m_editing && m_page && m_root) {
        // On the root view: above the keyboard, else where it rests in the page.
        bar = m_keyboardTop ? QRectF(0, std::max<qreal>(*m_keyboardTop - kBarHeight, 0), w, kBarHeight)
                            : m_page->convertRectToView(bar, m_root);
    }
    c.commentComposerBar->setFrame(bar);
    c.commentComposerSeparator->setFrame(QRectF(0, 0, w, 1));
    c.commentComposerButton->setFrame(QRectF(8, 5, w - 16, 32));
    layoutEditingControls(w, rootHeight);
}

void KRVideoCommentComposer::layoutEditingControls(qreal w, qreal rootHeight)
{
    Views& c = m_views;
    if (!c.commentInputField)
        return;
    c.commentCancelButton->setFrame(QRectF(4, 5, 43, 32));
    c.commentSendButton->setFrame(QRectF(std::max<qreal>(w - 43 - 4, 4), 5, 43, 32));
    c.commentSelectedImageBadge->setFrame(QRectF(28, 17, 13, 13));
    c.commentEmoteButton->setFrame(QRectF(std::max<qreal>(w - 86 - 3 - 4, 4), 5, 43, 32));
    c.commentInputField->setFrame(QRectF(50, 5, std::max<qreal>(w - 50 - 96, 72), 32));
    layoutEmotePanel(w, rootHeight);
}

void KRVideoCommentComposer::layoutEmotePanel(qreal w, qreal rootHeight)
{
    Views& c = m_views;
    if (!m_root)
        return;
    const qreal barTop = m_keyboardTop ? std::max<qreal>(*m_keyboardTop - kBarHeight, kBarHeight)
                                       : c.commentComposerBar->convertRectToView(c.commentComposerBar->bounds(), m_root).top();
    c.commentEmotePanel->setFrame(KREmotePanelFrame(QSizeF(w, rootHeight), barTop));
    c.commentEmoteScrollView->setFrame(c.commentEmotePanel->bounds().adjusted(5, 5, -5, -5));
}

void KRVideoCommentComposer::applyTheme()
{
    KRTheme* theme = KRTheme::sharedTheme();
    Views& c = m_views;
    c.commentComposerBar->setBackgroundColor(theme->surfaceColor());
    c.commentComposerSeparator->setBackgroundColor(theme->separatorColor());
    c.commentComposerButton->setBackgroundImage(theme->searchFieldBackgroundImage(), ControlStateNormal);
    c.commentComposerButton->setTitleColor(theme->secondaryTextColor(), ControlStateNormal);
    c.commentComposerButton->setTitleColor(theme->accentColor(), ControlStateHighlighted);
    applyEditingTheme();
    updateCommentPictureButton();
}

void KRVideoCommentComposer::applyEditingTheme()
{
    Views& c = m_views;
    if (!c.commentInputField)
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    c.commentInputField->setBackground(theme->searchFieldBackgroundImage());
    c.commentInputField->setTextColor(theme->primaryTextColor());
    c.commentEmoteButton->setBackgroundImage(theme->searchFieldBackgroundImage(), ControlStateNormal);
    const Image emoji = Image::named(QStringLiteral("Davirivu961/comment_emoji"));
    c.commentEmoteButton->setImage(KRDetailTintedImage(emoji, theme->secondaryTextColor()), ControlStateNormal);
    c.commentEmoteButton->setImage(KRDetailTintedImage(emoji, theme->accentColor()), ControlStateHighlighted);
    applyPaleButton(c.commentCancelButton, theme);
    applyPaleButton(c.commentSendButton, theme);
    c.commentEmotePanel->setBackgroundColor(theme->surfaceColor());
    c.commentEmotePanel->setBorderColor(theme->separatorColor());
}

// ---- editing ----

void KRVideoCommentComposer::commentComposerTapped() { presentForComment(nullptr); }

void KRVideoCommentComposer::presentForComment(const std::shared_ptr<KRComment>& comment)
{
    if (!KRSessionStore::sharedStore().isLoggedIn()) {
        if (m_actions.showLoginGate)
            m_actions.showLoginGate(kLoginMessage);
        return;
    }
    if (!m_root || m_posting)
        return;
    buildEditingControls();
    const qint64 root = comment ? (comment->root() >= 1 ? comment->root() : comment->rpid()) : 0;
    const qint64 parent = comment ? comment->rpid() : 0;
    TextField* field = m_views.commentInputField;
    // Another target starts afresh; the same one goes on with what was typed.
    if (!m_editing || root != m_replyRoot || parent != m_replyParent) {
        field->setText({});
        m_pickedItems.clear();
    }
    m_replyRoot = root;
    m_replyParent = parent;
    // Replies carry no photos.
    if (comment)
        m_pickedItems.clear();
    field->setPlaceholder(comment ? QStringLiteral("回复 %1").arg(comment->authorName().isEmpty() ? QStringLiteral("用户")
                                                                                                   : comment->authorName())
                                  : QStringLiteral("说点什么…"));
    m_cancelling = false;
    m_editing = true;
    m_root->addSubview(m_views.commentComposerBar);
    setEditingControlsShown(true);
    hideCommentEmotePanel();
    updateCommentPictureButton();
    loadEmotesIfNeeded();
    if (m_actions.layoutPage)
        m_actions.layoutPage();
    bringBarToFront();
    field->setEnabled(true);
    if (!field->isFirstResponder())
        field->becomeFirstResponder();
}

void KRVideoCommentComposer::setEditingControlsShown(bool editing)
{
    Views& c = m_views;
    c.commentComposerButton->setHidden(editing);
    if (!c.commentInputField)
        return;
    c.commentInputField->setHidden(!editing);
    c.commentEmoteButton->setHidden(!editing);
    c.commentCancelButton->setHidden(!editing);
    c.commentSendButton->setHidden(!editing);
}

void KRVideoCommentComposer::bringBarToFront()
{
    if (View* host = m_views.commentComposerBar->superview())
        host->bringSubviewToFront(m_views.commentComposerBar);
}

QList<View*> KRVideoCommentComposer::keyboardMovedViews() const
{
    if (!m_views.commentEmotePanel)
        return {m_views.commentComposerBar};
    return {m_views.commentComposerBar, m_views.commentEmotePanel};
}

bool KRVideoCommentComposer::isFieldFirstResponder() const
{
    return hasViews() && m_views.commentInputField && m_views.commentInputField->isFirstResponder();
}

void KRVideoCommentComposer::cancelCommentComposer()
{
    if (!m_editing)
        return;
    m_cancelling = true;
    hideCommentEmotePanel();
    // The keyboard going away finishes the cancellation after its animation; without one
    // showing there is nothing to wait for.
    if (m_views.commentInputField->isFirstResponder())
        m_views.commentInputField->resignFirstResponder();
    else
        finishCommentComposerCancellation();
}

void KRVideoCommentComposer::finishCommentComposerCancellation()
{
    m_cancelling = false;
    if (!m_editing)
        return;
    close();
}

void KRVideoCommentComposer::close()
{
    if (!m_editing || !hasViews()) {
        m_editing = false;
        return;
    }
    TextField* field = m_views.commentInputField;
    m_editing = false;
    m_cancelling = false;
    if (field->isFirstResponder())
        field->resignFirstResponder();
    m_keyboardTop.reset();
    field->setText({});
    field->setPlaceholder(QStringLiteral("说点什么…"));
    field->setEnabled(true);
    m_replyRoot = 0;
    m_replyParent = 0;
    m_pickedItems.clear();
    hideCommentEmotePanel();
    setEditingControlsShown(false);
    if (m_page)
        m_page->addSubview(m_views.commentComposerBar);
    updateCommentPictureButton();
    if (m_actions.layoutPage)
        m_actions.layoutPage();
}

void KRVideoCommentComposer::updateCommentPictureButton()
{
    Button* button = m_views.commentSendButton;
    if (!button || !hasViews())
        return;
    const unsigned count = unsigned(m_pickedItems.size());
    const bool picks = m_editing && m_replyRoot == 0 && m_views.commentInputField->text().trimmed().isEmpty();
    if (picks) {
        // Nothing typed: the button picks photos, and says how many are picked.
        KRApplyComposerPictureButton(button, m_views.commentSelectedImageBadge, true, count);
    } else {
        button->setImage({}, ControlStateNormal);
        button->setImage({}, ControlStateHighlighted);
        button->setImageEdgeInsets({});
        button->setTitle(QStringLiteral("发送"), ControlStateNormal);
        button->setAccessibilityLabel(QStringLiteral("发送评论"));
        m_views.commentSelectedImageBadge->setHidden(count == 0);
    }
    button->setHidden(!m_editing);
}

void KRVideoCommentComposer::commentTrailingButtonTapped()
{
    if (!m_editing || m_posting)
        return;
    if (!m_views.commentInputField->text().trimmed().isEmpty())
        submit();
    else if (m_replyRoot == 0)
        presentPhotoPicker();
}

// ---- emotes ----

void KRVideoCommentComposer::commentEmoteTapped()
{
    if (!m_editing)
        return;
    loadEmotesIfNeeded();
    View* panel = m_views.commentEmotePanel;
    panel->setHidden(!panel->isHidden());
    if (!panel->isHidden()) {
        layoutEmotePanel(m_width, m_rootHeight);
        rebuildEmotePanel();
        if (View* host = panel->superview())
            host->bringSubviewToFront(panel);
    }
    bringBarToFront();
}

void KRVideoCommentComposer::hideCommentEmotePanel()
{
    if (hasViews() && m_views.commentEmotePanel)
        m_views.commentEmotePanel->setHidden(true);
}

void KRVideoCommentComposer::dropEmotes()
{
    hideCommentEmotePanel();
    m_emotes.clear();
    if (hasViews() && m_views.commentEmoteScrollView)
        KRFillEmotePanel(m_views.commentEmoteScrollView, m_emotes.items(), kEmoteTagBase, {});
}

void KRVideoCommentComposer::loadEmotesIfNeeded()
{
    m_emotes.loadIfNeeded(this, [this] { rebuildEmotePanel(); });
}

void KRVideoCommentComposer::rebuildEmotePanel()
{
    if (!hasViews() || !m_views.commentEmoteScrollView)
        return;
    KRFillEmotePanel(m_views.commentEmoteScrollView, m_emotes.items(), kEmoteTagBase, [this](int tag) { emoteItemTapped(tag); });
}

void KRVideoCommentComposer::emoteItemTapped(int tag)
{
    const int index = tag - kEmoteTagBase;
    if (tag < kEmoteTagBase || index >= int(m_emotes.items().size()))
        return;
    TextField* field = m_views.commentInputField;
    field->replaceSelectedRange(m_emotes.items()[index].value(QStringLiteral("text")).toString());
    hideCommentEmotePanel();
    if (!field->isFirstResponder())
        field->becomeFirstResponder();
    updateCommentPictureButton();
}

// ---- photos ----

void KRVideoCommentComposer::presentPhotoPicker()
{
    if (!m_actions.present)
        return;
    auto* picker = new KRPhotoPickerViewController(m_pickedItems, KRCommentPoster::kMaximumPictures);
    picker->setDelegate(this);
    m_actions.present(new NavigationController(picker));
}

void KRVideoCommentComposer::photoPickerViewControllerDidCancel(KRPhotoPickerViewController* picker)
{
    if (picker)
        picker->setDelegate(nullptr);
    if (m_actions.dismissPresented)
        m_actions.dismissPresented();
}

void KRVideoCommentComposer::photoPickerViewControllerDidFinishWithItems(KRPhotoPickerViewController* picker,
                                                                       const QList<KRPhotoPickerItem>& items)
{
    if (picker)
        picker->setDelegate(nullptr);
    if (!hasViews())
        return;
    // Only a top-level comment being written takes photos.
    if (m_editing && m_replyRoot == 0)
        m_pickedItems = items.mid(0, KRCommentPoster::kMaximumPictures);
    updateCommentPictureButton();
    if (m_actions.dismissPresented)
        m_actions.dismissPresented();
    if (m_editing && !m_views.commentInputField->isFirstResponder())
        m_views.commentInputField->becomeFirstResponder();
}

// ---- posting ----

void KRVideoCommentComposer::submit()
{
    TextField* field = m_views.commentInputField;
    const QString text = field->text().trimmed();
    if (!m_editing || m_posting || m_oid < 1 || (text.isEmpty() && m_pickedItems.isEmpty()))
        return;
    m_posting = true;
    field->setEnabled(false);
    KRCommentPoster::Request request;
    request.text = text;
    request.oid = m_oid;
    request.type = 1;
    request.root = m_replyRoot;
    request.parent = m_replyParent;
    if (m_replyRoot == 0)
        request.images = KRCommentPoster::imagesFromItems(m_pickedItems);
    KRCommentPoster::post(request, this, [this, root = m_replyRoot](const KRCommentPoster::Result& result) {
        m_posting = false;
        if (!hasViews())
            return;
        m_views.commentInputField->setEnabled(true);
        // The photos went with this attempt; the text stays until a post is accepted.
        m_pickedItems.clear();
        updateCommentPictureButton();
        if (!result.succeeded()) {
            (new AlertView(result.failureTitle, result.failureMessage, QStringLiteral("知道了"), {}))->show();
            return;
        }
        if (m_actions.posted)
            m_actions.posted(result.comment, root);
        close();
    });
}
