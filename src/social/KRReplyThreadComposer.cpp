// The reply thread's own reply bar: target, emotes, the keyboard, sending and the close steps.
#include "social/KRReplyThreadViewController.h"

#include "account/KRAccountClient.h"
#include "look/KRShellHelpers.h"
#include "look/KRTarnwick23Skin.h"
#include "look/KRTheme.h"
#include "model/KRComment.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/Window.h"
#include "store/KRSessionStore.h"

#include <algorithm>

using namespace platform::uikit;

namespace {

constexpr qreal kBarHeight = 42;
constexpr int kEmoteTagBase = 9800;
constexpr int kLoginAlertTag = 9101;
constexpr int kPreviewReplies = 3;
constexpr double kMinimumKeyboardSeconds = 0.18;
const QString kBeginClose = QStringLiteral("beginReplyComposerCancellation");
const QString kFinishClose = QStringLiteral("finishReplyComposerCancellation");

} // namespace

void KRReplyThreadViewController::buildReplyComposer()
{
    auto* bar = new View(QRectF(), view());
    m_replyComposerBar = bar;
    bar->setObjectName(QStringLiteral("replyComposerBar"));
    bar->setHidden(true);
    bar->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleTopMargin);
    m_replyComposerSeparator = new View(QRectF(), bar);
    m_replyComposerSeparator->setObjectName(QStringLiteral("replyComposerSeparator"));

    m_replyInputField = new TextField(QRectF(), bar);
    m_replyInputField->setObjectName(QStringLiteral("replyInputField"));
    m_replyInputField->setFont(Label::systemFont(12));
    m_replyInputField->setReturnKeyType(ReturnKeySend);
    m_replyInputField->setClearsWhileEditing(true);
    m_replyInputField->setTextInsets({});
    m_replyInputField->setLeftView(new View(QRectF(0, 0, 8, 1)));
    m_replyInputField->setHidden(true);
    m_replyInputField->shouldReturn = [this] {
        sendReplyComposer();
        return false;
    };
    m_replyInputField->addTarget(ControlEventEditingDidEnd, [this] {
        if (m_composer.cancelling)
            scheduleReplyComposerFinish(300);
    });

    m_replyEmoteButton = new Button(ButtonTypeCustom, QRectF(), bar);
    m_replyEmoteButton->setObjectName(QStringLiteral("replyEmoteButton"));
    m_replyEmoteButton->setImageContentMode(ContentModeScaleAspectFit);
    m_replyEmoteButton->setImageEdgeInsets({5, 6.5, 5, 6.5});
    m_replyEmoteButton->setAccessibilityLabel(QStringLiteral("岚帆视频表情"));
    m_replyEmoteButton->setHidden(true);
    m_replyEmoteButton->addTarget(ControlEventTouchUpInside, [this] { replyEmoteTapped(); });

    m_replyCancelButton = new Button(ButtonTypeCustom, QRectF(), bar);
    m_replyCancelButton->setObjectName(QStringLiteral("replyCancelButton"));
    m_replyCancelButton->setTitle(QStringLiteral("取消"), ControlStateNormal);
    m_replyCancelButton->titleLabel()->setFont(Label::systemFont(12, true));
    m_replyCancelButton->setHidden(true);
    m_replyCancelButton->addTarget(ControlEventTouchUpInside, [this] { cancelReplyComposer(); });

    auto* panel = new View(QRectF(), view());
    m_replyEmotePanel = panel;
    panel->setObjectName(QStringLiteral("replyEmotePanel"));
    panel->setHidden(true);
    panel->setCornerRadius(7);
    panel->setBorderWidth(1);
    m_replyEmoteScrollView = new ScrollView(QRectF(), panel);
    m_replyEmoteScrollView->setObjectName(QStringLiteral("replyEmoteScrollView"));
    m_replyEmoteScrollView->setShowsVerticalScrollIndicator(true);
}

void KRReplyThreadViewController::applyComposerTheme()
{
    if (!m_replyComposerBar)
        return;
    const KRTheme* theme = KRTheme::sharedTheme();
    m_replyComposerBar->setBackgroundColor(theme->surfaceColor());
    m_replyComposerSeparator->setBackgroundColor(theme->separatorColor());
    m_replyInputField->setBackground(theme->searchFieldBackgroundImage());
    m_replyInputField->setTextColor(theme->primaryTextColor());
    m_replyEmoteButton->setBackgroundImage(theme->searchFieldBackgroundImage(), ControlStateNormal);
    const Image emoji = Image::named(QStringLiteral("Davirivu961/comment_emoji"));
    m_replyEmoteButton->setImage(KRReplyTintedImage(emoji, theme->secondaryTextColor()), ControlStateNormal);
    m_replyEmoteButton->setImage(KRReplyTintedImage(emoji, theme->accentColor()), ControlStateHighlighted);
    m_replyCancelButton->setBackgroundImage(KRTarnwick23PaleButtonBackground(theme, false), ControlStateNormal);
    m_replyCancelButton->setBackgroundImage(KRTarnwick23PaleButtonBackground(theme, true), ControlStateHighlighted);
    m_replyCancelButton->setTitleColor(KRTarnwick23PaleButtonTitleColor(theme), ControlStateNormal);
    m_replyCancelButton->setTitleColor(KRTarnwick23PaleButtonTitleColor(theme), ControlStateHighlighted);
    m_replyCancelButton->setTitleColor(theme->secondaryTextColor(), ControlStateDisabled);
    m_replyCancelButton->setTitleShadowColor(KRTarnwick23PaleButtonTitleShadowColor(theme), ControlStateNormal);
    m_replyCancelButton->titleLabel()->setShadowOffset(KRTarnwick23PaleButtonTitleShadowOffset(theme));
    if (m_replyEmotePanel) {
        m_replyEmotePanel->setBackgroundColor(theme->surfaceColor());
        m_replyEmotePanel->setBorderColor(theme->separatorColor());
    }
}

// ---- target and opening

QString KRReplyThreadViewController::replyTargetName() const
{
    const QString name = m_composer.target ? m_composer.target->authorName() : QString();
    return name.isEmpty() ? QStringLiteral("该评论") : name;
}

void KRReplyThreadViewController::selectReplyTarget(const std::shared_ptr<KRComment>& target)
{
    m_composer.target = target ? target : m_rootComment;
    m_replyInputField->setPlaceholder(QStringLiteral("回复 %1").arg(replyTargetName()));
}

void KRReplyThreadViewController::replyComposerTapped()
{
    if (!KRSessionStore::sharedStore().isLoggedIn()) {
        showLoginAlert();
        return;
    }
    m_delayed.cancel(kBeginClose);
    m_delayed.cancel(kFinishClose);
    m_composer.cancelling = false;
    m_replyInputField->setEnabled(true);
    m_replyInputField->setPlaceholder(QStringLiteral("回复 %1").arg(replyTargetName()));
    for (View* piece : {static_cast<View*>(m_replyComposerBar.data()), static_cast<View*>(m_replyInputField),
                        static_cast<View*>(m_replyEmoteButton), static_cast<View*>(m_replyCancelButton)})
        piece->setHidden(false);
    loadReplyEmotesIfNeeded();
    layoutReplyComposer();
    if (View* host = m_replyComposerBar->superview())
        host->bringSubviewToFront(m_replyComposerBar);
    m_replyInputField->becomeFirstResponder();
}

void KRReplyThreadViewController::showLoginAlert()
{
    auto* alert = new AlertView(QStringLiteral("登录后回复"),
                                QStringLiteral("已选择回复 %1。这里与弹幕发送完全独立；当前未登录，保持只读。").arg(replyTargetName()),
                                QStringLiteral("取消"), {QStringLiteral("前往“我的”")}, this, [this](int index) {
                                    if (index == 1)
                                        openProfileTab();
                                });
    alert->setTag(kLoginAlertTag);
    alert->show();
}

void KRReplyThreadViewController::openProfileTab() { KRNavigateToProfileTab(this); }

// ---- closing

void KRReplyThreadViewController::cancelReplyComposer()
{
    if (m_composer.cancelling)
        return;
    m_composer.cancelling = true;
    hideReplyEmotePanel();
    m_delayed.cancel(kFinishClose);
    m_delayed.schedule(kBeginClose, 10, [this] { beginReplyComposerCancellation(); });
}

void KRReplyThreadViewController::endEditingEverywhere()
{
    view()->endEditing();
    if (NavigationController* stack = navigationController())
        stack->view()->endEditing();
    if (Window* w = view()->window())
        w->endEditing();
    if (m_replyComposerBar)
        m_replyComposerBar->endEditing();
}

void KRReplyThreadViewController::beginReplyComposerCancellation()
{
    if (!m_composer.cancelling)
        return;
    m_replyInputField->resignFirstResponder();
    endEditingEverywhere();
    m_replyInputField->setEnabled(false);
    scheduleReplyComposerFinish(420);
}

void KRReplyThreadViewController::scheduleReplyComposerFinish(int milliseconds)
{
    m_delayed.schedule(kFinishClose, milliseconds, [this] { finishReplyComposerCancellation(); });
}

void KRReplyThreadViewController::finishReplyComposerCancellation()
{
    m_delayed.cancel(kBeginClose);
    m_delayed.cancel(kFinishClose);
    m_composer.cancelling = false;
    m_composer.keyboardVisible = false;
    m_composer.keyboardY = 0;
    hideReplyEmotePanel();
    m_replyInputField->setEnabled(false);
    m_replyInputField->resignFirstResponder();
    endEditingEverywhere();
    for (View* piece : {static_cast<View*>(m_replyInputField), static_cast<View*>(m_replyEmoteButton),
                        static_cast<View*>(m_replyCancelButton), static_cast<View*>(m_replyComposerBar.data())})
        if (piece)
            piece->setHidden(true);
    layoutReplyComposer();
}

void KRReplyThreadViewController::detachReplyComposer()
{
    AnimationClock::cancel(m_composerAnimation);
    m_composerAnimation = 0;
    // Back under the screen's own view, hidden, until the next appearance.
    for (View* piece : {m_replyComposerBar.data(), m_replyEmotePanel.data()}) {
        if (piece && piece->superview() != view()) {
            piece->removeFromSuperview();
            view()->addSubview(piece);
            piece->setHidden(true);
        }
    }
}

// ---- layout and the keyboard

void KRReplyThreadViewController::layoutReplyComposer()
{
    View* host = m_replyComposerBar ? m_replyComposerBar->superview() : nullptr;
    if (!host || host == view())
        return;
    const qreal w = host->bounds().width();
    const qreal h = host->bounds().height();
    const qreal top = std::max<qreal>(0, m_composer.keyboardVisible ? m_composer.keyboardY : h - kBarHeight);
    m_replyComposerBar->setFrame(QRectF(0, top, w, kBarHeight));
    m_replyComposerSeparator->setFrame(QRectF(0, 0, w, 1));
    m_replyCancelButton->setFrame(QRectF(4, 5, 43, 32));
    m_replyEmoteButton->setFrame(QRectF(std::max<qreal>(w - 43 - 4, 4), 5, 43, 32));
    m_replyInputField->setFrame(QRectF(50, 5, w - 100 > 72 ? w - 100 : 72, 32));
    if (m_replyEmotePanel) {
        const qreal panelHeight = std::clamp(0.28 * h, 126.0, 174.0);
        m_replyEmotePanel->setFrame(QRectF(8, std::max<qreal>(top - panelHeight - 4, 0), std::max<qreal>(w - 16, 1), panelHeight));
        m_replyEmoteScrollView->setFrame(
            EdgeInsetsInsetRect(QRectF(QPointF(), m_replyEmotePanel->frame().size()), {5, 5, 5, 5}));
    }
}

void KRReplyThreadViewController::animateReplyComposerLayout(double seconds)
{
    if (!m_replyComposerBar)
        return;
    const QRectF from = m_replyComposerBar->frame();
    layoutReplyComposer();
    const QRectF to = m_replyComposerBar->frame();
    AnimationClock::cancel(m_composerAnimation);
    if (from == to || from.isEmpty())
        return;
    m_replyComposerBar->setFrame(from);
    QPointer<View> bar = m_replyComposerBar;
    m_composerAnimation = AnimationClock::animate(bar, seconds, [bar, from, to](double t) {
        bar->setFrame(QRectF(to.x(), from.y() + (to.y() - from.y()) * t, to.width(), to.height()));
    });
}

void KRReplyThreadViewController::replyKeyboardWillShow(const platform::Notification& notification)
{
    View* host = m_replyComposerBar ? m_replyComposerBar->superview() : nullptr;
    if (!m_replyInputField->isFirstResponder() || !host || host == view())
        return;
    QRectF end = notification.userInfo.value(KeyboardFrameEndKey).toRectF();
    if (Window* w = host->window())
        end = w->convertRectToView(end, host);
    m_composer.keyboardVisible = true;
    m_composer.keyboardY = std::max<qreal>(end.top() - kBarHeight, 0);
    const double seconds = notification.userInfo.value(KeyboardAnimationDurationKey).toDouble();
    animateReplyComposerLayout(seconds > kMinimumKeyboardSeconds ? seconds : kMinimumKeyboardSeconds);
}

void KRReplyThreadViewController::replyKeyboardWillHide(const platform::Notification& notification)
{
    if (!m_composer.keyboardVisible && !m_composer.cancelling)
        return;
    m_composer.keyboardVisible = false;
    m_composer.keyboardY = 0;
    double seconds = notification.userInfo.value(KeyboardAnimationDurationKey).toDouble();
    seconds = seconds > kMinimumKeyboardSeconds ? seconds : kMinimumKeyboardSeconds;
    animateReplyComposerLayout(seconds);
    if (m_composer.cancelling)
        scheduleReplyComposerFinish(int(seconds * 1000 + 20));
}

// ---- emotes

void KRReplyThreadViewController::loadReplyEmotesIfNeeded()
{
    if (!m_composer.emotes.isEmpty()) {
        rebuildReplyEmotePanel();
        return;
    }
    if (m_composer.loadingEmotes)
        return;
    m_composer.loadingEmotes = true;
    KRAccountClient::sharedClient()->loadReplyEmotePackages(this, [this](const QVariant& data, const KROptionalError& error) {
        m_composer.loadingEmotes = false;
        if (error)
            return;
        m_composer.emotes = KREmotePanelItemsFromPackages(data);
        rebuildReplyEmotePanel();
    });
}

void KRReplyThreadViewController::rebuildReplyEmotePanel()
{
    KRFillEmotePanel(m_replyEmoteScrollView, m_composer.emotes, kEmoteTagBase, [this](int tag) { replyEmoteItemTapped(tag); });
}

void KRReplyThreadViewController::replyEmoteTapped()
{
    loadReplyEmotesIfNeeded();
    if (!m_replyEmotePanel)
        return;
    m_replyEmotePanel->setHidden(!m_replyEmotePanel->isHidden());
    if (!m_replyEmotePanel->isHidden()) {
        if (View* host = m_replyEmotePanel->superview())
            host->bringSubviewToFront(m_replyEmotePanel);
    }
}

void KRReplyThreadViewController::replyEmoteItemTapped(int tag)
{
    const int index = tag - kEmoteTagBase;
    if (tag < kEmoteTagBase || index >= int(m_composer.emotes.size()))
        return;
    m_replyInputField->replaceSelectedRange(m_composer.emotes[index].value(QStringLiteral("text")).toString());
    hideReplyEmotePanel();
    if (!m_composer.cancelling && !m_replyInputField->isFirstResponder())
        m_replyInputField->becomeFirstResponder();
}

void KRReplyThreadViewController::hideReplyEmotePanel()
{
    if (m_replyEmotePanel)
        m_replyEmotePanel->setHidden(true);
}

// ---- sending

void KRReplyThreadViewController::sendReplyComposer()
{
    if (m_composer.postInFlight || !m_rootComment)
        return;
    const QString text = m_replyInputField->text().trimmed();
    if (text.isEmpty())
        return;
    const qint64 root = m_rootComment->rpid();
    const qint64 parent = m_composer.target && m_composer.target->rpid() >= 1 ? m_composer.target->rpid() : root;
    const qint64 oid = m_rootComment->oid();
    // The thread's own area: a reply under a dynamic's comment stays in that dynamic's area.
    const qint32 type = m_rootComment->type() >= 1 ? m_rootComment->type() : 1;
    m_composer.postInFlight = true;
    const quint64 writer = m_composer.writer;
    // The reply is the sender's, whoever is signed in when its answer comes.
    const QVariantMap profile = KRSessionStore::sharedStore().accountProfile().value_or(QVariantMap());
    KRAccountClient::sharedClient()->postComment(
        text, oid, type, root, parent, this,
        [this, text, oid, type, root, parent, writer, profile](bool success, const QString& message, const QVariant& data) {
            // Another account has signed in since: the bar is its own now, and only a reply
            // that was posted joins the thread.
            const bool ownBar = writer == m_composer.writer;
            if (ownBar)
                m_composer.postInFlight = false;
            if (!success) {
                if (!ownBar)
                    return;
                const QString shown = message.isEmpty() ? QStringLiteral("回复失败，请重试") : message;
                m_replyInputField->setPlaceholder(shown);
                // The placeholder stays hidden behind the typed text, so the failure is said aloud too.
                (new AlertView(QStringLiteral("回复失败"), shown, QStringLiteral("知道了"), {}))->show();
                return;
            }
            const std::shared_ptr<KRComment> reply = KRComment::postedCommentFromResponseData(data, text, profile, oid, root, parent);
            reply->setType(type);
            if (ownBar) {
                m_replyInputField->setText({});
                cancelReplyComposer();
            }
            insertPostedReply(reply);
        });
}

void KRReplyThreadViewController::insertPostedReply(const std::shared_ptr<KRComment>& reply)
{
    if (!reply)
        return;
    if (reply->rpid() >= 1 && std::any_of(m_paging.replies.begin(), m_paging.replies.end(),
                                          [&](const auto& held) { return held && held->rpid() == reply->rpid(); }))
        return;
    const bool hadReplies = !m_paging.replies.isEmpty();
    m_paging.replies.prepend(reply);
    m_paging.totalCount = std::max(m_paging.totalCount + 1, qint32(m_paging.replies.size()));
    if (m_rootComment) {
        m_rootComment->setReplyCount(std::max(m_rootComment->replyCount() + 1, m_paging.totalCount));
        KRCommentList previews = m_rootComment->previewReplies();
        previews << reply;
        while (previews.size() > kPreviewReplies)
            previews.removeFirst();
        m_rootComment->setPreviewReplies(previews);
    }
    TableView* table = tableView();
    if (!table->window()) {
        table->reloadData();
        return;
    }
    if (hadReplies)
        table->insertRowsAtIndexPaths({{1, 0}}, TableViewRowAnimationFade);
    else
        table->reloadRowsAtIndexPaths({{1, 0}}, TableViewRowAnimationNone);
    updateReplyCountHeader();
    if (!table->indexPathsForVisibleRows().contains(IndexPath{1, 0}))
        table->scrollToRowAtIndexPath({1, 0}, TableViewScrollPositionTop, true);
}
