#include "platform/net/CookieStorage.h"

#include "platform/net/PublicSuffixList.h"

#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace platform {
namespace {

struct RequestTarget {
    QString host;
    QString path;
    bool secure = false;
    bool valid = false;
};

RequestTarget targetOf(const QString& url)
{
    RequestTarget target;
    const QUrl parsed(url);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return target;
    target.host = parsed.host(QUrl::FullyEncoded).toLower();
    if (target.host.isEmpty())
        return target;
    target.path = parsed.path(QUrl::FullyEncoded);
    if (target.path.isEmpty())
        target.path = QStringLiteral("/");
    target.secure = scheme == QLatin1String("https");
    target.valid = true;
    return target;
}

QString bareDomain(const QString& domain)
{
    QString bare = domain.toLower();
    while (bare.startsWith(QLatin1Char('.')))
        bare.remove(0, 1);
    return bare;
}

// RFC 6265 5.1.3: the host is the domain, or ends with "." + domain and is a name.
bool domainMatches(const QString& host, const QString& domain)
{
    if (host == domain)
        return true;
    return !PublicSuffixList::isIPAddress(host) && host.endsWith(domain) && host.size() > domain.size()
        && host.at(host.size() - domain.size() - 1) == QLatin1Char('.');
}

// RFC 6265 5.1.4.
bool pathMatches(const QString& requestPath, const QString& cookiePath)
{
    if (requestPath == cookiePath)
        return true;
    if (!requestPath.startsWith(cookiePath))
        return false;
    return cookiePath.endsWith(QLatin1Char('/')) || requestPath.at(cookiePath.size()) == QLatin1Char('/');
}

QString defaultPath(const QString& requestPath)
{
    if (!requestPath.startsWith(QLatin1Char('/')))
        return QStringLiteral("/");
    const qsizetype lastSlash = requestPath.lastIndexOf(QLatin1Char('/'));
    if (lastSlash <= 0)
        return QStringLiteral("/");
    return requestPath.left(lastSlash);
}

bool cookieMatches(const Cookie& cookie, const RequestTarget& target)
{
    const QString domain = bareDomain(cookie.domain);
    if (cookie.isHostOnly() ? target.host != domain : !domainMatches(target.host, domain))
        return false;
    if (!pathMatches(target.path, cookie.path.isEmpty() ? QStringLiteral("/") : cookie.path))
        return false;
    return !cookie.secure || target.secure;
}

bool sameIdentity(const Cookie& a, const Cookie& b)
{
    const QString pathA = a.path.isEmpty() ? QStringLiteral("/") : a.path;
    const QString pathB = b.path.isEmpty() ? QStringLiteral("/") : b.path;
    return a.name == b.name && pathA == pathB && bareDomain(a.domain) == bareDomain(b.domain);
}

QString trimmedWhitespace(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text.at(begin) == QLatin1Char(' ') || text.at(begin) == QLatin1Char('\t')))
        ++begin;
    while (end > begin && (text.at(end - 1) == QLatin1Char(' ') || text.at(end - 1) == QLatin1Char('\t')))
        --end;
    return text.mid(begin, end - begin);
}

bool isDateDelimiter(QChar c)
{
    const ushort u = c.unicode();
    return u == 0x09 || (u >= 0x20 && u <= 0x2F) || (u >= 0x3B && u <= 0x40) || (u >= 0x5B && u <= 0x60)
        || (u >= 0x7B && u <= 0x7E);
}

// Leading digits of `token` (between minDigits and maxDigits of them, followed by nothing or
// a non-digit); -1 when the token does not start that way.
int leadingNumber(const QString& token, int minDigits, int maxDigits, qsizetype* consumed = nullptr)
{
    qsizetype digits = 0;
    while (digits < token.size() && token.at(digits).isDigit() && token.at(digits).unicode() < 128)
        ++digits;
    if (digits < minDigits || digits > maxDigits)
        return -1;
    if (consumed)
        *consumed = digits;
    return token.left(digits).toInt();
}

bool parseTime(const QString& token, int* hour, int* minute, int* second)
{
    int parts[3];
    qsizetype position = 0;
    for (int i = 0; i < 3; ++i) {
        qsizetype consumed = 0;
        const int value = leadingNumber(token.mid(position), 1, 2, &consumed);
        if (value < 0)
            return false;
        parts[i] = value;
        position += consumed;
        if (i < 2) {
            if (position >= token.size() || token.at(position) != QLatin1Char(':'))
                return false;
            ++position;
        }
    }
    *hour = parts[0];
    *minute = parts[1];
    *second = parts[2];
    return true;
}

} // namespace

CookieStorage& CookieStorage::shared()
{
    static CookieStorage storage;
    return storage;
}

// RFC 6265's own algorithm rather than libcurl's date reader, which reads the two-digit year
// 70 as 2070 instead of 1970, rolls 30 February over into 1 March instead of refusing it,
// and accepts years before 1601.
QDateTime CookieStorage::parseCookieDate(const QString& text)
{
    static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    QStringList tokens;
    QString current;
    for (QChar c : text) {
        if (isDateDelimiter(c)) {
            if (!current.isEmpty())
                tokens.append(current);
            current.clear();
        } else {
            current.append(c);
        }
    }
    if (!current.isEmpty())
        tokens.append(current);

    bool foundTime = false, foundDay = false, foundMonth = false, foundYear = false;
    int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
    for (const QString& token : tokens) {
        if (!foundTime && parseTime(token, &hour, &minute, &second)) {
            foundTime = true;
            continue;
        }
        if (!foundDay) {
            const int value = leadingNumber(token, 1, 2);
            if (value >= 0) {
                day = value;
                foundDay = true;
                continue;
            }
        }
        if (!foundMonth && token.size() >= 3) {
            const QString prefix = token.left(3).toLower();
            for (int i = 0; i < 12; ++i) {
                if (prefix == QLatin1String(months[i])) {
                    month = i + 1;
                    foundMonth = true;
                    break;
                }
            }
            if (foundMonth)
                continue;
        }
        if (!foundYear) {
            const int value = leadingNumber(token, 2, 4);
            if (value >= 0) {
                year = value;
                foundYear = true;
                continue;
            }
        }
    }
    if (!(foundTime && foundDay && foundMonth && foundYear))
        return {};
    if (year >= 70 && year <= 99)
        year += 1900;
    else if (year >= 0 && year <= 69)
        year += 2000;
    if (day < 1 || day > 31 || year < 1601 || hour > 23 || minute > 59 || second > 59)
        return {};
    const QDate date(year, month, day);
    if (!date.isValid())
        return {};
    return QDateTime(date, QTime(hour, minute, second), Qt::UTC);
}

bool CookieStorage::isValidNameOrValue(const QString& text)
{
    return std::none_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

std::optional<Cookie> CookieStorage::parseSetCookie(const QString& headerValue, const QString& url)
{
    const RequestTarget target = targetOf(url);
    if (!target.valid)
        return std::nullopt;
    // As browsers do, a line holding a control character (a tab aside) is refused whole: an
    // attribute holding one (a path with U+0000) could not be kept with the session either.
    if (std::any_of(headerValue.cbegin(), headerValue.cend(),
                    [](QChar c) { return (c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7f; }))
        return std::nullopt;

    const qsizetype semicolon = headerValue.indexOf(QLatin1Char(';'));
    const QString pair = semicolon < 0 ? headerValue : headerValue.left(semicolon);
    const qsizetype equals = pair.indexOf(QLatin1Char('='));
    if (equals < 0)
        return std::nullopt;
    Cookie cookie;
    cookie.name = trimmedWhitespace(pair.left(equals));
    cookie.value = trimmedWhitespace(pair.mid(equals + 1));
    if (cookie.name.isEmpty() || !isValidNameOrValue(cookie.name) || !isValidNameOrValue(cookie.value))
        return std::nullopt;

    std::optional<QDateTime> expires;
    std::optional<QDateTime> maxAgeExpiry;
    std::optional<QString> domainAttribute;
    std::optional<QString> pathAttribute;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QStringList attributes =
        semicolon < 0 ? QStringList() : headerValue.mid(semicolon + 1).split(QLatin1Char(';'));
    for (const QString& attribute : attributes) {
        const qsizetype eq = attribute.indexOf(QLatin1Char('='));
        const QString name = trimmedWhitespace(eq < 0 ? attribute : attribute.left(eq)).toLower();
        const QString value = eq < 0 ? QString() : trimmedWhitespace(attribute.mid(eq + 1));
        if (name == QLatin1String("expires")) {
            const QDateTime date = parseCookieDate(value);
            if (date.isValid())
                expires = date;
        } else if (name == QLatin1String("max-age")) {
            static const QRegularExpression form(QStringLiteral("^-?[0-9]+$"));
            if (!form.match(value).hasMatch())
                continue;
            bool fits = false;
            const qint64 seconds = value.toLongLong(&fits);
            if (!fits || seconds <= 0)
                maxAgeExpiry = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
            else
                maxAgeExpiry = now.addSecs(std::min<qint64>(seconds, qint64(400) * 365 * 24 * 3600));
        } else if (name == QLatin1String("domain")) {
            if (!value.isEmpty())
                domainAttribute = bareDomain(value);
        } else if (name == QLatin1String("path")) {
            pathAttribute = value.startsWith(QLatin1Char('/')) ? std::optional<QString>(value) : std::nullopt;
        } else if (name == QLatin1String("secure")) {
            cookie.secure = true;
        } else if (name == QLatin1String("httponly")) {
            cookie.httpOnly = true;
        }
    }

    cookie.expires = maxAgeExpiry ? maxAgeExpiry : expires;
    if (!domainAttribute || domainAttribute->isEmpty()) {
        cookie.domain = target.host;
        cookie.hostOnly = true;
    } else if (*domainAttribute == target.host) {
        // Naming the host itself widens the cookie to its subdomains, except where the host
        // has none of its own: an address, or a public suffix (a name such as "localhost").
        const bool widens = !PublicSuffixList::isIPAddress(target.host) && !PublicSuffixList::isPublicSuffix(target.host);
        cookie.domain = widens ? QLatin1Char('.') + target.host : target.host;
        cookie.hostOnly = !widens;
    } else {
        // A server may widen a cookie to a parent domain of itself, never to another site nor
        // to a public suffix, whose "subdomains" are everyone else's sites.
        if (!domainMatches(target.host, *domainAttribute) || PublicSuffixList::isPublicSuffix(*domainAttribute))
            return std::nullopt;
        cookie.domain = QLatin1Char('.') + *domainAttribute;
        cookie.hostOnly = false;
    }
    cookie.path = pathAttribute ? *pathAttribute : defaultPath(target.path);
    // A tab within a path would be sent but never kept with the session.
    if (!isValidNameOrValue(cookie.path) || !isValidNameOrValue(cookie.domain))
        return std::nullopt;
    return cookie;
}

void CookieStorage::purgeExpiredLocked(const QDateTime& now) const
{
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                   [&](const Entry& entry) { return entry.cookie.isExpired(now); }),
                    m_entries.end());
}

QList<Cookie> CookieStorage::cookies() const
{
    std::lock_guard lock(m_mutex);
    purgeExpiredLocked(QDateTime::currentDateTimeUtc());
    QList<Cookie> result;
    result.reserve(m_entries.size());
    for (const Entry& entry : m_entries)
        result.append(entry.cookie);
    return result;
}

QList<Cookie> CookieStorage::cookiesForURL(const QString& url) const
{
    const RequestTarget target = targetOf(url);
    if (!target.valid)
        return {};
    std::lock_guard lock(m_mutex);
    purgeExpiredLocked(QDateTime::currentDateTimeUtc());
    QList<Entry> matching;
    for (const Entry& entry : m_entries) {
        if (cookieMatches(entry.cookie, target))
            matching.append(entry);
    }
    std::stable_sort(matching.begin(), matching.end(), [](const Entry& a, const Entry& b) {
        if (a.cookie.path.size() != b.cookie.path.size())
            return a.cookie.path.size() > b.cookie.path.size();
        return a.creation < b.creation;
    });
    QList<Cookie> result;
    result.reserve(matching.size());
    for (const Entry& entry : matching)
        result.append(entry.cookie);
    return result;
}

QString CookieStorage::cookieHeaderForURL(const QString& url) const
{
    const QList<Cookie> matching = cookiesForURL(url);
    if (matching.isEmpty())
        return {};
    QStringList pairs;
    pairs.reserve(matching.size());
    for (const Cookie& cookie : matching)
        pairs.append(cookie.name + QLatin1Char('=') + cookie.value);
    return pairs.join(QStringLiteral("; "));
}

void CookieStorage::setCookie(const Cookie& cookie)
{
    if (cookie.name.isEmpty() || bareDomain(cookie.domain).isEmpty() || !isValidNameOrValue(cookie.name) ||
        !isValidNameOrValue(cookie.value) || !isValidNameOrValue(cookie.domain) || !isValidNameOrValue(cookie.path))
        return;
    Cookie stored = cookie;
    if (stored.path.isEmpty())
        stored.path = QStringLiteral("/");
    stored.domain = stored.domain.toLower();
    std::lock_guard lock(m_mutex);
    const auto existing = std::find_if(m_entries.begin(), m_entries.end(),
                                       [&](const Entry& entry) { return sameIdentity(entry.cookie, stored); });
    if (stored.isExpired(QDateTime::currentDateTimeUtc())) {
        if (existing != m_entries.end())
            m_entries.erase(existing);
        return;
    }
    if (existing != m_entries.end()) {
        // A replaced cookie keeps its original place in the sending order.
        existing->cookie = stored;
        return;
    }
    m_entries.append(Entry{stored, m_nextCreation++});
}

void CookieStorage::deleteCookie(const Cookie& cookie)
{
    std::lock_guard lock(m_mutex);
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                   [&](const Entry& entry) { return sameIdentity(entry.cookie, cookie); }),
                    m_entries.end());
}

void CookieStorage::deleteAll()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
}

void CookieStorage::setCookiesFromResponse(const QStringList& setCookieHeaderValues, const QString& url)
{
    for (const QString& value : setCookieHeaderValues) {
        if (const std::optional<Cookie> cookie = parseSetCookie(value, url))
            setCookie(*cookie);
    }
}

} // namespace platform
