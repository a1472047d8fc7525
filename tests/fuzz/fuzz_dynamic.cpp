// The dynamic feed's items from any JSON reply.
#include "FuzzInput.h"

#include "model/KRDynamic.h"
#include "model/KRJSON.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QVariant payload = KRJSONParse(fuzz::bytes(data, size));
    if (!payload.isValid())
        return 0;
    for (const auto& dynamic : KRDynamic::dynamicsFromPayload(payload))
        fuzz::check(dynamic != nullptr, "no null dynamic in a list");
    KRTextFromRichNodes(payload);
    KREmotesFromRichNodes(payload);
    KRDynamicTextFromModule(payload);
    KRDynamicPicturesFromModule(payload);
    return 0;
}
