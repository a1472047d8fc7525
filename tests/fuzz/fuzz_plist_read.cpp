// Property-list reading on any bytes. Whatever is read is what a store later writes back,
// so it has to be representable and survive its own writers. Read leaving out what cannot be
// written back, a document loses only those values.
#include "PropertyListCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);
    platform::Error error;
    const QVariant value = platform::PropertyList::parse(input, &error);
    int dropped = -1;
    const QVariant kept = platform::PropertyList::parseDroppingUnreadable(input, &dropped);
    fuzz::check(dropped >= 0, "the count of values left out is given");
    if (value.isValid()) {
        fuzz::check(dropped == 0 && fuzz::samePropertyList(kept, value, false), "a readable document reads alike either way");
    } else if (kept.isValid()) {
        fuzz::check(dropped > 0, "a refused document reads only by leaving values out");
        fuzz::check(platform::PropertyList::isRepresentable(kept), "what is kept can be written");
        fuzz::checkWritesAndReadsBack(kept);
    }
    if (!value.isValid())
        return 0;
    fuzz::check(platform::PropertyList::isRepresentable(value), "what is read can be written");
    fuzz::checkWritesAndReadsBack(value);
    return 0;
}
