// The JSON reader on any bytes; what it accepts must survive being written and read again.
#include "FuzzInput.h"

#include "model/KRJSON.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QString errorText;
    const QVariant value = KRJSONParse(fuzz::bytes(data, size), &errorText);
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
