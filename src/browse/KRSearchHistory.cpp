#include "browse/KRSearchHistory.h"

#include "platform/foundation/UserDefaults.h"

#include <QVariantList>

const QString KRSearchHistory::kDefaultsKey = QStringLiteral("KRSearchHistory");

QStringList KRSearchHistory::read()
{
    const QVariant stored = platform::UserDefaults::standard().object(kDefaultsKey);
    QStringList keywords;
    if (stored.typeId() != QMetaType::QVariantList)
        return keywords;
    for (const QVariant& entry : stored.toList()) {
        if (keywords.size() >= kMaximumCount)
            break;
        if (entry.typeId() != QMetaType::QString)
            continue;
        const QString keyword = entry.toString();
        if (!keyword.isEmpty() && !keywords.contains(keyword))
            keywords.append(keyword);
    }
    return keywords;
}

QStringList KRSearchHistory::save(const QString& keyword)
{
    const QString trimmed = keyword.trimmed();
    if (trimmed.isEmpty())
        return read();
    QStringList keywords{trimmed};
    for (const QString& old : read()) {
        if (old != trimmed)
            keywords.append(old);
    }
    store(keywords.mid(0, kMaximumCount));
    return read();
}

QStringList KRSearchHistory::removeAt(int index)
{
    QStringList keywords = read();
    if (index < 0 || index >= keywords.size())
        return keywords;
    keywords.removeAt(index);
    store(keywords);
    return read();
}

void KRSearchHistory::clear()
{
    platform::UserDefaults::standard().remove(kDefaultsKey);
    platform::UserDefaults::standard().synchronize();
}

void KRSearchHistory::store(const QStringList& keywords)
{
    QVariantList list;
    for (const QString& keyword : keywords)
        list.append(keyword);
    platform::UserDefaults::standard().setObject(kDefaultsKey, list);
    platform::UserDefaults::standard().synchronize();
}
