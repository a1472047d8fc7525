// Property-list reading on any bytes. Whatever is read is what a store later writes back,
// so it has to be representable and survive its own writers.
#include "PropertyListCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    platform::Error error;
    const QVariant value = platform::PropertyList::parse(fuzz::bytes(data, size), &error);
    if (!value.isValid())
        return 0;
    fuzz::check(platform::PropertyList::isRepresentable(value), "what is read can be written");
    fuzz::checkWritesAndReadsBack(value);
    return 0;
}
