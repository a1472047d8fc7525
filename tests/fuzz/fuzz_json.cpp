// The JSON reader on any bytes; what it accepts must survive being written and read again.
// The same bytes as UTF-16 text, written and read back, keep every character.
#include "FuzzInput.h"

#include "model/KRJSON.h"

#include <QVariantList>
#include <QVariantMap>

#include <cstring>

namespace {

// Pieces of the input between newlines as UTF-16 units (U+0000, U+FEFF and all), each a
// member name and a value; lone surrogates have no JSON form and are left out.
QVariantMap textTree(const QByteArray& input)
{
    QVariantMap names;
    QVariantList values;
    for (const QByteArray& piece : input.split('\n')) {
        QString text(piece.size() / 2, Qt::Uninitialized);
        std::memcpy(text.data(), piece.constData(), size_t(text.size()) * sizeof(QChar));
        if (!text.isValidUtf16())
            continue;
        names.insert(text, text);
        values.append(text);
    }
    return QVariantMap{{QStringLiteral("names"), names}, {QStringLiteral("values"), values}};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);
    const QVariantMap tree = textTree(input);
    fuzz::check(KRJSONParse(KRJSONData(tree)) == QVariant(tree), "written text reads back with every character");

    QString errorText;
    const QVariant value = KRJSONParse(input, &errorText);
    if (!value.isValid()) {
        fuzz::check(!errorText.isEmpty(), "a refused document comes with an error text");
        return 0;
    }
    const QByteArray written = KRJSONData(value);
    const QVariant again = KRJSONParse(written);
    fuzz::check(again.isValid(), "what the writer writes reads again");
    fuzz::check(KRJSONData(again) == written, "a written value reads back unchanged");
    return 0;
}
