#include "browse/KRSearchHistory.h"

#include "platform/foundation/PropertyList.h"
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

QStringList KRSearchHistory::save(const QString& keyword, bool* remembered)
{
    if (remembered)
        *remembered = false;
    const QString trimmed = keyword.trimmed();
    if (trimmed.isEmpty())
        return read();
    // The defaults would refuse the whole list for it, keeping the older one in silence.
    if (!platform::PropertyList::isRepresentable(trimmed)) {
        qWarning("KRSearchHistory: a keyword holding U+0000 cannot be remembered");
        return read();
    }
    QStringList keywords{trimmed};
    for (const QString& old : read()) {
        if (old != trimmed)
            keywords.append(old);
    }
    store(keywords.mid(0, kMaximumCount));
    const QStringList stored = read();
    if (remembered)
        *remembered = !stored.isEmpty() && stored.first() == platform::PropertyList::normalized(trimmed).toString();
    return stored;
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
