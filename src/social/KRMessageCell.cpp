#include "social/KRMessageCell.h"

#include "look/KRTheme.h"
#include "model/KRDynamic.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "images/KRImageLoader.h"
#include "social/KRMessageJump.h"

#include <algorithm>

using namespace platform::uikit;

namespace {

const QString kAvatarPlaceholder = QStringLiteral("Tarnwick23/tv42");

// The first non-empty text among `keys` of `dictionary`.
QString firstText(const QVariantMap& dictionary, std::initializer_list<const char*> keys)
{
    for (const char* key : keys) {
        const QString text = KRMessageString(dictionary.value(QString::fromLatin1(key)));
        if (!text.isEmpty())
            return text;
    }
    return {};
}

} // namespace

KRMessageCell::KRMessageCell(int style, const QString& reuseIdentifier)
    : TableViewCell(style, reuseIdentifier)
{
    m_avatarView = new ImageView(QRectF(9, 19, 44, 44), contentView());
    m_avatarView->setObjectName(QStringLiteral("messageAvatarView"));
    m_avatarView->setContentMode(ContentModeScaleAspectFill);
    textLabel()->setFont(Label::systemFont(15, true));
    detailTextLabel()->setFont(Label::systemFont(13));
    detailTextLabel()->setNumberOfLines(2);
    // The built-in image view stays hidden: the avatar has a size of its own.
    imageView()->setHidden(true);
    m_chevron = new Label(QRectF(0, 0, 18, 32), this);
    m_chevron->setObjectName(QStringLiteral("messageChevron"));
    m_chevron->setText(QStringLiteral("›"));
    m_chevron->setTextAlignment(TextAlignmentCenter);
    m_chevron->setFont(Label::systemFont(26, true));
    m_chevron->setBackgroundColor(QColor(Qt::transparent));
    setAccessoryType(TableViewCellAccessoryNone);
    applyTheme();
}

void KRMessageCell::applyTheme()
{
    const KRTheme* theme = KRTheme::sharedTheme();
    setBackgroundColor(theme->surfaceColor());
    textLabel()->setTextColor(theme->primaryTextColor());
    detailTextLabel()->setTextColor(theme->secondaryTextColor());
    m_chevron->setTextColor(theme->secondaryTextColor());
}

void KRMessageCell::configureWithMessage(const QVariantMap& record, bool mentions)
{
    const QVariantMap item = record.value(QStringLiteral("item")).toMap();
    const QVariantMap user = record.value(QStringLiteral("user")).toMap();
    QString name = firstText(user, {"nickname", "name"});
    if (name.isEmpty())
        name = QStringLiteral("岚帆视频用户");
    textLabel()->setText(QStringLiteral("%1  %2").arg(name, mentions ? QStringLiteral("@了你") : QStringLiteral("回复了你")));
    QString detail = firstText(item, {"source_content", "title"});
    if (detail.isEmpty())
        detail = firstText(record, {"content"});
    detailTextLabel()->setText(detail.isEmpty() ? QStringLiteral("点击查看相关内容") : detail);

    m_avatarView->setImage(Image::named(kAvatarPlaceholder));
    const QString avatar = firstText(user, {"avatar", "face"});
    const QString identity = KRMessageString(record.value(QStringLiteral("id"))) + QLatin1Char('|') + avatar;
    m_messageIdentity = identity;
    if (avatar.isEmpty())
        return;
    KRImageLoader::sharedLoader()->loadImageForURLString(avatar, this, [this, identity](const Image& image) {
        if (image.isNull() || m_messageIdentity != identity)
            return;
        m_avatarView->setImage(image);
        m_avatarView->update();
    });
}

void KRMessageCell::prepareForReuse()
{
    TableViewCell::prepareForReuse();
    m_messageIdentity.clear();
    m_avatarView->setImage(Image());
}

void KRMessageCell::layoutSubviews()
{
    TableViewCell::layoutSubviews();
    // The accessory takes the right edge; the content view keeps the rest, as a cell with an
    // accessory view does.
    const QSizeF size = frame().size();
    const qreal accessoryRoom = 32;
    contentView()->setFrame(QRectF(0, 0, size.width() - accessoryRoom, size.height()));
    m_chevron->setFrame(QRectF(size.width() - accessoryRoom + (accessoryRoom - 18) / 2, (size.height() - 32) / 2, 18, 32));
    bringSubviewToFront(m_chevron);
    const qreal width = contentView()->frame().width();
    const qreal textWidth = std::max<qreal>(width - 82, 80);
    m_avatarView->setFrame(QRectF(9, 19, 44, 44));
    textLabel()->setFrame(QRectF(62, 9, textWidth, 25));
    detailTextLabel()->setFrame(QRectF(62, 34, textWidth, 40));
}
