// Loading what the page shows: the detail and the information page, cover, tags, related
// videos, comments and danmaku, and the two status lines over the player.

#include "video/KRVideoDetailViewController.h"

#include "look/KRTheme.h"
#include "model/KRComment.h"
#include "model/KRCommentPage.h"
#include "model/KRVideo.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/View.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "playback/KRPlaybackSession.h"
#include "service/KRAPIClient.h"
#include "service/KRDanmakuClient.h"
#include "shared/KRCommentCell.h"
#include "shared/KRCommentImageViewController.h"
#include "shared/KRImageLoader.h"
#include "shared/KRLoadMoreView.h"
#include "shared/KRRouter.h"
#include "video/KRInteractionButton.h"
#include "video/KRVideoDetailSupport.h"

#include <QDateTime>

#include <cmath>

using namespace platform::uikit;

namespace {

constexpr qreal kInset = 10;
const QString kCommentCellIdentifier = QStringLiteral("KRDetailComment");
const QString kRelatedCellIdentifier = QStringLiteral("KRDetailRelated");

qreal fittedHeight(Label* label, qreal width)
{
    return std::ceil(label->sizeThatFits(QSizeF(width, 10000)).height());
}

} // namespace

void KRVideoDetailViewController::loadDetail()
{
    if (!m_part.video || m_part.detailLoading)
        return;
    m_part.detailLoading = true;
    m_info.detailSpinner->startAnimating();
    KRAPIClient::sharedClient()->loadDetailForVideo(
        m_part.video, this, [this](const std::shared_ptr<KRVideo>& detail, const KROptionalError& error) {
            if (!m_loadedView)
                return;
            m_part.detailLoading = false;
            m_info.detailSpinner->stopAnimating();
            if (detail && !error) {
                // The copy's local address stays: the detail only adds what the list lacked.
                const QString local = m_part.video->playURL();
                m_part.video = detail;
                if (KRDetailPlaybackURLIsLocalFile(local))
                    m_part.video->setPlayURL(local);
                updateInfo();
                // A list entry may have come without its cover.
                if (m_player.coverView->image().isNull())
                    loadCover();
                if (m_part.video->isUnavailable())
                    applyUnavailableVideoState();
            }
            // A failure still enables the button: an offline copy plays without the detail,
            // and a network one tries again when tapped.
            if (!m_part.video->isUnavailable()) {
                m_player.playButton->setEnabled(true);
                m_player.playButton->setAlpha(1.0);
            }
            startPendingPlaybackIfReady();
            loadAncillaryContent();
        });
}

void KRVideoDetailViewController::updateInfo()
{
    if (!isViewLoaded() || !m_info.titleLabel || !m_part.video)
        return;
    const KRVideo& video = *m_part.video;
    InformationPage& i = m_info;
    i.titleLabel->setText(video.title());
    i.ownerButton->setTitle(video.ownerName().isEmpty() ? QStringLiteral("UP主") : video.ownerName(), ControlStateNormal);
    i.statsLabel->setText(QStringLiteral("%1 播放 · %2 弹幕 · %3").arg(video.displayPlayCount(), video.displayDanmakuCount(),
                                                                      video.displayDuration()));
    QString identifiers = video.displayIdentifier();
    if (video.aid() > 0)
        identifiers += QStringLiteral(" · av%1").arg(video.aid());
    if (video.publishTimestamp() > 0)
        identifiers += QStringLiteral(" · ")
                       + QDateTime::fromSecsSinceEpoch(qint64(video.publishTimestamp())).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    i.identifierLabel->setText(identifiers);
    const QList<KRVideoPartInfo> pages = video.pages();
    if (pages.size() > 1) {
        const KRVideoPartInfo page = pages.value(m_part.selectedPageIndex);
        i.pageTitleLabel->setText(QStringLiteral("P%1/%2 %3").arg(m_part.selectedPageIndex + 1).arg(pages.size())
                                      .arg(page.value(QStringLiteral("part")).toString()));
    } else {
        i.pageTitleLabel->setText(QString());
    }
    const QString summary = video.summary().trimmed().isEmpty() ? QStringLiteral("暂无简介") : video.summary().trimmed();
    i.summaryDisclosureButton->setTitle(QStringLiteral("简介"), ControlStateNormal);
    i.summaryDisclosureGlyph->setText(m_part.summaryExpanded ? QStringLiteral("收起 ▲") : QStringLiteral("展开 ▼"));
    i.summaryLabel->setText(summary);
    i.summaryLabel->setNumberOfLines(m_part.summaryExpanded ? 0 : 3);
    applyOfficialInteractionImages();
    if (!video.ownerAvatarURL().isEmpty()) {
        const QString address = video.ownerAvatarURL();
        KRImageLoader::sharedLoader()->loadImageForURLString(address, this, [this, address](const Image& image) {
            if (!m_loadedView)
                return;
            if (!image.isNull() && m_part.video && m_part.video->ownerAvatarURL() == address)
                m_info.ownerAvatarView->setImage(image);
        });
    }
    updateInfoLayout();
}

void KRVideoDetailViewController::updateInfoLayout()
{
    if (!isViewLoaded() || !m_info.titleLabel)
        return;
    InformationPage& i = m_info;
    const qreal width = m_pager.infoScrollView->bounds().width();
    const qreal inner = std::max<qreal>(width - 2 * kInset, 1);
    qreal y = 10;
    i.titleLabel->setFrame(QRectF(kInset, y, inner, fittedHeight(i.titleLabel, inner)));
    y = i.titleLabel->frame().bottom() + 8;
    i.ownerBar->setFrame(QRectF(kInset, y, inner, 48));
    i.ownerAvatarView->setFrame(QRectF(7, 7, 34, 34));
    i.followButton->setFrame(QRectF(inner - 70, 10, 62, 28));
    i.ownerButton->setFrame(QRectF(48, 7, std::max<qreal>(inner - 48 - 78, 1), 34));
    y = i.ownerBar->frame().bottom() + 8;
    i.statsLabel->setFrame(QRectF(kInset, y, inner, 15));
    i.identifierLabel->setFrame(QRectF(kInset, y + 16, inner, 14));
    y += 36;
    i.interactionBar->setFrame(QRectF(kInset, y, inner, 54));
    const qreal buttonWidth = std::floor(inner / 5);
    KRInteractionButton* buttons[] = {i.tripleButton, i.likeButton, i.coinButton, i.favoriteButton, i.moreButton};
    for (int index = 0; index < 5; ++index)
        buttons[index]->setFrame(QRectF(std::floor((inner - 5 * buttonWidth) / 2) + index * buttonWidth, 2, buttonWidth, 50));
    y = i.interactionBar->frame().bottom() + 8;
    const bool hasParts = !i.pageTitleLabel->text().isEmpty();
    i.pageStrip->setHidden(!hasParts);
    if (hasParts) {
        i.pageStrip->setFrame(QRectF(kInset, y, inner, 24));
        const qreal titleWidth = std::ceil(i.pageTitleLabel->sizeThatFits(QSizeF(10000, 24)).width());
        i.pageTitleLabel->setFrame(QRectF(0, 0, std::max(titleWidth, inner), 24));
        i.pageStrip->setContentSize(QSizeF(std::max(titleWidth, inner), 24));
        y += 30;
    }
    const qreal cardInner = std::max<qreal>(inner - 20, 1);
    qreal cardY = 0;
    i.summaryDisclosureButton->setFrame(QRectF(0, 0, inner, 34));
    i.summaryDisclosureGlyph->setFrame(QRectF(inner - 90, 8, 80, 18));
    cardY = 34;
    i.summaryLabel->setFrame(QRectF(10, cardY, cardInner, fittedHeight(i.summaryLabel, cardInner)));
    cardY = i.summaryLabel->frame().bottom() + 8;
    const bool hasTags = !m_related.tags.isEmpty();
    i.tagsTitleLabel->setHidden(!hasTags);
    i.tagsContainer->setHidden(!hasTags);
    if (hasTags) {
        i.tagsTitleLabel->setFrame(QRectF(10, cardY, cardInner, 18));
        cardY += 22;
        // Tags flow in rows of small labels.
        qreal x = 0, rowY = 0;
        const QList<Label*> tagLabels = i.tagsContainer->findChildren<Label*>(QString(), Qt::FindDirectChildrenOnly);
        for (Label* label : tagLabels) {
            const qreal tagWidth = std::min(cardInner, std::ceil(label->sizeThatFits(QSizeF(10000, 22)).width()) + 14);
            if (x > 0 && x + tagWidth > cardInner) {
                x = 0;
                rowY += 28;
            }
            label->setFrame(QRectF(x, rowY, tagWidth, 22));
            x += tagWidth + 6;
        }
        const qreal tagsHeight = tagLabels.isEmpty() ? 0 : rowY + 22;
        i.tagsContainer->setFrame(QRectF(10, cardY, cardInner, tagsHeight));
        cardY += tagsHeight + 10;
    }
    i.summaryCard->setFrame(QRectF(kInset, y, inner, cardY));
    y = i.summaryCard->frame().bottom() + 12;
    const bool hasRelated = !m_related.videos.isEmpty();
    i.relatedTitleLabel->setHidden(!hasRelated && !m_related.loading);
    i.relatedTitleLabel->setFrame(QRectF(kInset, y, inner, 18));
    y += 24;
    i.relatedTableView->setHidden(!hasRelated);
    i.relatedStateLabel->setFrame(QRectF(kInset, y, inner, 36));
    if (hasRelated) {
        const qreal tableHeight = m_related.videos.size() * 86 + 44;
        i.relatedTableView->setFrame(QRectF(0, y, width, tableHeight));
        y += tableHeight;
    } else if (!i.relatedStateLabel->isHidden()) {
        y += 40;
    }
    i.detailSpinner->setFrame(QRectF(std::floor((width - 20) / 2), y + 4, 20, 20));
    m_pager.infoScrollView->setContentSize(QSizeF(width, y + 32));
}

void KRVideoDetailViewController::summaryDisclosureTapped()
{
    m_part.summaryExpanded = !m_part.summaryExpanded;
    updateInfo();
}

void KRVideoDetailViewController::ownerButtonTapped()
{
    if (m_part.video && m_part.video->ownerMID() > 0)
        KRRouter::openUploaderPage(navigationController(), m_part.video->ownerMID(), m_part.video->ownerName(),
                                   m_part.video->ownerAvatarURL());
}

void KRVideoDetailViewController::loadCover()
{
    if (!m_part.video || m_part.video->coverURL().isEmpty())
        return;
    const QString address = m_part.video->coverURL();
    KRImageLoader::sharedLoader()->loadHighResolutionCoverForURLString(address, this, [this, address](const Image& image) {
        if (!m_loadedView)
            return;
        if (!image.isNull() && m_part.video && m_part.video->coverURL() == address && !m_player.hasStartedPlayback)
            m_player.coverView->setImage(image);
    });
}

void KRVideoDetailViewController::applyUnavailableVideoState()
{
    m_player.playButton->setEnabled(false);
    m_player.playButton->setAlpha(0.68);
    m_player.playButton->setHidden(true);
    const QString reason = m_part.video && !m_part.video->unavailableReason().isEmpty() ? m_part.video->unavailableReason()
                                                                                        : QStringLiteral("视频不可用");
    showLoadingStatus(reason, false);
    m_comments.commentsStateLabel->setText(QStringLiteral("视频不可用，评论不再加载"));
}

void KRVideoDetailViewController::loadAncillaryContent()
{
    if (m_comments.ancillaryRequested || !m_part.video || m_part.video->isUnavailable())
        return;
    m_comments.ancillaryRequested = true;
    KRAPIClient::sharedClient()->loadTagsForVideo(m_part.video, this, [this](const QStringList& tags, const KROptionalError&) {
        if (!m_loadedView)
            return;
        m_related.tags = tags;
        qDeleteAll(m_info.tagsContainer->findChildren<Label*>(QString(), Qt::FindDirectChildrenOnly));
        KRTheme* theme = KRTheme::sharedTheme();
        for (const QString& tag : tags) {
            auto* label = new Label(QRectF(), m_info.tagsContainer);
            label->setFont(Label::systemFont(11));
            label->setText(tag);
            label->setTextAlignment(TextAlignmentCenter);
            label->setTextColor(theme->secondaryTextColor());
            label->setBackgroundColor(theme->backgroundColor());
            label->setCornerRadius(11);
        }
        updateInfoLayout();
    });
    loadRelatedVideos();
    loadCommentsPage(1, true);
}

void KRVideoDetailViewController::loadRelatedVideos()
{
    if (m_related.loading || !m_related.hasMore || !m_part.video)
        return;
    m_related.loading = true;
    m_info.relatedLoadMoreView->setLoadMoreState(KRLoadMoreStateLoading);
    KRAPIClient::sharedClient()->loadRelatedVideosForVideo(
        m_part.video, this, [this](const KRVideoList& videos, const KROptionalError& error) {
            if (!m_loadedView)
                return;
            applyRelatedVideos(videos, error);
        });
}

void KRVideoDetailViewController::applyRelatedVideos(const KRVideoList& videos, const KROptionalError& error)
{
    m_related.loading = false;
    for (const std::shared_ptr<KRVideo>& video : videos) {
        const QString identity = video ? video->feedIdentity() : QString();
        if (!video || identity.isEmpty() || m_related.identities.contains(identity))
            continue;
        m_related.identities.insert(identity);
        m_related.videos.append(video);
    }
    // The service answers one list of related videos; only a failed one is asked again.
    m_related.hasMore = bool(error);
    m_info.relatedLoadMoreView->setLoadMoreState(error ? KRLoadMoreStateFailed : KRLoadMoreStateNoMore);
    m_info.relatedStateLabel->setHidden(!m_related.videos.isEmpty());
    m_info.relatedStateLabel->setText(error ? QStringLiteral("相关推荐加载失败") : QStringLiteral("暂无相关推荐"));
    m_info.relatedTableView->reloadData();
    updateInfoLayout();
}

void KRVideoDetailViewController::loadCommentsPage(int page, bool reset)
{
    if (!m_part.video || (m_comments.commentsLoading && !reset))
        return;
    CommentsPage& c = m_comments;
    c.commentsRequested = true;
    c.commentsLoading = true;
    const quint64 generation = ++c.commentsGeneration;
    c.commentsLoadMoreView->setLoadMoreState(KRLoadMoreStateLoading);
    if (c.comments.isEmpty()) {
        c.commentsStateLabel->setHidden(false);
        c.commentsStateLabel->setText(QStringLiteral("正在加载评论…"));
    }
    KRAPIClient::sharedClient()->loadCommentsForVideo(
        m_part.video, page, this,
        [this, page, reset, generation](const std::shared_ptr<KRCommentPage>& result, const KROptionalError& error) {
            if (!m_loadedView)
                return;
            if (generation != m_comments.commentsGeneration)
                return;
            applyCommentsPage(result, error, page, reset);
        });
}

void KRVideoDetailViewController::applyCommentsPage(const std::shared_ptr<KRCommentPage>& result, const KROptionalError& error,
                                                    int page, bool reset)
{
    CommentsPage& c = m_comments;
    c.commentsLoading = false;
    if (error || !result) {
        c.commentsLoadMoreView->setLoadMoreState(KRLoadMoreStateFailed);
        if (c.comments.isEmpty())
            c.commentsStateLabel->setText(QStringLiteral("评论加载失败，点下方重试"));
        return;
    }
    if (reset)
        c.comments.clear();
    QSet<qint64> seen;
    for (const auto& comment : c.comments)
        seen.insert(comment->rpid());
    for (const auto& comment : result->comments()) {
        if (comment && !seen.contains(comment->rpid())) {
            seen.insert(comment->rpid());
            c.comments.append(comment);
        }
    }
    c.commentsPage = page;
    c.commentsTotal = result->totalCount();
    c.commentsHasMore = result->hasMore();
    c.commentsLoadMoreView->setLoadMoreState(c.commentsHasMore ? KRLoadMoreStateIdle : KRLoadMoreStateNoMore);
    c.commentsStateLabel->setHidden(!c.comments.isEmpty());
    c.commentsStateLabel->setText(QStringLiteral("还没有评论"));
    c.commentsTableView->reloadData();
}

void KRVideoDetailViewController::showContentForTesting(const KRVideoList& related, const std::shared_ptr<KRCommentPage>& comments)
{
    m_comments.ancillaryRequested = true;
    m_comments.commentsRequested = true;
    ++m_comments.commentsGeneration;
    applyRelatedVideos(related, std::nullopt);
    applyCommentsPage(comments, std::nullopt, 1, true);
}

void KRVideoDetailViewController::commentsLoadMoreTapped()
{
    if (m_comments.commentsLoading)
        return;
    if (m_comments.comments.isEmpty())
        loadCommentsPage(1, true);
    else if (m_comments.commentsHasMore)
        loadCommentsPage(m_comments.commentsPage + 1, false);
}

void KRVideoDetailViewController::openReplyThreadForComment(const std::shared_ptr<KRComment>& comment)
{
    if (!comment || comment->replyCount() < 1)
        return;
    KRRouter::openReplyThread(navigationController(), comment);
}

int KRVideoDetailViewController::numberOfRowsInSection(TableView* table, int)
{
    if (table == m_comments.commentsTableView)
        return int(m_comments.comments.size());
    if (table == m_info.relatedTableView)
        return int(m_related.videos.size());
    return 0;
}

TableViewCell* KRVideoDetailViewController::cellForRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    if (table == m_comments.commentsTableView) {
        auto* cell = qobject_cast<KRCommentCell*>(table->dequeueReusableCellWithIdentifier(kCommentCellIdentifier));
        if (!cell)
            cell = new KRCommentCell(TableViewCellStyleDefault, kCommentCellIdentifier);
        cell->setPictureDelegate(this);
        cell->configureWithComment(m_comments.comments.value(indexPath.row), true);
        return cell;
    }
    KRTheme* theme = KRTheme::sharedTheme();
    TableViewCell* cell = table->dequeueReusableCellWithIdentifier(kRelatedCellIdentifier);
    if (!cell)
        cell = new TableViewCell(TableViewCellStyleSubtitle, kRelatedCellIdentifier);
    cell->setBackgroundColor(theme->backgroundColor());
    cell->textLabel()->setTextColor(theme->primaryTextColor());
    cell->detailTextLabel()->setTextColor(theme->secondaryTextColor());
    const std::shared_ptr<KRVideo> video = m_related.videos.value(indexPath.row);
    cell->textLabel()->setText(video ? video->title() : QString());
    cell->textLabel()->setNumberOfLines(2);
    cell->detailTextLabel()->setText(video ? QStringLiteral("%1 · %2 播放").arg(video->ownerName(), video->displayPlayCount()) : QString());
    return cell;
}

qreal KRVideoDetailViewController::heightForRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    if (table == m_info.relatedTableView)
        return 86;
    const std::shared_ptr<KRComment> comment = m_comments.comments.value(indexPath.row);
    return comment ? KRCommentCell::heightForComment(*comment, table->bounds().width(), true) : 44;
}

void KRVideoDetailViewController::commentCellDidTapPictureAtIndex(KRCommentCell*, unsigned index, const QStringList& urls)
{
    if (index >= unsigned(urls.size()))
        return;
    if (NavigationController* navigation = navigationController())
        navigation->pushViewController(new KRCommentImageViewController(urls, index), true);
}

void KRVideoDetailViewController::commentCellDidTapThread(KRCommentCell* cell)
{
    openReplyThreadForComment(cell->representedComment());
}

void KRVideoDetailViewController::didSelectRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    table->deselectRowAtIndexPath(indexPath, true);
    if (table == m_comments.commentsTableView) {
        openReplyThreadForComment(m_comments.comments.value(indexPath.row));
    } else if (table == m_info.relatedTableView) {
        if (const std::shared_ptr<KRVideo> video = m_related.videos.value(indexPath.row))
            KRRouter::openVideoPage(navigationController(), video);
    }
}

// ---- danmaku ----

void KRVideoDetailViewController::resetDanmakuForCurrentCID()
{
    if (!m_part.video)
        return;
    const qint64 cid = m_part.video->cid();
    if (cid <= 0 || (cid == m_danmaku.loadedCID && !m_danmaku.danmakus.isEmpty()) || cid == m_danmaku.requestedCID)
        return;
    m_danmaku.request.cancel();
    m_danmaku.requestedCID = cid;
    m_danmaku.loading = true;
    auto completion = [this, cid](const KRDanmakuList& danmakus, const KROptionalError&) {
        if (!m_loadedView)
            return;
        if (cid != m_danmaku.requestedCID)
            return;
        m_danmaku.loading = false;
        m_danmaku.requestedCID = 0;
        m_danmaku.loadedCID = cid;
        m_danmaku.danmakus = danmakus;
        m_player.danmakuView->setDanmakus(danmakus);
    };
    KRDanmakuClient* client = KRDanmakuClient::sharedClient();
    const bool copy = KRPlaybackSession::playsFromDevice(*m_part.video) && client->hasCachedDanmakusForCID(cid);
    m_danmaku.request = copy ? client->loadCachedDanmakusForCID(cid, this, completion)
                             : client->loadDanmakusForCID(cid, this, completion);
}

void KRVideoDetailViewController::startDanmakuTimer()
{
    m_danmaku.timer.start(100, [this] { danmakuTimerFired(); });
}

void KRVideoDetailViewController::stopDanmakuTimer()
{
    m_danmaku.timer.stop();
}

void KRVideoDetailViewController::danmakuTimerFired()
{
    if (!m_player.moviePlayer)
        return;
    const bool playing = m_player.moviePlayer->playbackState() == 1;
    m_player.danmakuView->updateWithPlaybackTime(std::max(0.0, m_player.moviePlayer->currentPlaybackTime()), playing);
}

void KRVideoDetailViewController::danmakuButtonTapped()
{
    m_danmaku.enabled = !m_danmaku.enabled;
    platform::UserDefaults::standard().setObject(QStringLiteral("KRDanmakuEnabled"), m_danmaku.enabled);
    m_player.danmakuView->setDanmakuEnabled(m_danmaku.enabled);
    if (m_player.controls)
        m_player.controls->setDanmakuEnabled(m_danmaku.enabled);
    updateDetailTabs();
    showDanmakuStatus(m_danmaku.enabled ? QStringLiteral("弹幕已开启") : QStringLiteral("弹幕已关闭"));
}

void KRVideoDetailViewController::playerControlsDidToggleDanmaku(KRPlayerControlsView*)
{
    danmakuButtonTapped();
}

// ---- status lines ----

void KRVideoDetailViewController::showDanmakuStatus(const QString& text)
{
    if (!isViewLoaded())
        return;
    m_delayed.cancel(QStringLiteral("hideDanmakuStatus"));
    if (text.isEmpty()) {
        m_player.danmakuStatusLabel->setHidden(true);
        return;
    }
    m_player.danmakuStatusLabel->setText(text);
    layoutDanmakuStatusLabelForText(text);
    m_player.danmakuStatusLabel->setHidden(false);
    if (View* container = m_player.danmakuStatusLabel->superview())
        container->bringSubviewToFront(m_player.danmakuStatusLabel);
    m_delayed.schedule(QStringLiteral("hideDanmakuStatus"), 2000, [this] { hideDanmakuStatus(); });
}

void KRVideoDetailViewController::hideDanmakuStatus()
{
    m_player.danmakuStatusLabel->setHidden(true);
}

void KRVideoDetailViewController::layoutDanmakuStatusLabelForText(const QString& text)
{
    Label* label = m_player.danmakuStatusLabel;
    const qreal maximum = std::max<qreal>(m_player.playerContainer->bounds().width() - 14, 60);
    const QSizeF fitted = label->sizeThatFits(QSizeF(maximum - 16, 40));
    const qreal width = std::min(maximum, std::max<qreal>(std::ceil(fitted.width()) + 16, 60));
    const qreal height = fitted.height() > 18 && !text.isEmpty() ? 36 : 22;
    label->setFrame(QRectF(7, 8, width, height));
}

void KRVideoDetailViewController::showLoadingStatus(const QString& text, bool animateTV)
{
    m_player.loadingStatusLabel->setText(text);
    m_player.loadingOverlay->setHidden(false);
    m_player.playerContainer->bringSubviewToFront(m_player.loadingOverlay);
    m_player.playerContainer->bringSubviewToFront(m_player.danmakuStatusLabel);
    if (animateTV)
        m_player.loadingTVView->startAnimating();
    else
        m_player.loadingTVView->stopAnimating();
}

void KRVideoDetailViewController::hideLoadingStatus()
{
    m_player.loadingTVView->stopAnimating();
    m_player.loadingOverlay->setHidden(true);
}
