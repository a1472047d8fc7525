#include "model/KRVideo.h"

#include <cstdio>

namespace {

// Digit order of the service's base-58 BV encoding: 'F' is 0, 'f' is 57.
constexpr char16_t kBVAlphabet[] = u"FcwAPNKTMug3GV5Lj7EJnHpWsx4tb8haYeviqBz6rkCy12mUSDQX9RdoZf";
constexpr qsizetype kBVLength = 12;
constexpr qint64 kBVMaxAid = 2251799813685247LL;  // 2^51 − 1
constexpr qint64 kBVXorMask = 2275242641476827LL; // 2^51 XOR 23442827791579

bool isBVAlphabetCharacter(char16_t c)
{
    // The alphabet is the 58 ASCII letters and digits without 0, I, O and l.
    if (c >= u'1' && c <= u'9')
        return true;
    if (c >= u'a' && c <= u'z')
        return c != u'l';
    if (c >= u'A' && c <= u'Z')
        return c != u'I' && c != u'O';
    return false;
}

bool isValidBVIDWindow(QStringView text)
{
    if (text.size() != kBVLength || !text.startsWith(u"BV1"))
        return false;
    for (qsizetype i = 3; i < kBVLength; ++i) {
        if (!isBVAlphabetCharacter(text.at(i).unicode()))
            return false;
    }
    return true;
}

QString bvidFromAid(qint64 aid)
{
    QString bv = QStringLiteral("BV1000000000");
    quint64 t = quint64(aid ^ kBVXorMask);
    for (qsizetype position = kBVLength - 1; position >= 3; --position) {
        bv[position] = QChar(kBVAlphabet[t % 58]);
        t /= 58;
    }
    const QChar third = bv.at(3);
    bv[3] = bv.at(9);
    bv[9] = third;
    const QChar fourth = bv.at(4);
    bv[4] = bv.at(7);
    bv[7] = fourth;
    return bv;
}

QString textOr(const QString& text, const QString& fallback)
{
    return text.isEmpty() ? fallback : text;
}

} // namespace

bool KRIsValidBVID(const QString& text)
{
    return !text.isNull() && isValidBVIDWindow(text);
}

QString KRVideo::canonicalBVID() const
{
    if (KRIsValidBVID(m_bvid))
        return m_bvid;
    if (m_bvid.size() > kBVLength) {
        const QStringView whole(m_bvid);
        for (qsizetype start = 0; start + kBVLength <= whole.size(); ++start) {
            const QStringView window = whole.mid(start, kBVLength);
            if (isValidBVIDWindow(window))
                return window.toString();
        }
    }
    if (m_resolvedAid >= 1 && m_resolvedAid <= kBVMaxAid)
        return bvidFromAid(m_resolvedAid);
    return QString();
}

QString KRVideo::feedIdentity() const
{
    const QString bv = canonicalBVID();
    if (!bv.isNull())
        return QStringLiteral("bv:") + bv;
    if (m_resolvedAid >= 1)
        return QStringLiteral("aid:%1").arg(m_resolvedAid);
    if (m_aid >= 1)
        return QStringLiteral("aid:%1").arg(m_aid);
    if (m_seasonID >= 1)
        return QStringLiteral("pgc-season:%1").arg(m_seasonID);
    if (!m_title.isEmpty())
        return QStringLiteral("title:") + m_title + QLatin1Char('|') + m_ownerName;
    return QString();
}

QString KRVideo::displayIdentifier() const
{
    const QString bv = canonicalBVID();
    return bv.isNull() ? QStringLiteral("BV待解析") : bv;
}

QString KRVideo::displayPartition() const
{
    return textOr(m_tname, QStringLiteral("未分类"));
}

QString KRVideo::displayPlayCount() const
{
    return m_statisticsKnown ? KRCompactCount(m_playCount) : QStringLiteral("—");
}

QString KRVideo::displayDanmakuCount() const
{
    return m_statisticsKnown ? KRCompactCount(m_danmakuCount) : QStringLiteral("—");
}

QString KRVideo::displayDuration() const
{
    return textOr(m_durationText, QStringLiteral("--:--"));
}

QString KRVideo::displayUnavailableReason() const
{
    return textOr(m_unavailableReason, QStringLiteral("视频已失效"));
}

QString KRCompactCount(qint64 count)
{
    const qint64 n = count < 0 ? 0 : count;
    if (n <= 9999)
        return QString::number(n);
    const bool tenThousands = n <= 99999999;
    const double v = double(n) / (tenThousands ? 10000.0 : 100000000.0);
    // Rounded the way printf rounds (an exact half such as 12500 → 1.25 goes to even);
    // Qt's own formatter would round that half up and show a different count.
    char digits[32];
    std::snprintf(digits, sizeof digits, v >= 100 ? "%.0f" : "%.1f", v);
    return QString::fromLatin1(digits) + (tenThousands ? QStringLiteral("万") : QStringLiteral("亿"));
}

bool KRVideoShouldUsePGC(const KRVideo* video)
{
    if (!video)
        return false;
    return video->isPGC() || video->episodeID() > 0 || video->seasonID() > 0;
}
