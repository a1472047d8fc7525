#include "video/KRVideoRelatedCell.h"

#include "look/KRTheme.h"
#include "model/KRVideo.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "images/KRImageLoader.h"

#include <QPointer>

using namespace platform::uikit;

KRVideoRelatedCell::KRVideoRelatedCell(const QString& reuseIdentifier)
    : TableViewCell(TableViewCellStyleDefault, reuseIdentifier)
{
    View* content = contentView();
    m_coverView = new ImageView(QRectF(8, 9, 112, 68), content);
    m_coverView->setObjectName(QStringLiteral("relatedCoverView"));
    m_coverView->setContentMode(ContentModeScaleAspectFill);
    m_coverView->setCornerRadius(3);
    m_titleLabel = new Label(QRectF(), content);
    m_titleLabel->setFont(Label::systemFont(13));
    m_titleLabel->setNumberOfLines(2);
    m_titleLabel->setBackgroundColor(QBrush(Qt::NoBrush));
    m_metaLabel = new Label(QRectF(), content);
    m_metaLabel->setFont(Label::systemFont(11));
    m_metaLabel->setBackgroundColor(QBrush(Qt::NoBrush));
    applyTheme();
}

void KRVideoRelatedCell::configureWithVideo(const std::shared_ptr<KRVideo>& video, QObject* owner)
{
    m_titleLabel->setText(video ? video->title() : QString());
    m_metaLabel->setText(video ? QStringLiteral("%1 · %2 播放").arg(video->ownerName(), video->displayPlayCount()) : QString());
    const QString address = video ? video->coverURL() : QString();
    if (address == m_representedCoverURL && !m_coverView->image().isNull())
        return;
    m_representedCoverURL = address;
    m_coverView->setImage(Image());
    if (address.isEmpty() || !owner)
        return;
    QPointer<KRVideoRelatedCell> self(this);
    KRImageLoader::sharedLoader()->loadImageForURLString(address, owner, [self, address](const Image& image) {
        if (self && !image.isNull() && self->m_representedCoverURL == address)
            self->m_coverView->setImage(image);
    });
}

void KRVideoRelatedCell::applyTheme()
{
    KRTheme* theme = KRTheme::sharedTheme();
    setBackgroundColor(theme->backgroundColor());
    m_coverView->setBackgroundColor(theme->separatorColor());
    m_titleLabel->setTextColor(theme->primaryTextColor());
    m_metaLabel->setTextColor(theme->secondaryTextColor());
}

void KRVideoRelatedCell::prepareForReuse()
{
    TableViewCell::prepareForReuse();
    m_representedCoverURL.clear();
    m_coverView->setImage(Image());
}

void KRVideoRelatedCell::layoutSubviews()
{
    TableViewCell::layoutSubviews();
    const qreal width = contentView()->bounds().width();
    const qreal textX = 128, textWidth = std::max<qreal>(width - textX - 8, 1);
    m_coverView->setFrame(QRectF(8, 9, 112, 68));
    m_titleLabel->setFrame(QRectF(textX, 9, textWidth, 36));
    m_metaLabel->setFrame(QRectF(textX, 59, textWidth, 16));
}
