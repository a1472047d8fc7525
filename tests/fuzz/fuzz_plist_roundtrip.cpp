// Write-then-read round trips of property lists built from the input: every value the
// writers accept must read back as it was, in both forms.
#include "PropertyListCheck.h"

#include <QTimeZone>

#include <cstring>

namespace {

QVariant valueFrom(fuzz::InputReader& input, int depth)
{
    const uint8_t kind = input.byte() % (depth < 4 ? 10 : 8);
    switch (kind) {
    case 0: {
        // UTF-16 units as they come: U+0000, lone surrogates and U+FEFF included.
        const QByteArray units = input.chunk(32);
        return QString(reinterpret_cast<const QChar*>(units.constData()), units.size() / 2);
    }
    case 1:
        return QString::fromUtf8(input.chunk(32));
    case 2:
        return qint64(input.integer());
    case 3:
        return quint64(input.integer());
    case 4: {
        const uint64_t bits = input.integer();
        double number;
        std::memcpy(&number, &bits, sizeof number);
        return number;
    }
    case 5:
        return bool(input.byte() & 1);
    case 6:
        return input.chunk(32);
    case 7:
        // Milliseconds around the format's epoch, a few centuries either way.
        return QDateTime::fromMSecsSinceEpoch(978307200000LL + qint64(input.integer() % 20000000000000ULL) -
                                                  10000000000000LL,
                                              Qt::UTC);
    case 8: {
        QVariantList list;
        for (int count = input.byte() % 5; count > 0 && !input.atEnd(); --count)
            list.append(valueFrom(input, depth + 1));
        return list;
    }
    default: {
        QVariantMap map;
        for (int count = input.byte() % 5; count > 0 && !input.atEnd(); --count) {
            const QString key = QString::fromUtf8(input.chunk(12));
            map.insert(key, valueFrom(input, depth + 1));
        }
        return map;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader input(data, size);
    const QVariant value = valueFrom(input, 0);
    if (!platform::PropertyList::isRepresentable(value)) {
        fuzz::check(platform::PropertyList::toBinary(value).isEmpty() && platform::PropertyList::toXML(value).isEmpty(),
                    "a value that is not representable is not written");
        return 0;
    }
    fuzz::checkWritesAndReadsBack(value);
    return 0;
}
