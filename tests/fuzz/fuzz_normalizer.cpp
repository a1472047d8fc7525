// The video normaliser on any JSON reply.
#include "FuzzInput.h"

#include "model/KRJSON.h"
#include "model/KRVideo.h"
#include "model/KRVideoNormalizer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QVariant payload = KRJSONParse(fuzz::bytes(data, size));
    if (!payload.isValid())
        return 0;
    for (const auto& video : KRVideoNormalizer::videosFromPayload(payload))
        fuzz::check(video != nullptr, "no null video in a list");
    KRVideoNormalizer::videoFromDictionary(payload);
    if (const auto dictionary = KRVideoNormalizer::dictionaryFromPayload(payload)) {
        KRVideoNormalizer::videoFromDictionary(*dictionary);
        KRFirstLegacyPage(*dictionary);
    }
    KRVideoNormalizer::arrayFromPayload(payload);
    QStringList playURLs;
    KRAppendPlayURLs(payload, playURLs);
    KRDuration(payload);
    return 0;
}
