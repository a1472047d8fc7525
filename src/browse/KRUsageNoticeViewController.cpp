#include "browse/KRUsageNoticeViewController.h"

#include "look/KRTheme.h"
#include "model/KRBuildConfig.h"
#include "model/KRServiceHosts.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/ScrollView.h"

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

namespace {

// The version of the notice's text a user must have acknowledged.
constexpr qint64 kCurrentNoticeVersion = 1;

const QString kTitle = QStringLiteral("使用须知");
const QString kButtonTitle = QStringLiteral("我已知悉并继续");

// Layout, in points.
constexpr qreal kSideMargins = 32, kMinimumTextWidth = 220;
constexpr qreal kIntroTop = 22, kAfterIntro = 28;
constexpr qreal kSectionTitleHeight = 22, kTitleToBody = 29, kAfterSection = 27;
constexpr qreal kButtonGap = 2, kButtonHeight = 44, kAfterButton = 62, kBottomMargin = 20;

QString makerAddress() { return QStringLiteral("https://") + KRServiceHosts::makerHost(); }

QString distributionBody() { return QStringLiteral("获取更新请以 %1 发布的信息为准。").arg(makerAddress()); }

// The contact lines name no messaging product: the numbers are build settings and may belong
// to any of them.
QString updateBody()
{
    return QStringLiteral("获取更新：%1\n交流群：%2\n作者联系方式：%3")
        .arg(makerAddress(), QString::fromUtf8(KRBuildConfig::CommunityGroup), QString::fromUtf8(KRBuildConfig::AuthorContact));
}

const QString kDisclaimerBody = QStringLiteral(
    "岚帆影院是非官方第三方客户端，仅供个人学习、交流与旧设备兼容研究使用，与岚帆视频官方不存在隶属、授权或合作关系。"
    "软件中展示的视频、图片、评论、名称及标识等内容，其权利归原权利人所有。"
    "用户应自行遵守相关平台规则，并自行承担使用本软件可能产生的账号、数据、网络及设备风险。");

} // namespace

Label* KRUsageNoticeLabel(const QFont& font, int numberOfLines)
{
    auto* label = new Label(QRectF());
    label->setBackgroundColor(QBrush(Qt::NoBrush));
    label->setFont(font);
    label->setNumberOfLines(numberOfLines);
    label->setLineBreakMode(LineBreakByWordWrapping);
    return label;
}

KRUsageNoticeViewController::KRUsageNoticeViewController(bool acknowledgementRequired, QObject* parent)
    : ViewController(parent)
    , m_acknowledgementRequired(acknowledgementRequired)
{
}

KRUsageNoticeViewController::~KRUsageNoticeViewController() = default;

bool KRUsageNoticeViewController::needsInitialAcknowledgement()
{
    return platform::UserDefaults::standard().integer(KRUsageNoticeAcceptedVersionKey, 0) < kCurrentNoticeVersion;
}

qreal KRUsageNoticeViewController::heightForLabel(const Label* label, qreal width)
{
    if (!label || label->text().isEmpty())
        return 2;
    return std::ceil(label->sizeThatFits(QSizeF(width, 0)).height()) + 2;
}

bool KRUsageNoticeViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    return orientation == InterfaceOrientationPortrait;
}

int KRUsageNoticeViewController::supportedInterfaceOrientations() { return InterfaceOrientationMaskPortrait; }

void KRUsageNoticeViewController::viewDidLoad()
{
    setTitle(kTitle);
    navigationItem()->setBackBarButtonItem(new BarButtonItem(QStringLiteral("返回"), BarButtonItemStyleBordered));

    m_scrollView = new ScrollView(view()->bounds(), view());
    m_scrollView->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    m_scrollView->setAlwaysBounceVertical(true);

    auto add = [this](Label* label, const QString& text) {
        label->setText(text);
        m_scrollView->addSubview(label);
        return label;
    };
    const QFont titleFont = Label::systemFont(16, true);
    const QFont bodyFont = Label::systemFont(13);
    m_introLabel = add(KRUsageNoticeLabel(Label::systemFont(15, true), 0),
                       m_acknowledgementRequired ? QStringLiteral("请在继续使用岚帆影院前阅读以下说明。")
                                                 : QStringLiteral("感谢你使用岚帆影院。请妥善保管安装包并遵守以下说明。"));
    m_distributionTitleLabel = add(KRUsageNoticeLabel(titleFont, 1), QStringLiteral("安装包传播声明"));
    m_distributionBodyLabel = add(KRUsageNoticeLabel(bodyFont, 0), distributionBody());
    m_disclaimerTitleLabel = add(KRUsageNoticeLabel(titleFont, 1), QStringLiteral("免责声明"));
    m_disclaimerBodyLabel = add(KRUsageNoticeLabel(bodyFont, 0), kDisclaimerBody);
    m_updateTitleLabel = add(KRUsageNoticeLabel(titleFont, 1), QStringLiteral("更新与联系"));
    m_updateBodyLabel = add(KRUsageNoticeLabel(bodyFont, 0), updateBody());

    if (m_acknowledgementRequired) {
        m_acknowledgeButton = new Button(ButtonTypeCustom, QRectF(), m_scrollView);
        m_acknowledgeButton->titleLabel()->setFont(Label::systemFont(15, true));
        m_acknowledgeButton->setCornerRadius(6);
        m_acknowledgeButton->setBorderWidth(1);
        m_acknowledgeButton->setTitle(kButtonTitle, ControlStateNormal);
        m_acknowledgeButton->addTarget(ControlEventTouchUpInside, [this] { acknowledgeTapped(); });
    }

    m_themeObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) { applyTheme(); });
    applyTheme();
}

void KRUsageNoticeViewController::viewWillAppear(bool) { applyTheme(); }

void KRUsageNoticeViewController::viewDidLayoutSubviews()
{
    const QRectF bounds = view()->bounds();
    const qreal W = bounds.width();
    m_scrollView->setFrame(bounds);
    const qreal w = std::max(W - kSideMargins, kMinimumTextWidth);
    const qreal x = std::floor((W - w) / 2);

    const qreal introHeight = heightForLabel(m_introLabel, w);
    m_introLabel->setFrame(QRectF(x, kIntroTop, w, introHeight));
    qreal y = kIntroTop + introHeight + kAfterIntro;
    const std::pair<Label*, Label*> sections[] = {{m_distributionTitleLabel, m_distributionBodyLabel},
                                                  {m_disclaimerTitleLabel, m_disclaimerBodyLabel},
                                                  {m_updateTitleLabel, m_updateBodyLabel}};
    for (const auto& [title, body] : sections) {
        title->setFrame(QRectF(x, y, w, kSectionTitleHeight));
        const qreal bodyHeight = heightForLabel(body, w);
        body->setFrame(QRectF(x, y + kTitleToBody, w, bodyHeight));
        y += kTitleToBody + bodyHeight + kAfterSection;
    }
    if (m_acknowledgeButton) {
        m_acknowledgeButton->setFrame(QRectF(x, y + kButtonGap, w, kButtonHeight));
        y += kAfterButton;
    }
    // Never shorter than the page plus a point, so it always gives a little under the finger.
    m_scrollView->setContentSize(QSizeF(W, std::max(bounds.height() + 1, y + kBottomMargin)));
}

void KRUsageNoticeViewController::applyTheme()
{
    if (!isViewLoaded() || !m_scrollView)
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    theme->applyNavigationTitle(kTitle, navigationItem());
    view()->setBackgroundColor(theme->backgroundColor());
    m_scrollView->setBackgroundColor(theme->backgroundColor());
    for (Label* body : {m_introLabel, m_distributionBodyLabel, m_disclaimerBodyLabel, m_updateBodyLabel})
        body->setTextColor(theme->primaryTextColor());
    for (Label* title : {m_distributionTitleLabel, m_disclaimerTitleLabel, m_updateTitleLabel})
        title->setTextColor(theme->accentColor());
    if (m_acknowledgeButton) {
        m_acknowledgeButton->setBackgroundColor(theme->accentColor());
        m_acknowledgeButton->setBorderColor(theme->separatorColor());
        m_acknowledgeButton->setTitleColor(Qt::white, ControlStateNormal);
    }
    theme->refreshNavigationController(navigationController());
}

void KRUsageNoticeViewController::acknowledgeTapped()
{
    auto& defaults = platform::UserDefaults::standard();
    defaults.setObject(KRUsageNoticeAcceptedVersionKey, kCurrentNoticeVersion);
    defaults.synchronize();
    // The platform dismissed the modal that holds the page; here that is its navigation
    // controller when it has one. The release comes later, so the page can still be posted.
    ViewController* modal = this;
    if (navigationController() && navigationController()->presentingViewController())
        modal = navigationController();
    if (modal->presentingViewController())
        modal->dismissViewControllerAnimated(true);
    platform::NotificationCenter::defaultCenter().post(KRUsageNoticeDidAcknowledgeNotification, this);
}
