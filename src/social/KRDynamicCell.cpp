#include "social/KRDynamicCell.h"

#include "look/KRTarnwick23Skin.h"
#include "look/KRTheme.h"
#include "model/KRDynamic.h"
#include "model/KRVideo.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/View.h"
#include "images/KRImageLoader.h"
#include "shared/KRInlineEmoteLabel.h"

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

namespace {

constexpr int kMaximumPictures = 9;

// The text the body shows, and is measured with: a post without text still says what it is.
QString bodyText(const KRDynamic& dynamic)
{
    if (!dynamic.text().isEmpty())
        return dynamic.text();
    return dynamic.video() ? QStringLiteral("分享了视频") : QStringLiteral("发布了新动态");
}

bool hasOriginal(const KRDynamic& dynamic)
{
    return !dynamic.originalText().isEmpty() || !dynamic.originalTitle().isEmpty();
}

Control* tapArea(View* superview, const QString& name, std::function<void()> action)
{
    auto* control = new Control(QRectF(), superview);
    control->setObjectName(name);
    control->addTarget(ControlEventTouchUpInside, std::move(action));
    return control;
}

Button* actionButton(View* superview, const QString& name, std::function<void()> action)
{
    auto* button = new Button(ButtonTypeCustom, QRectF(), superview);
    button->setObjectName(name);
    button->titleLabel()->setFont(Label::systemFont(11));
    button->addTarget(ControlEventTouchUpInside, std::move(action));
    return button;
}

} // namespace

qreal KRDynamicBodyHeight(const KRDynamic& dynamic, bool expanded, qreal width)
{
    qreal h = KRInlineEmoteLabel::heightForMessage(bodyText(dynamic), dynamic.emotes(), std::max(width - 20, qreal(80)),
                                                   Label::systemFont(13), expanded ? 0 : 4);
    h = std::ceil(h) + 2;
    if (!expanded)
        h = std::min(h, qreal(72));
    return std::max(h, qreal(18));
}

qreal KRDynamicPictureHeight(int count, qreal width)
{
    if (count <= 0)
        return 0;
    if (count == 1)
        return 92;
    const int n = std::min(count, kMaximumPictures);
    const int rows = (n + 2) / 3;
    const qreal side = std::floor((std::max(width - 20, qreal(90)) - 8) / 3);
    return rows * side + (rows - 1) * 4;
}

qreal KRDynamicCell::heightForDynamic(const KRDynamic& dynamic, qreal tableWidth, bool expanded)
{
    qreal h = KRDynamicBodyHeight(dynamic, expanded, tableWidth) + 50 + 5;
    if (!dynamic.pictureURLs().isEmpty())
        h += KRDynamicPictureHeight(int(dynamic.pictureURLs().size()), tableWidth) + 4;
    if (dynamic.video())
        h += 68;
    if (hasOriginal(dynamic))
        h += 62;
    return h + 35;
}

KRDynamicCell::KRDynamicCell(int style, const QString& reuseIdentifier) : TableViewCell(style, reuseIdentifier)
{
    setSelectionStyle(TableViewCellSelectionStyleNone);
    View* content = contentView();

    m_avatarView = new ImageView(QRectF(), content);
    m_avatarView->setObjectName(QStringLiteral("avatarView"));
    m_avatarView->setContentMode(ContentModeScaleAspectFill);
    m_avatarView->setCornerRadius(18);

    m_authorLabel = new Label(QRectF(), content);
    m_authorLabel->setObjectName(QStringLiteral("authorLabel"));
    m_authorLabel->setFont(Label::systemFont(14, true));

    m_timeLabel = new Label(QRectF(), content);
    m_timeLabel->setObjectName(QStringLiteral("timeLabel"));
    m_timeLabel->setFont(Label::systemFont(10));

    m_bodyLabel = new KRInlineEmoteLabel(QRectF(), content);
    m_bodyLabel->setObjectName(QStringLiteral("bodyLabel"));
    m_bodyLabel->setFont(Label::systemFont(13));
    m_bodyLabel->setNumberOfLines(3);
    m_bodyLabel->setLineBreakMode(LineBreakByCharWrapping);

    m_authorControl = tapArea(content, QStringLiteral("authorControl"), [this] { authorTapped(); });
    m_bodyControl = tapArea(content, QStringLiteral("bodyControl"), [this] { bodyTapped(); });

    m_videoControl = tapArea(content, QStringLiteral("videoControl"), [this] { videoTapped(); });
    m_videoControl->setCornerRadius(6);
    m_coverView = new ImageView(QRectF(), m_videoControl);
    m_coverView->setObjectName(QStringLiteral("coverView"));
    m_coverView->setContentMode(ContentModeScaleAspectFill);
    m_coverView->setUserInteractionEnabled(false);
    m_videoTitleLabel = new Label(QRectF(), m_videoControl);
    m_videoTitleLabel->setObjectName(QStringLiteral("videoTitleLabel"));
    m_videoTitleLabel->setFont(Label::systemFont(12, true));
    m_videoTitleLabel->setNumberOfLines(2);
    m_videoTitleLabel->setUserInteractionEnabled(false);

    m_pictureContainer = new View(QRectF(), content);
    m_pictureContainer->setObjectName(QStringLiteral("pictureContainer"));
    for (int i = 0; i < kMaximumPictures; ++i) {
        auto* picture = new ImageView(QRectF(), m_pictureContainer);
        picture->setObjectName(QStringLiteral("pictureView%1").arg(i));
        picture->setContentMode(ContentModeScaleAspectFill);
        picture->setCornerRadius(4);
        picture->setHidden(true);
        m_pictureViews << picture;
        auto* control = new Control(QRectF(), m_pictureContainer);
        control->setObjectName(QStringLiteral("pictureControl%1").arg(i));
        control->setTag(i);
        control->setHidden(true);
        control->addTarget(ControlEventTouchUpInside, [this, control] { pictureTapped(control->tag()); });
        m_pictureControls << control;
    }

    m_originalCard = tapArea(content, QStringLiteral("originalCard"), [this] { originalTapped(); });
    m_originalCard->setCornerRadius(5);
    m_originalCoverView = new ImageView(QRectF(), m_originalCard);
    m_originalCoverView->setObjectName(QStringLiteral("originalCoverView"));
    m_originalCoverView->setContentMode(ContentModeScaleAspectFill);
    m_originalCoverView->setUserInteractionEnabled(false);
    m_originalLabel = new Label(QRectF(), m_originalCard);
    m_originalLabel->setObjectName(QStringLiteral("originalLabel"));
    m_originalLabel->setFont(Label::systemFont(11));
    m_originalLabel->setNumberOfLines(3);
    m_originalLabel->setUserInteractionEnabled(false);

    m_likeButton = actionButton(content, QStringLiteral("likeButton"), [this] { likeTapped(); });
    m_commentButton = actionButton(content, QStringLiteral("commentButton"), [this] { commentTapped(); });
    m_repostButton = actionButton(content, QStringLiteral("repostButton"), [this] { repostTapped(); });
    m_repostButton->setTitle(QStringLiteral("更多"), ControlStateNormal);

    m_videoControl->setHidden(true);
    m_originalCard->setHidden(true);
    m_pictureContainer->setHidden(true);
    applyTheme();
}

KRDynamicCell::~KRDynamicCell() { m_delegate = nullptr; }

void KRDynamicCell::setDelegate(KRDynamicCellDelegate* delegate) { m_delegate = delegate; }

void KRDynamicCell::applyTheme()
{
    const KRTheme* theme = KRTheme::sharedTheme();
    setBackgroundColor(theme->surfaceColor());
    contentView()->setBackgroundColor(theme->surfaceColor());
    for (Label* label : {m_authorLabel, m_timeLabel, static_cast<Label*>(m_bodyLabel), m_videoTitleLabel, m_originalLabel})
        label->setBackgroundColor(QColor(Qt::transparent));
    m_authorLabel->setTextColor(theme->primaryTextColor());
    m_bodyLabel->setTextColor(theme->primaryTextColor());
    m_videoTitleLabel->setTextColor(theme->primaryTextColor());
    m_timeLabel->setTextColor(theme->secondaryTextColor());
    m_originalLabel->setTextColor(theme->primaryTextColor());
    m_videoControl->setBackgroundColor(theme->backgroundColor());
    m_originalCard->setBackgroundColor(theme->backgroundColor());
    m_pictureContainer->setBackgroundColor(QColor(Qt::transparent));
    for (ImageView* picture : std::as_const(m_pictureViews))
        picture->setBackgroundColor(theme->backgroundColor());
    const Image normal = KRTarnwick23PaleButtonBackground(theme, false);
    const Image highlighted = KRTarnwick23PaleButtonBackground(theme, true);
    const QColor title = KRTarnwick23PaleButtonTitleColor(theme);
    for (Button* button : {m_likeButton, m_commentButton, m_repostButton}) {
        button->setBackgroundImage(normal, ControlStateNormal);
        button->setBackgroundImage(highlighted, ControlStateHighlighted);
        button->setTitleColor(title, ControlStateNormal);
        button->setTitleColor(theme->accentColor(), ControlStateHighlighted);
    }
    if (m_dynamic && m_dynamic->liked())
        m_likeButton->setTitleColor(theme->accentColor(), ControlStateNormal);
}

void KRDynamicCell::configureWithDynamic(const std::shared_ptr<KRDynamic>& dynamic, bool expanded)
{
    m_dynamic = dynamic;
    m_expanded = expanded;
    for (ImageView* view : {m_avatarView, m_coverView, m_originalCoverView})
        view->setImage({});
    m_originalLabel->setText({});
    for (int i = 0; i < kMaximumPictures; ++i) {
        m_pictureViews[i]->setImage({});
        m_pictureViews[i]->setHidden(true);
        m_pictureControls[i]->setHidden(true);
    }
    if (!dynamic) {
        m_authorLabel->setText({});
        m_timeLabel->setText({});
        m_bodyLabel->configureWithMessage({}, {});
        m_videoTitleLabel->setText({});
        applyTheme();
        setNeedsLayout();
        return;
    }

    const QString author = dynamic->authorName();
    m_authorLabel->setText(author.isEmpty() ? QStringLiteral("岚帆视频用户") : author);
    m_timeLabel->setText(dynamic->publishText());
    m_bodyLabel->configureWithMessage(bodyText(*dynamic), dynamic->emotes());
    m_videoTitleLabel->setText(dynamic->video() ? dynamic->video()->title() : QString());
    m_likeButton->setTitle((dynamic->liked() ? QStringLiteral("已赞 %1") : QStringLiteral("赞 %1")).arg(dynamic->likeCount()),
                           ControlStateNormal);
    m_commentButton->setTitle(dynamic->commentCount() >= 1 ? QStringLiteral("评论 %1").arg(dynamic->commentCount())
                                                           : QStringLiteral("评论"),
                              ControlStateNormal);
    m_repostButton->setTitle(QStringLiteral("更多"), ControlStateNormal);

    // A row reused before its pictures arrive drops them: each answer is checked against what
    // the row shows by then.
    const QString dynamicID = dynamic->dynamicID();
    KRImageLoader* loader = KRImageLoader::sharedLoader();
    if (!dynamic->authorAvatarURL().isEmpty()) {
        loader->loadImageForURLString(dynamic->authorAvatarURL(), this, [this, dynamicID](const Image& image) {
            if (m_dynamic && m_dynamic->dynamicID() == dynamicID)
                m_avatarView->setImage(image);
        });
    }
    if (dynamic->video() && !dynamic->video()->coverURL().isEmpty()) {
        loader->loadImageForURLString(dynamic->video()->coverURL(), this, [this, dynamicID](const Image& image) {
            if (m_dynamic && m_dynamic->dynamicID() == dynamicID)
                m_coverView->setImage(image);
        });
    }
    const QStringList pictures = dynamic->pictureURLs();
    const int n = std::min(int(pictures.size()), kMaximumPictures);
    for (int i = 0; i < n; ++i) {
        m_pictureViews[i]->setHidden(false);
        m_pictureControls[i]->setHidden(false);
        const QString url = pictures[i];
        loader->loadImageForURLString(url, this, [this, i, url](const Image& image) {
            if (image.isNull() || !m_dynamic)
                return;
            const QStringList shown = m_dynamic->pictureURLs();
            if (i < int(shown.size()) && shown[i] == url)
                m_pictureViews[i]->setImage(image);
        });
    }
    if (hasOriginal(*dynamic)) {
        const QString name = dynamic->originalAuthorName();
        const QString chosen = !dynamic->originalTitle().isEmpty() ? dynamic->originalTitle() : dynamic->originalText();
        m_originalLabel->setText(QStringLiteral("%1%2%3")
                                     .arg(name.isEmpty() ? QString() : QStringLiteral("@"),
                                          name.isEmpty() ? QStringLiteral("原动态") : name,
                                          chosen.isEmpty() ? QString() : QStringLiteral("\n") + chosen));
        const QString cover = dynamic->originalCoverURL();
        if (!cover.isEmpty()) {
            loader->loadImageForURLString(cover, this, [this, cover](const Image& image) {
                if (!image.isNull() && m_dynamic && m_dynamic->originalCoverURL() == cover)
                    m_originalCoverView->setImage(image);
            });
        }
    }
    applyTheme();
    setNeedsLayout();
}

void KRDynamicCell::layoutSubviews()
{
    TableViewCell::layoutSubviews();
    const qreal W = contentView()->bounds().width();
    m_avatarView->setFrame(QRectF(10, 9, 36, 36));
    m_authorLabel->setFrame(QRectF(54, 8, W - 64, 21));
    m_timeLabel->setFrame(QRectF(54, 28, W - 64, 15));
    if (!m_dynamic) {
        for (View* view : std::initializer_list<View*>{m_pictureContainer, m_videoControl, m_originalCard})
            view->setHidden(true);
        return;
    }
    const KRDynamic& dynamic = *m_dynamic;
    const qreal B = KRDynamicBodyHeight(dynamic, m_expanded, W);
    m_bodyLabel->setFrame(QRectF(10, 50, W - 20, B));
    m_bodyLabel->setNumberOfLines(m_expanded ? 0 : 5);
    m_authorControl->setFrame(QRectF(6, 5, W - 12, 41));
    m_bodyControl->setFrame(QRectF(6, 47, W - 12, B + 6));
    qreal y = 50 + B + 5;

    const int n = std::min(int(dynamic.pictureURLs().size()), kMaximumPictures);
    m_pictureContainer->setHidden(n == 0);
    if (n > 0) {
        const qreal P = KRDynamicPictureHeight(n, W);
        m_pictureContainer->setFrame(QRectF(10, y, W - 20, P));
        if (n == 1) {
            m_pictureViews[0]->setFrame(QRectF(0, 0, std::min(W - 20, qreal(164)), P));
        } else {
            const qreal s = std::floor((W - 20 - 8) / 3);
            for (int i = 0; i < n; ++i)
                m_pictureViews[i]->setFrame(QRectF((i % 3) * (s + 4), (i / 3) * (s + 4), s, s));
        }
        for (int i = 0; i < n; ++i)
            m_pictureControls[i]->setFrame(m_pictureViews[i]->frame());
        y += P + 4;
    }

    m_videoControl->setHidden(!dynamic.video());
    if (dynamic.video()) {
        m_videoControl->setFrame(QRectF(10, y, W - 20, 64));
        m_coverView->setFrame(QRectF(0, 0, 104, 64));
        m_videoTitleLabel->setFrame(QRectF(112, 7, W - 142, 50));
        y += 68;
    }

    const bool original = hasOriginal(dynamic);
    m_originalCard->setHidden(!original);
    if (original) {
        const bool cover = !dynamic.originalCoverURL().isEmpty();
        m_originalCard->setFrame(QRectF(10, y, W - 20, 58));
        m_originalCoverView->setHidden(!cover);
        m_originalCoverView->setFrame(QRectF(0, 0, cover ? 82 : 0, 58));
        m_originalLabel->setFrame(cover ? QRectF(89, 4, W - 119, 50) : QRectF(8, 4, W - 36, 50));
        y += 62;
    }

    const qreal a = std::floor((W - 16 - 10) / 3);
    m_likeButton->setFrame(QRectF(8, y, a, 30));
    m_commentButton->setFrame(QRectF(8 + a + 5, y, a, 30));
    m_repostButton->setFrame(QRectF(8 + 2 * (a + 5), y, W - 26 - 2 * a, 30));
}

void KRDynamicCell::videoTapped()
{
    if (m_delegate)
        m_delegate->dynamicCellDidSelectVideo(this);
}

void KRDynamicCell::authorTapped()
{
    if (m_delegate)
        m_delegate->dynamicCellDidSelectAuthor(this);
}

void KRDynamicCell::bodyTapped()
{
    if (m_delegate)
        m_delegate->dynamicCellDidSelectBody(this);
}

void KRDynamicCell::likeTapped()
{
    if (m_delegate)
        m_delegate->dynamicCellDidSelectLike(this);
}

void KRDynamicCell::commentTapped()
{
    if (m_delegate)
        m_delegate->dynamicCellDidSelectComment(this);
}

void KRDynamicCell::repostTapped()
{
    if (m_delegate)
        m_delegate->dynamicCellDidSelectRepost(this);
}

void KRDynamicCell::originalTapped()
{
    if (m_delegate)
        m_delegate->dynamicCellDidSelectOriginal(this);
}

void KRDynamicCell::pictureTapped(int tag)
{
    if (!m_delegate)
        return;
    const unsigned index = unsigned(std::max(tag, 0));
    if (!m_delegate->dynamicCellDidSelectPictureAtIndex(this, index))
        m_delegate->dynamicCellDidSelectBody(this);
}
