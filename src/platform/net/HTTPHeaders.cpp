#include "platform/net/HTTPHeaders.h"

namespace platform {

HTTPHeaders::HTTPHeaders(std::initializer_list<QPair<QString, QString>> fields)
{
    for (const auto& field : fields)
        add(field.first, field.second);
}

void HTTPHeaders::set(const QString& name, const QString& value)
{
    for (qsizetype i = 0; i < m_fields.size(); ++i) {
        if (m_fields.at(i).first.compare(name, Qt::CaseInsensitive) == 0) {
            m_fields[i].second = value;
            for (qsizetype j = m_fields.size() - 1; j > i; --j) {
                if (m_fields.at(j).first.compare(name, Qt::CaseInsensitive) == 0)
                    m_fields.removeAt(j);
            }
            return;
        }
    }
    m_fields.append({name, value});
}

void HTTPHeaders::add(const QString& name, const QString& value) { m_fields.append({name, value}); }

QString HTTPHeaders::value(const QString& name) const
{
    const QStringList found = values(name);
    if (found.isEmpty())
        return {};
    if (found.size() == 1)
        return found.first().isNull() ? QStringLiteral("") : found.first();
    return found.join(QStringLiteral(", "));
}

QStringList HTTPHeaders::values(const QString& name) const
{
    QStringList found;
    for (const auto& field : m_fields) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            found.append(field.second);
    }
    return found;
}

bool HTTPHeaders::contains(const QString& name) const
{
    for (const auto& field : m_fields) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void HTTPHeaders::remove(const QString& name)
{
    m_fields.removeIf([&](const QPair<QString, QString>& field) {
        return field.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

bool HTTPHeaders::isToken(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        const ushort u = c.unicode();
        if (u <= 0x20 || u >= 0x7F || QStringLiteral("\"(),/:;<=>?@[\\]{}").contains(c))
            return false;
    }
    return true;
}

bool HTTPHeaders::isSafeField(const QString& name, const QString& value)
{
    return isToken(name) && !value.contains(QLatin1Char('\r')) && !value.contains(QLatin1Char('\n')) && !value.contains(QChar(0));
}

bool HTTPHeaders::readWireLine(QByteArray line)
{
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty())
        return true;
    if (line.startsWith("HTTP/")) {
        clear();
    } else if (line.at(0) == ' ' || line.at(0) == '\t') {
        if (!m_fields.isEmpty())
            m_fields.last().second += QLatin1Char(' ') + textFromWire(line.trimmed());
    } else {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            add(textFromWire(line.left(colon).trimmed()), textFromWire(line.mid(colon + 1).trimmed()));
    }
    return false;
}

QString HTTPHeaders::textFromWire(const QByteArray& bytes)
{
    const QString utf8 = QString::fromUtf8(bytes);
    return utf8.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(bytes) : utf8;
}

} // namespace platform
