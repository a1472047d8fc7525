#include "browse/KRSearchViewController.h"

#include "look/KRShellHelpers.h"
#include "look/KRTarnwick23Skin.h"
#include "look/KRTheme.h"
#include "shared/KRLoadMoreView.h"
#include "shared/KRPullRefreshView.h"
#include "browse/KRSearchHistory.h"
#include "browse/KRThemedSearchTextField.h"
#include "browse/KRVideoCell.h"
#include "model/KRConsole.h"
#include "model/KRVideo.h"
#include "platform/device/DeviceProfile.h"
#include "platform/foundation/DelayedCall.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/TableView.h"
#include "service/KRAPIClient.h"
#include "nav/KRRouter.h"

#include <QPainter>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <utility>

using namespace platform::uikit;

namespace {

const QString kTitle = QStringLiteral("探索");
const QString kCellIdentifier = QStringLiteral("KRSearchVideoCell");
const QString kShowHotRankingCall = QStringLiteral("showHotRanking");
const QString kNextPageCall = QStringLiteral("loadNextSearchPage");

// Chrome in the navigation bar.
constexpr qreal kClassicChromeWidth = 252;
constexpr qreal kChromeHeight = 44;
constexpr qreal kMagnifierWidth = 28, kMagnifierHeight = 18;

// The list.
constexpr qreal kRowHeight = 86;
constexpr qreal kSortBarHeight = 40;
constexpr qreal kNoSortBarHeight = 0.01;
constexpr qreal kSpinnerY = 100;
constexpr qreal kFooterHeight = 44;
constexpr qreal kNextPageDistance = 120;
constexpr qreal kFillSlack = 8;
constexpr int kMaximumAutoFillRequests = 2;

// Delays, in milliseconds.
constexpr int kAutoFillDelay = 200;
constexpr int kHotAfterTypingDelay = 120;
constexpr int kHotAfterClearDelay = 50;
constexpr double kChromeAnimationSeconds = 0.18;

struct SortOrder {
    int tag;
    const char16_t* title;
    const char16_t* order;  // null for the service's default
};
constexpr SortOrder kSortOrders[] = {
    {KRSearchViewController::kSortTagComprehensive, u"综合", nullptr},
    {KRSearchViewController::kSortTagClick, u"播放最多", u"click"},
    {KRSearchViewController::kSortTagPubdate, u"最新", u"pubdate"},
    {KRSearchViewController::kSortTagDanmaku, u"弹幕最多", u"dm"},
};

QString orderOf(const SortOrder& sort) { return sort.order ? QString::fromUtf16(sort.order) : QString(); }

bool modernSystem() { return platform::DeviceProfile::systemMajorVersion() >= 15; }

} // namespace

KRSearchViewController::KRSearchViewController(QObject* parent)
    : KRSearchViewController(QString(), parent) {}

KRSearchViewController::KRSearchViewController(const QString& keyword, QObject* parent)
    : TableViewController(TableViewStylePlain, parent), m_initialKeyword(keyword),
      m_delayed(std::make_unique<platform::DelayedCalls>())
{
    setTitle(kTitle);
}

KRSearchViewController::~KRSearchViewController()
{
    // Scheduled calls and the theme observer go before the views they would touch.
    m_delayed.reset();
    m_themeObserver = {};
}

int KRSearchViewController::supportedInterfaceOrientations() { return InterfaceOrientationMaskPortrait; }

bool KRSearchViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    return orientation == InterfaceOrientationPortrait;
}

// ---- Building the screen ----

void KRSearchViewController::viewDidLoad()
{
    TableViewController::viewDidLoad();
    setTitle(kTitle);
    TableView* table = tableView();
    table->setRowHeight(kRowHeight);
    m_videos.clear();
    m_page = 0;
    m_hasMorePages = false;

    buildSearchChrome();

    m_spinner = new ActivityIndicatorView(ActivityIndicatorStyleGray, table);
    m_spinner->setCenter(QPointF(view()->frame().width() / 2, kSpinnerY));
    m_spinner->setAutoresizingMask(AutoresizingFlexibleLeftMargin | AutoresizingFlexibleRightMargin);

    const qreal width = table->frame().width();
    m_pullRefreshView = new KRPullRefreshView(QRectF(0, -KRPullRefreshView::kPullDistance, width, KRPullRefreshView::kPullDistance), table);
    m_loadMoreView = new KRLoadMoreView(QRectF(0, 0, width, kFooterHeight));
    m_loadMoreView->setHidden(true);
    m_loadMoreView->addTarget([this] { loadMoreButtonTapped(); });
    table->setTableFooterView(m_loadMoreView);

    buildSearchHistoryView();
    buildSearchSortBar();

    reloadSearchHistory();
    m_themeObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) {
            applyTheme();
            reloadTable();
        });
    applyTheme();
}

void KRSearchViewController::buildSearchChrome()
{
    m_searchContainer = new View(QRectF(0, 0, kClassicChromeWidth, kChromeHeight));
    m_searchContainer->setBackgroundColor(QBrush(Qt::NoBrush));
    m_searchContainer->setAutoresizesSubviews(false);

    m_searchField = new KRThemedSearchTextField(QRectF(0, 5, kClassicChromeWidth, 34), m_searchContainer);
    m_searchField->setPlaceholder(QStringLiteral("搜索视频、BV号或UP主"));
    m_searchField->setAutocapitalizationType(TextAutocapitalizationTypeNone);
    m_searchField->setAutocorrectionType(TextAutocorrectionTypeNo);
    m_searchField->setReturnKeyType(ReturnKeySearch);
    m_searchField->setClearsWhileEditing(true);
    m_searchField->setFont(Label::systemFont(modernSystem() ? 15 : 13));
    m_searchField->setTextInsets(EdgeInsets{0, 0, 0, 4});
    auto* magnifier = new ImageView(QRectF(0, 0, kMagnifierWidth, kMagnifierHeight));
    magnifier->setContentMode(ContentModeCenter);
    magnifier->setTag(kMagnifierTag);
    m_searchField->setLeftView(magnifier);
    m_searchField->addTarget(ControlEventEditingChanged, [this] { searchTextChanged(); });
    m_searchField->addTarget(ControlEventEditingDidBegin, [this] { textFieldDidBeginEditing(); });
    m_searchField->addTarget(ControlEventEditingDidEnd, [this] { textFieldDidEndEditing(); });
    m_searchField->shouldReturn = [this] { return textFieldShouldReturn(); };
    m_searchField->shouldClear = [this] { return textFieldShouldClear(); };

    m_searchCancelButton = new Button(ButtonTypeCustom, QRectF(207, 5, 45, 34), m_searchContainer);
    m_searchCancelButton->titleLabel()->setFont(Label::systemFont(modernSystem() ? 14 : 12, true));
    m_searchCancelButton->setTitle(QStringLiteral("取消"), ControlStateNormal);
    m_searchCancelButton->setHidden(true);
    m_searchCancelButton->addTarget(ControlEventTouchUpInside, [this] { searchCancelButtonTapped(); });

    navigationItem()->setTitleView(m_searchContainer);
}

void KRSearchViewController::buildSearchHistoryView()
{
    const qreal width = tableView()->frame().width();
    // The panel stays the table's header; with no height while hidden it takes no room.
    m_searchHistoryView = new View(QRectF(0, 0, width, 0));
    m_searchHistoryView->setAutoresizingMask(AutoresizingFlexibleWidth);
    m_searchHistoryView->setHidden(true);

    m_searchHistoryTitleLabel = new Label(QRectF(10, 4, 130, 23), m_searchHistoryView);
    m_searchHistoryTitleLabel->setBackgroundColor(QBrush(Qt::NoBrush));
    m_searchHistoryTitleLabel->setFont(Label::systemFont(12, true));
    m_searchHistoryTitleLabel->setText(QStringLiteral("搜索历史"));

    m_searchHistoryClearButton = new Button(ButtonTypeCustom, QRectF(width - 82, 1, 74, 28), m_searchHistoryView);
    m_searchHistoryClearButton->titleLabel()->setFont(Label::systemFont(11, true));
    m_searchHistoryClearButton->setTitle(QStringLiteral("一键清除"), ControlStateNormal);
    m_searchHistoryClearButton->addTarget(ControlEventTouchUpInside, [this] { clearSearchHistoryTapped(); });

    tableView()->setTableHeaderView(m_searchHistoryView);
}

void KRSearchViewController::buildSearchSortBar()
{
    // Kept by the screen and laid over the section header's place, since the table deletes
    // the section views it is handed whenever it reloads.
    m_searchSortBar = new View(QRectF(0, 0, tableView()->frame().width(), kSortBarHeight), tableView());
    m_searchSortBar->setHidden(true);
    for (const SortOrder& sort : kSortOrders) {
        auto* button = new Button(ButtonTypeCustom, QRectF(), m_searchSortBar);
        button->setTag(sort.tag);
        button->titleLabel()->setFont(Label::systemFont(11, true));
        button->setTitle(QString::fromUtf16(sort.title), ControlStateNormal);
        const int tag = sort.tag;
        button->addTarget(ControlEventTouchUpInside, [this, tag] { searchSortButtonTapped(tag); });
        m_searchSortButtons.append(button);
    }
}

Image KRSearchViewController::magnifierImage() const
{
    const qreal scale = platform::DeviceProfile::screenScale();
    QImage image(QSize(int(kMagnifierWidth * scale), int(kMagnifierHeight * scale)), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(KRTheme::sharedTheme()->secondaryTextColor(), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(7, 2, 9, 9));
    p.drawLine(QPointF(15, 10), QPointF(20, 15));
    p.end();
    return Image(image);
}

void KRSearchViewController::applyTheme()
{
    if (!m_searchField)
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    TableView* table = tableView();
    view()->setBackgroundColor(theme->backgroundColor());
    table->setSeparatorColor(theme->separatorColor());
    m_searchContainer->setBackgroundColor(QBrush(Qt::NoBrush));
    m_searchField->setBackground(theme->searchFieldBackgroundImage());
    m_searchField->setBackgroundColor(QBrush(Qt::NoBrush));
    m_searchField->setTextColor(theme->primaryTextColor());
    m_searchField->setTintColor(theme->accentColor());
    m_searchField->applyResolvedTextColor(theme->primaryTextColor(), theme->secondaryTextColor());
    m_searchField->setKeyboardAppearance(theme->style() == 1 ? KeyboardAppearanceDark : KeyboardAppearanceDefault);
    if (auto* magnifier = qobject_cast<ImageView*>(m_searchField->leftView()))
        magnifier->setImage(magnifierImage());
    m_searchCancelButton->setTitleColor(theme->navigationTextColor(), ControlStateNormal);
    m_searchCancelButton->setTitleColor(theme->accentColor(), ControlStateHighlighted);
    m_spinner->setActivityIndicatorViewStyle(theme->spinnerStyle());
    m_pullRefreshView->applyTheme();
    m_loadMoreView->applyTheme();
    m_searchHistoryView->setBackgroundColor(theme->backgroundColor());
    m_searchHistoryTitleLabel->setTextColor(theme->primaryTextColor());
    m_searchHistoryClearButton->setTitleColor(KRTarnwick23PaleButtonTitleColor(theme), ControlStateNormal);
    m_searchHistoryClearButton->setTitleColor(theme->accentColor(), ControlStateHighlighted);
    m_searchHistoryClearButton->setTitleShadowColor(KRTarnwick23PaleButtonTitleShadowColor(theme), ControlStateNormal);
    m_searchHistoryClearButton->titleLabel()->setShadowOffset(KRTarnwick23ButtonTitleShadowOffset(theme));
    m_searchHistoryClearButton->setBackgroundImage(KRTarnwick23PaleButtonBackground(theme, false), ControlStateNormal);
    m_searchHistoryClearButton->setBackgroundImage(KRTarnwick23PaleButtonBackground(theme, true), ControlStateHighlighted);
    rebuildSearchSortBarForWidth(table->frame().width());
    rebuildSearchHistoryView();
}

// ---- Appearance and layout ----

void KRSearchViewController::viewWillAppear(bool animated)
{
    TableViewController::viewWillAppear(animated);
    navigationItem()->setRightBarButtonItem(nullptr);
}

void KRSearchViewController::viewDidAppear(bool animated)
{
    TableViewController::viewDidAppear(animated);
    if (m_didStartInitialSearch)
        return;
    m_didStartInitialSearch = true;
    if (!m_initialKeyword.trimmed().isEmpty())
        performSearchWithKeyword(m_initialKeyword, true);
    else
        showHotRanking();
}

void KRSearchViewController::viewDidLayoutSubviews()
{
    TableViewController::viewDidLayoutSubviews();
    const qreal width = tableView()->frame().width();
    if (width != m_sortBarWidth) {
        rebuildSearchSortBarForWidth(width);
        rebuildSearchHistoryView();
    }
    placeSearchSortBar();
    layoutSearchNavigationChrome(false);
}

qreal KRSearchViewController::preferredSearchNavigationWidth()
{
    if (!modernSystem())
        return kClassicChromeWidth;
    NavigationController* nav = navigationController();
    NavigationBar* bar = nav ? nav->navigationBar() : nullptr;
    qreal width = bar ? bar->frame().width() : view()->frame().width();
    if (width <= 0)
        width = platform::DeviceProfile::screenSize().width();
    const EdgeInsets insets = bar ? KRSafeAreaInsetsForView(bar) : EdgeInsets{};
    const bool stacked = nav && nav->viewControllers().size() > 1;
    qreal reserved = insets.left + insets.right + 24;
    if (stacked)
        reserved += 84;
    if (navigationItem()->leftBarButtonItem())
        reserved += 52;
    if (navigationItem()->rightBarButtonItem())
        reserved += 52;
    const qreal minimum = stacked ? 180 : kClassicChromeWidth;
    const qreal maximum = platform::DeviceProfile::isPad() ? 520 : 360;
    return std::min(std::floor(std::max(minimum, width - reserved)), maximum);
}

void KRSearchViewController::layoutSearchNavigationChrome(bool animated)
{
    if (!m_searchContainer)
        return;
    const bool modern = modernSystem();
    const qreal w = modern ? preferredSearchNavigationWidth() : kClassicChromeWidth;
    if (KRViewUsesFullScreenSafeArea(view()) || KRApplicationUsesFullScreenSafeArea() || modern) {
        const QRectF frame = m_searchContainer->frame();
        if (frame.size() != QSizeF(w, kChromeHeight)) {
            m_searchContainer->setFrame(QRectF(frame.topLeft(), QSizeF(w, kChromeHeight)));
            if (NavigationController* nav = navigationController())
                nav->navigationBar()->setNeedsLayout();
        }
    }
    const qreal h = modern ? 36 : 34;
    const qreal y = std::floor((kChromeHeight - h) / 2);
    const qreal c = modern ? 54 : 45;
    const qreal gap = modern ? 6 : 7;
    const QRectF fieldTo = m_searchFieldEditing ? QRectF(0, y, std::max<qreal>(w - c - gap, 160), h) : QRectF(0, y, w, h);
    const QRectF cancelTo(w - c, y, c, h);
    if (!animated) {
        m_searchField->setFrame(fieldTo);
        m_searchCancelButton->setFrame(cancelTo);
        return;
    }
    const QRectF fieldFrom = m_searchField->frame(), cancelFrom = m_searchCancelButton->frame();
    auto between = [](const QRectF& a, const QRectF& b, double t) {
        return QRectF(a.x() + (b.x() - a.x()) * t, a.y() + (b.y() - a.y()) * t, a.width() + (b.width() - a.width()) * t,
                      a.height() + (b.height() - a.height()) * t);
    };
    QPointer<KRThemedSearchTextField> field = m_searchField;
    QPointer<Button> cancel = m_searchCancelButton;
    AnimationClock::animate(m_searchContainer, kChromeAnimationSeconds, [=](double t) {
        if (field)
            field->setFrame(between(fieldFrom, fieldTo, t));
        if (cancel)
            cancel->setFrame(between(cancelFrom, cancelTo, t));
    });
}

void KRSearchViewController::rebuildSearchSortBarForWidth(qreal width)
{
    if (!m_searchSortBar)
        return;
    m_sortBarWidth = width;
    const KRTheme* theme = KRTheme::sharedTheme();
    m_searchSortBar->setBackgroundColor(theme->backgroundColor());
    m_searchSortBar->setFrame(QRectF(m_searchSortBar->frame().topLeft(), QSizeF(width, kSortBarHeight)));
    const qreal b = std::floor((std::max<qreal>(width, 200) - 26) / 4);
    for (int i = 0; i < m_searchSortButtons.size(); ++i) {
        Button* button = m_searchSortButtons[i];
        button->setFrame(QRectF(7 + i * (b + 4), 4, b, 32));
        const bool current = orderOf(kSortOrders[i]) == m_searchOrder && orderOf(kSortOrders[i]).isNull() == m_searchOrder.isNull();
        if (current) {
            button->setTitleColor(KRTarnwick23ButtonTitleColor(theme), ControlStateNormal);
            button->setTitleShadowColor(KRTarnwick23ButtonTitleShadowColor(theme), ControlStateNormal);
            button->titleLabel()->setShadowOffset(KRTarnwick23ButtonTitleShadowOffset(theme));
            button->setBackgroundImage(KRTarnwick23ButtonBackground(theme, false), ControlStateNormal);
            button->setBackgroundImage(KRTarnwick23ButtonBackground(theme, true), ControlStateHighlighted);
        } else {
            button->setTitleColor(KRTarnwick23PaleButtonTitleColor(theme), ControlStateNormal);
            button->setTitleShadowColor(KRTarnwick23PaleButtonTitleShadowColor(theme), ControlStateNormal);
            button->titleLabel()->setShadowOffset(KRTarnwick23PaleButtonTitleShadowOffset(theme));
            button->setBackgroundImage(KRTarnwick23PaleButtonBackground(theme, false), ControlStateNormal);
            button->setBackgroundImage(KRTarnwick23PaleButtonBackground(theme, true), ControlStateHighlighted);
        }
        button->setSelected(current);
    }
}

void KRSearchViewController::placeSearchSortBar()
{
    if (!m_searchSortBar)
        return;
    const bool shown = showsSearchSortBar();
    m_searchSortBar->setHidden(!shown);
    if (!shown)
        return;
    // A plain table's header stays pinned under the bar while its rows scroll beneath it, so
    // the orders can be changed from anywhere in the results.
    TableView* table = tableView();
    const QRectF place = table->rectForHeaderInSection(0);
    qreal y = std::max(place.top(), table->contentOffset().y() + table->contentInset().top);
    const int rows = table->numberOfRowsInSection(0);
    if (rows > 0)
        y = std::max(place.top(), std::min(y, table->rectForRowAtIndexPath({0, rows - 1}).bottom() - kSortBarHeight));
    m_searchSortBar->setFrame(QRectF(0, y, m_sortBarWidth, kSortBarHeight));
    m_searchSortBar->raise();
}

void KRSearchViewController::reloadTable()
{
    if (!isViewLoaded())
        return;
    tableView()->reloadData();
    placeSearchSortBar();
}

bool KRSearchViewController::isNextPageScheduled() const { return m_delayed->isScheduled(kNextPageCall); }

bool KRSearchViewController::showsSearchSortBar() const
{
    return !m_showingHot && !m_searchFieldEditing && !m_lastKeyword.isEmpty();
}

// ---- History ----

void KRSearchViewController::reloadSearchHistory() { m_searchHistory = KRSearchHistory::read(); }

void KRSearchViewController::saveSearchKeywordToHistory(const QString& keyword)
{
    if (keyword.trimmed().isEmpty())
        return;
    m_searchHistory = KRSearchHistory::save(keyword);
    rebuildSearchHistoryView();
}

QList<Button*> KRSearchViewController::searchHistoryButtons() const
{
    QList<Button*> buttons;
    for (const QPointer<Button>& b : m_searchHistoryButtons)
        buttons.append(b);
    return buttons;
}

QList<Button*> KRSearchViewController::searchHistoryDeleteButtons() const
{
    QList<Button*> buttons;
    for (const QPointer<Button>& b : m_searchHistoryDeleteButtons)
        buttons.append(b);
    return buttons;
}

void KRSearchViewController::rebuildSearchHistoryView()
{
    if (!m_searchHistoryView)
        return;
    // A tap on one of these buttons may be what rebuilds the panel: they go once it returns.
    for (const QPointer<Button>& b : m_searchHistoryButtons + m_searchHistoryDeleteButtons) {
        if (b) {
            b->removeFromSuperview();
            b->deleteLater();
        }
    }
    m_searchHistoryButtons.clear();
    m_searchHistoryDeleteButtons.clear();

    const qreal w = tableView()->frame().width();
    const bool shown = m_searchFieldEditing && !m_searchHistory.isEmpty();
    m_searchHistoryTitleLabel->setHidden(!shown);
    m_searchHistoryClearButton->setHidden(!shown);
    m_searchHistoryClearButton->setEnabled(shown);

    const KRTheme* theme = KRTheme::sharedTheme();
    if (shown) {
        for (int i = 0; i < m_searchHistory.size(); ++i) {
            const qreal y = 31 + 38 * i;
            auto* keyword = new Button(ButtonTypeCustom, QRectF(8, y, std::max<qreal>(w - 16, 120), 34), m_searchHistoryView);
            keyword->setTag(kHistoryKeywordTagBase + i);
            keyword->titleLabel()->setFont(Label::systemFont(12));
            keyword->titleLabel()->setTextAlignment(TextAlignmentLeft);
            keyword->setContentEdgeInsets(EdgeInsets{0, 10, 0, 34});
            keyword->setTitle(m_searchHistory[i], ControlStateNormal);
            keyword->setTitleColor(KRTarnwick23PaleButtonTitleColor(theme), ControlStateNormal);
            keyword->setTitleColor(KRTarnwick23PaleButtonTitleColor(theme), ControlStateHighlighted);
            keyword->setBackgroundImage(KRTarnwick23PaleButtonBackground(theme, false), ControlStateNormal);
            keyword->setBackgroundImage(KRTarnwick23PaleButtonBackground(theme, true), ControlStateHighlighted);
            const int keywordTag = keyword->tag();
            keyword->addTarget(ControlEventTouchUpInside, [this, keywordTag] { searchHistoryTapped(keywordTag); });
            m_searchHistoryButtons.append(keyword);

            auto* remove = new Button(ButtonTypeCustom, QRectF(std::max<qreal>(w - 44, 8), y, 36, 34), m_searchHistoryView);
            remove->setTag(kHistoryDeleteTagBase + i);
            remove->titleLabel()->setFont(Label::systemFont(18, true));
            remove->setTitle(QStringLiteral("×"), ControlStateNormal);
            remove->setTitleColor(theme->secondaryTextColor(), ControlStateNormal);
            remove->setTitleColor(theme->accentColor(), ControlStateHighlighted);
            const int removeTag = remove->tag();
            remove->addTarget(ControlEventTouchUpInside, [this, removeTag] { deleteSearchHistoryTapped(removeTag); });
            m_searchHistoryDeleteButtons.append(remove);
        }
    }

    const qreal height = shown ? 36 + 38 * m_searchHistory.size() : 0;
    const qreal oldHeight = m_searchHistoryView->frame().height();
    m_searchHistoryView->setFrame(QRectF(0, 0, w, height));
    m_searchHistoryView->setHidden(!shown);
    m_searchHistoryClearButton->setFrame(QRectF(std::max<qreal>(w - 82, 146), 1, 74, 28));
    m_searchHistoryView->bringSubviewToFront(m_searchHistoryClearButton);
    const bool sortBarChanged = m_searchSortBar && m_searchSortBar->isHidden() == showsSearchSortBar();
    if (std::abs(height - oldHeight) > 0.5 || sortBarChanged)
        reloadTable();
}

void KRSearchViewController::searchHistoryTapped(int tag)
{
    const int index = tag - kHistoryKeywordTagBase;
    if (index < 0 || index >= m_searchHistory.size())
        return;
    const QString keyword = m_searchHistory[index];
    endEditing();
    performSearchWithKeyword(keyword, true);
}

void KRSearchViewController::deleteSearchHistoryTapped(int tag)
{
    const int index = tag - kHistoryDeleteTagBase;
    if (index < 0 || index >= m_searchHistory.size())
        return;
    m_searchHistory = KRSearchHistory::removeAt(index);
    rebuildSearchHistoryView();
}

void KRSearchViewController::clearSearchHistoryTapped()
{
    if (m_searchHistory.isEmpty())
        return;
    KRSearchHistory::clear();
    reloadSearchHistory();
    rebuildSearchHistoryView();
    reloadTable();
}

// ---- Modes and pages ----

void KRSearchViewController::beginSearchForKeyword(const QString& keyword)
{
    const QString trimmed = keyword.trimmed();
    if (trimmed.isEmpty())
        return;
    view();
    m_didStartInitialSearch = true;
    m_initialKeyword = trimmed;
    endEditing();
    performSearchWithKeyword(trimmed, true);
}

void KRSearchViewController::performSearchWithKeyword(const QString& keyword, bool remember)
{
    const QString trimmed = keyword.trimmed();
    if (trimmed.isEmpty()) {
        showHotRanking();
        return;
    }
    m_searchField->setText(trimmed);
    m_lastKeyword = trimmed;
    m_searchOrder = QString();
    m_showingHot = false;
    rebuildSearchSortBarForWidth(m_sortBarWidth < 0 ? tableView()->frame().width() : m_sortBarWidth);
    if (remember)
        saveSearchKeywordToHistory(trimmed);
    abandonOutstandingRequest();
    beginNewMode();
    loadSearchPage(1, true, true);
}

void KRSearchViewController::showHotRanking()
{
    m_delayed->cancel(kShowHotRankingCall);
    m_searchField->setText(QString());
    m_lastKeyword = QString();
    m_searchOrder = QString();
    m_showingHot = true;
    reloadSearchHistory();
    rebuildSearchHistoryView();
    abandonOutstandingRequest();
    beginNewMode();
    loadSearchPage(1, true, true);
}

void KRSearchViewController::abandonOutstandingRequest()
{
    if (!m_loading)
        return;
    ++m_requestGeneration;
    m_loading = false;
}

void KRSearchViewController::beginNewMode()
{
    // The rows on screen belong to the previous mode until the new first page arrives: no
    // later page of the new mode may be appended to them meanwhile.
    m_currentModeLoaded = false;
    m_hasMorePages = false;
    m_delayed->cancel(kNextPageCall);
    reloadTable();
}

void KRSearchViewController::loadSearchPage(int page, bool reset, bool showTopSpinner)
{
    if (m_loading)
        return;
    m_loading = true;
    m_loadMoreView->setHidden(false);
    if (reset)
        m_autoFillRequests = 0;
    if (page >= 2)
        m_loadMoreView->setLoadMoreState(KRLoadMoreStateLoading);
    else if (showTopSpinner)
        m_spinner->startAnimating();

    const bool hot = m_showingHot || m_lastKeyword.isEmpty();
    const quint32 generation = ++m_requestGeneration;
    auto completion = [this, generation, page, reset, hot](const KRVideoList& videos, const KROptionalError& error) {
        if (generation != m_requestGeneration)
            return;
        receivePage(page, reset, hot, videos, error);
    };
    if (hot)
        KRAPIClient::sharedClient()->loadHomePage(page, this, completion);
    else
        KRAPIClient::sharedClient()->search(QString(m_lastKeyword), page, QString(m_searchOrder), this, completion);
}

void KRSearchViewController::failOutstandingRequestForTesting(int page, bool reset, const KROptionalError& error)
{
    if (!m_loading)
        return;
    ++m_requestGeneration;
    receivePage(page, reset, m_showingHot || m_lastKeyword.isEmpty(), {}, error);
}

void KRSearchViewController::receivePage(int page, bool reset, bool hot, const KRVideoList& videos, const KROptionalError& error)
{
    TableView* table = tableView();
    m_spinner->stopAnimating();
    m_pullRefreshView->endRefreshingInScrollView(table);

    if (error) {
        m_loading = false;
        if (page > 1) {
            m_loadMoreView->setLoadMoreState(KRLoadMoreStateFailed);
        } else if (!m_currentModeLoaded) {
            // Nothing of this mode is shown yet: the footer offers the first page again.
            m_hasMorePages = false;
            m_loadMoreView->setLoadMoreState(KRLoadMoreStateFailed);
        } else {
            // The rows shown stay, and so does where they end: a list that had reached its end
            // keeps "已经到底了". "上拉加载更多" would offer a page that neither a pull nor a tap
            // on the footer asks for, as no more pages remain.
            m_loadMoreView->setLoadMoreState(m_hasMorePages ? KRLoadMoreStateIdle : KRLoadMoreStateNoMore);
        }
        auto* alert = new AlertView(hot ? QStringLiteral("热门加载失败") : QStringLiteral("搜索失败"),
                                    error->localizedDescription(), QStringLiteral("知道了"), {});
        alert->show();
        return;
    }

    if (reset)
        m_videos.clear();
    QSet<QString> listed;
    for (const auto& video : std::as_const(m_videos)) {
        const QString identity = video->feedIdentity();
        if (!identity.isEmpty())
            listed.insert(identity);
    }
    int appended = 0;
    for (const auto& video : videos) {
        if (!video)
            continue;
        const QString identity = video->feedIdentity();
        if (!identity.isEmpty()) {
            if (listed.contains(identity))
                continue;
            listed.insert(identity);
        }
        m_videos.append(video);
        ++appended;
    }
    m_page = page;
    m_hasMorePages = !videos.isEmpty() && (reset || appended > 0);
    m_currentModeLoaded = true;

    reloadTable();
    m_loadMoreView->setLoadMoreState(m_hasMorePages ? KRLoadMoreStateIdle : KRLoadMoreStateNoMore);
    table->layoutIfNeeded();
    m_loading = false;

    if (!m_videos.isEmpty()) {
        const auto& first = m_videos.first();
        // One pass over every argument: a keyword holding "%1" must not be substituted again.
        KRConsole::log(QStringLiteral("[KorvaneExplore] mode=%1 keyword=%2 order=%3 page=%4 reset=%5 appended=%6 total=%7 "
                                      "first=%8 play=%9 danmaku=%10 duration=%11")
                           .arg(hot ? QStringLiteral("hot") : QStringLiteral("search"), KRConsole::object(hot ? QString() : m_lastKeyword),
                                m_searchOrder.isEmpty() ? QStringLiteral("comprehensive") : m_searchOrder, QString::number(page),
                                KRConsole::boolean(reset), QString::number(appended), QString::number(m_videos.size()),
                                first->displayIdentifier(), QString::number(first->playCount()),
                                QString::number(first->danmakuCount()), first->displayDuration()));
    }

    if (m_hasMorePages && table->contentSize().height() <= table->frame().height() + kFillSlack &&
        m_autoFillRequests < kMaximumAutoFillRequests) {
        ++m_autoFillRequests;
        m_delayed->schedule(kNextPageCall, kAutoFillDelay, [this] { loadNextSearchPage(); });
    }
}

void KRSearchViewController::loadNextSearchPage()
{
    if (!m_loading && m_hasMorePages)
        loadSearchPage(m_page + 1, false, false);
}

void KRSearchViewController::loadMoreButtonTapped()
{
    // Until a first page of this mode has arrived there is no next page: the footer's retry
    // asks for the first one again.
    if (!m_currentModeLoaded)
        loadSearchPage(1, true, true);
    else
        loadNextSearchPage();
}

void KRSearchViewController::searchSortButtonTapped(int tag)
{
    if (tag < kSortTagComprehensive || tag > kSortTagDanmaku)
        return;
    if (m_showingHot || m_lastKeyword.isEmpty())
        return;
    const QString order = orderOf(kSortOrders[tag - kSortTagComprehensive]);
    if (order.isNull() && m_searchOrder.isNull())
        return;
    if (!order.isNull() && order == m_searchOrder)
        return;
    abandonOutstandingRequest();
    m_searchOrder = order;
    rebuildSearchSortBarForWidth(m_sortBarWidth);
    beginNewMode();
    reloadTable();
    tableView()->setContentOffset(QPointF(0, -tableView()->contentInset().top));
    loadSearchPage(1, true, true);
}

// ---- Rows ----

int KRSearchViewController::numberOfRowsInSection(TableView*, int)
{
    return m_videos.isEmpty() ? 1 : int(m_videos.size());
}

TableViewCell* KRSearchViewController::cellForRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    auto* cell = qobject_cast<KRVideoCell*>(table->dequeueReusableCellWithIdentifier(kCellIdentifier));
    if (!cell)
        cell = new KRVideoCell(TableViewCellStyleDefault, kCellIdentifier);
    if (m_videos.isEmpty()) {
        if (m_showingHot)
            cell->setTitleText(QStringLiteral("热门排行暂无内容"), QStringLiteral("下拉可重新获取热门内容"), QString());
        else
            cell->setTitleText(QStringLiteral("没有找到相关视频"), QStringLiteral("可尝试 BV 号、标题或 UP 主关键词"), QString());
        cell->setAccessoryType(TableViewCellAccessoryNone);
        return cell;
    }
    const auto& video = m_videos.at(std::clamp(indexPath.row, 0, int(m_videos.size()) - 1));
    cell->configureWithVideo(video);
    cell->setAccessoryType(TableViewCellAccessoryNone);
    if (!video->isUnavailable() && !video->coverURL().isEmpty())
        cell->loadCover();
    return cell;
}

qreal KRSearchViewController::heightForHeaderInSection(TableView*, int)
{
    return showsSearchSortBar() ? kSortBarHeight : kNoSortBarHeight;
}

void KRSearchViewController::didSelectRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    table->deselectRowAtIndexPath(indexPath, true);
    if (m_videos.isEmpty() || indexPath.row < 0 || indexPath.row >= m_videos.size())
        return;
    const auto video = m_videos.at(indexPath.row);
    if (video->isUnavailable())
        return;
    KRRouter::openVideoPage(navigationController(), video);
}

// ---- Scrolling ----

void KRSearchViewController::scrollViewDidScroll(ScrollView*)
{
    if (!m_pullRefreshView)
        return;
    TableView* table = tableView();
    m_pullRefreshView->updateForScrollView(table);
    placeSearchSortBar();
    if (m_loading || !m_hasMorePages || m_videos.isEmpty())
        return;
    const qreal contentHeight = table->contentSize().height();
    const qreal height = table->frame().height();
    if (contentHeight > height && table->contentOffset().y() + height >= contentHeight - kNextPageDistance)
        loadNextSearchPage();
}

void KRSearchViewController::scrollViewDidEndDragging(ScrollView*, bool)
{
    if (!m_pullRefreshView || m_loading || !m_pullRefreshView->shouldBeginRefreshAfterDragging())
        return;
    m_pullRefreshView->beginRefreshingInScrollView(tableView());
    loadSearchPage(1, true, false);
}

// ---- Editing ----

void KRSearchViewController::endEditing()
{
    if (m_searchField)
        m_searchField->resignFirstResponder();
}

void KRSearchViewController::textFieldDidBeginEditing()
{
    m_searchFieldEditing = true;
    m_searchCancelButton->setHidden(false);
    layoutSearchNavigationChrome(true);
    reloadSearchHistory();
    rebuildSearchHistoryView();
    if (!m_searchHistory.isEmpty())
        tableView()->setContentOffset(QPointF(0, -tableView()->contentInset().top));
}

void KRSearchViewController::textFieldDidEndEditing()
{
    m_searchFieldEditing = false;
    m_searchCancelButton->setHidden(true);
    layoutSearchNavigationChrome(true);
    rebuildSearchHistoryView();
}

void KRSearchViewController::searchTextChanged()
{
    const bool cleared = std::exchange(m_clearingSearchField, false);
    if (m_searchField->text().trimmed().isEmpty() && !(m_showingHot && !m_videos.isEmpty())) {
        // The clear button has asked for the ranking already, sooner than typing does.
        if (cleared)
            return;
        m_delayed->cancel(kShowHotRankingCall);
        m_delayed->schedule(kShowHotRankingCall, kHotAfterTypingDelay, [this] { showHotRanking(); });
        return;
    }
    m_delayed->cancel(kShowHotRankingCall);
    reloadSearchHistory();
    rebuildSearchHistoryView();
}

bool KRSearchViewController::textFieldShouldClear()
{
    m_delayed->cancel(kShowHotRankingCall);
    if (!(m_showingHot && !m_videos.isEmpty()))
        m_delayed->schedule(kShowHotRankingCall, kHotAfterClearDelay, [this] { showHotRanking(); });
    m_clearingSearchField = true;
    return true;
}

bool KRSearchViewController::textFieldShouldReturn()
{
    endEditing();
    const QString trimmed = m_searchField->text().trimmed();
    if (trimmed.isEmpty()) {
        if (!(m_showingHot && !m_videos.isEmpty()))
            showHotRanking();
    } else {
        performSearchWithKeyword(trimmed, true);
    }
    return false;
}

void KRSearchViewController::searchCancelButtonTapped()
{
    m_delayed->cancel(kShowHotRankingCall);
    m_searchField->setText(QString());
    endEditing();
    if (m_showingHot) {
        reloadSearchHistory();
        rebuildSearchHistoryView();
    } else {
        showHotRanking();
    }
}
