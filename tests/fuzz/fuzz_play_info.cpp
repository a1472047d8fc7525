// Play information, from any JSON reply, read into its typed form.
#include "FuzzInput.h"

#include "model/KRJSON.h"
#include "model/KRPlayInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QVariant payload = KRJSONParse(fuzz::bytes(data, size));
    if (!payload.isValid())
        return 0;
    std::optional<KRPlayInfo> info = KRPlayInfo::fromPlayInformation(payload);
    fuzz::check(info.has_value() == (payload.typeId() == QMetaType::QVariantMap), "an object and only an object reads");
    if (!info)
        return 0;
    fuzz::check(info->quality >= 0, "no negative quality");
    fuzz::check(info->acceptedQualities.size() == info->acceptedTitles.size(), "one title per accepted quality");
    for (int quality : info->acceptedQualities)
        fuzz::check(quality > 0 && info->acceptedQualities.count(quality) == 1, "accepted qualities positive and once");
    for (const QList<KRPlayStream>* list : {&info->pictures, &info->sounds}) {
        for (const KRPlayStream& stream : *list)
            fuzz::check(stream.address.isEmpty() || !stream.address.isNull(), "an address is text");
    }
    QStringList addresses = info->progressiveAddresses;
    fuzz::check(addresses.removeDuplicates() == 0, "each progressive address once");
    const std::optional<KRPlayInfo> offline = KRPlayInfo::fromOfflineRecord(payload.toMap());
    fuzz::check(offline && offline->route == QStringLiteral("offline"), "an offline record is marked");
    return 0;
}
