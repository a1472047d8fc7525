#include "video/KRVideoDetailSupport.h"

#include "look/KRShellHelpers.h"
#include "look/KRTheme.h"
#include "platform/device/DeviceProfile.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TextAttributes.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "playback/KRPlaybackTransport.h"
#include "shared/KRDynamicComposerView.h"

#include <QHash>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>

#include <algorithm>
#include <array>

int KRVideoSystemMajorVersion() { return KRRootSystemMajorVersion(); }

bool KRDetailPlaybackURLIsLocalFile(const QVariant& value)
{
    return value.typeId() == QMetaType::QString && value.toString().startsWith(QLatin1String("file://"));
}

bool KRNeedsAppOwnedAVLayerCompatibility()
{
    if (KRPlaybackTransport::usesAVPlayerBackendForCurrentSystem())
        return false;
    const QStringList parts = platform::DeviceProfile::systemVersion().split(QLatin1Char('.'));
    const bool systemFiveZero = parts.value(0) == QLatin1String("5") && (parts.size() < 2 || parts.at(1) == QLatin1String("0"));
    return systemFiveZero || KRVideoSystemMajorVersion() >= 15;
}

bool KRIOS15NeedsAVLayerCompatibility()
{
    return KRVideoSystemMajorVersion() >= 15 && !KRPlaybackTransport::usesAVPlayerBackendForCurrentSystem();
}

namespace {

using platform::uikit::Image;

QColor grey(qreal white, qreal alpha = 1) { return QColor::fromRgbF(white, white, white, alpha); }

struct FaceColours {
    QColor top, middle, bottom, stroke;
};

FaceColours faceColours(int style, bool selected)
{
    switch (style) {
    case 0:
        return selected ? FaceColours{grey(0.76), grey(0.62), grey(0.49), grey(0.34)}
                        : FaceColours{grey(1.0), grey(0.97), grey(0.90), grey(0.68)};
    case 1:
        return selected ? FaceColours{grey(0.16), grey(0.09), grey(0.035), grey(0)}
                        : FaceColours{grey(0.31), grey(0.22), grey(0.14), grey(0.055)};
    default:
        return selected ? FaceColours{QColor::fromRgbF(0.97, 0.48, 0.64), QColor::fromRgbF(0.94, 0.34, 0.53),
                                      QColor::fromRgbF(0.85, 0.19, 0.40), QColor::fromRgbF(0.74, 0.09, 0.29)}
                        : FaceColours{QColor::fromRgbF(1.0, 0.98, 0.99), QColor::fromRgbF(1.0, 0.94, 0.97),
                                      QColor::fromRgbF(0.985, 0.89, 0.925), QColor::fromRgbF(0.94, 0.675, 0.77)};
    }
}

Image drawFace(int style, bool selected)
{
    const qreal scale = std::max<qreal>(1, platform::DeviceProfile::screenScale());
    QImage bitmap(QSize(int(20 * scale), int(32 * scale)), QImage::Format_ARGB32_Premultiplied);
    bitmap.setDevicePixelRatio(scale);
    bitmap.fill(Qt::transparent);
    const FaceColours colours = faceColours(style, selected);
    QPainter painter(&bitmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath outer;
    outer.addRoundedRect(QRectF(0.5, 0.5, 19, 31), 6, 6);
    QLinearGradient gradient(QPointF(0, 0), QPointF(0, 32));
    gradient.setColorAt(0, colours.top);
    gradient.setColorAt(0.5, colours.middle);
    gradient.setColorAt(1, colours.bottom);
    painter.fillPath(outer, gradient);
    painter.setPen(QPen(colours.stroke, 1));
    painter.drawPath(outer);
    QPainterPath inner;
    inner.addRoundedRect(QRectF(1.5, 1.5, 17, 29), 5, 5);
    painter.setPen(QPen(grey(1, 0.44), 1));
    painter.drawPath(inner);
    painter.end();
    return Image(bitmap, 9, 15);
}

} // namespace

Image KRSkeuomorphicActionImage(const KRTheme* themeOrNull, bool selected)
{
    static std::array<std::array<Image, 2>, 3> faces;
    const int style = std::clamp(themeOrNull ? themeOrNull->style() : 2, 0, 2);
    Image& face = faces[size_t(style)][selected ? 1 : 0];
    if (face.isNull())
        face = drawFace(style, selected);
    return face;
}

Image KRDetailTintedImage(const Image& image, const std::optional<QColor>& colour)
{
    // An invalid colour names no colour: the icon stays as drawn rather than filled black.
    if (colour && !colour->isValid())
        return image;
    if (image.isNull() || !colour)
        return KRDynamicComposerTintedImage(image, colour);
    // The page tints the same few icons in the theme's few colours each time it is themed or
    // shows a video; each is drawn once (main thread only, like every caller). A picture that
    // goes leaves at most a stale entry, which a full cache drops with the rest.
    static QHash<QPair<qint64, QRgb>, platform::uikit::Image> tinted;
    const QPair<qint64, QRgb> key(image.image().cacheKey(), colour->rgba());
    if (auto found = tinted.constFind(key); found != tinted.constEnd())
        return *found;
    if (tinted.size() >= 64)
        tinted.clear();
    // The same size in points as the icon: its pixels at its own scale, never below 1.
    QImage pixels = KRDynamicComposerTintedImage(image, colour).image();
    pixels.setDevicePixelRatio(std::max<qreal>(image.scale(), 1));
    return tinted.insert(key, Image(pixels)).value();
}

void KRApplySegmentTitleColors(platform::uikit::SegmentedControl* segment, const KRTheme* theme)
{
    using namespace platform::uikit;
    if (!segment)
        return;
    TextAttributes normal;
    if (theme && theme->style() == 1) {
        normal = TextAttributes{grey(0.94), std::nullopt, grey(0, 0.6), QSizeF(0, -1)};
    } else {
        normal = TextAttributes{QColor(Qt::black), std::nullopt, grey(1, 0.92), QSizeF(0, 1)};
    }
    const TextAttributes selected{QColor(Qt::white), std::nullopt, grey(0, 0.42), QSizeF(0, -1)};
    segment->setTitleTextAttributes(normal, ControlStateNormal);
    segment->setTitleTextAttributes(selected, ControlStateSelected);
    segment->setTitleTextAttributes(selected, ControlStateHighlighted);
}

void KRSetFullscreenRailImage(platform::uikit::Button* railButton, const Image& image)
{
    if (!railButton)
        return;
    if (auto* imageView = qobject_cast<platform::uikit::ImageView*>(railButton->viewWithTag(7951)))
        imageView->setImage(image);
}

// "1x", "1.5x", "0.75x", "1.25x": at most two decimals, trailing zeros dropped, so that the
// text names the rate that plays (two significant digits would print 1.25 as "1.2x").
QString KRRestoredRateText(float rate)
{
    QString text = QString::number(double(rate), 'f', 2);
    while (text.contains(QLatin1Char('.')) && (text.endsWith(QLatin1Char('0')) || text.endsWith(QLatin1Char('.'))))
        text.chop(1);
    return text + QLatin1Char('x');
}

int KRCoinLimitForCopyright(int copyright) { return copyright == 1 || copyright == 3 ? 2 : 1; }
