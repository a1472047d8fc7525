#include "playback/KRQualityTitles.h"

namespace {
// The codes the fixed table names.
constexpr int kTableQualities[] = {6, 16, 32, 64, 74, 80, 112, 116, 120};
} // namespace

QString KRCompactQualityTitleForValue(int quality)
{
    if (quality <= 0)
        return QStringLiteral("自动");
    switch (quality) {
    case 6: return QStringLiteral("240P");
    case 16: return QStringLiteral("360P");
    case 32: return QStringLiteral("480P");
    case 64: return QStringLiteral("720P");
    case 74: return QStringLiteral("720P60");
    case 80: return QStringLiteral("1080P");
    case 112: return QStringLiteral("1080P+");
    case 116: return QStringLiteral("1080P60");
    case 120: return QStringLiteral("4K");
    default: return QStringLiteral("%1P").arg(quality);
    }
}

QString KRQualityTitleForValue(int quality, const QList<int>& serverQualities, const QStringList& serverTitles)
{
    if (quality <= 0)
        return QStringLiteral("自动");
    const qsizetype index = serverQualities.indexOf(quality);
    // An empty server title names nothing; the table's is better than a blank menu row.
    if (index >= 0 && index < serverTitles.size() && !serverTitles.at(index).isEmpty())
        return serverTitles.at(index);
    return KRCompactQualityTitleForValue(quality);
}

int KRQualityValueForTitle(const QString& title)
{
    for (const QString& word : title.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        for (const int quality : kTableQualities) {
            if (word == KRCompactQualityTitleForValue(quality))
                return quality;
        }
    }
    return 0;
}
