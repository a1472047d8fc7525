// Picture addresses as pages name them and picture bytes as servers send them: the CDN
// rewriting settles after one pass (the base address is a cut of it), the disk-cache file of any address is one file of the
// cache folder, and decoding never makes a bitmap past the loader's limit.
#include "FuzzInput.h"

#include "platform/foundation/Directories.h"
#include "images/KRImageLoader.h"

#include <QImage>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader input(data, size);
    const QString address = QString::fromUtf8(input.chunk(160));
    const QString suffix = QString::fromUtf8(input.chunk(16));
    const QByteArray picture = input.rest();

    const QString normalized = KRNormalizedImageURLString(address);
    fuzz::check(normalized.isNull() == address.isEmpty(), "only an empty address has no normal form");
    fuzz::check(KRNormalizedImageURLString(normalized) == normalized, "a normal address stays as it is");
    // The base is the address cut at its fragment, query or last "@" (a size suffix); an "@"
    // inside a CDN path is cut as one, so a second pass may cut again.
    const QString base = KRBaseZantorelImageURLString(normalized);
    fuzz::check(normalized.startsWith(base), "a base address is the address cut short");
    const QString sized = KRZantorelJPEGURLString(normalized, suffix);
    KRImagePathCanBeConvertedToJPEG(sized);

    const QString folder = platform::Directories::caches() + QStringLiteral("/Korvane/Images/");
    for (const QString& final : {address, normalized, sized}) {
        const QString path = KRImageDiskCachePathForURLString(final);
        fuzz::check(path.startsWith(folder) && !path.mid(folder.size()).contains(u'/') && path.size() > folder.size(),
                    "a disk-cache file is one file of the cache folder");
    }

    const QImage image = KRDecodedImage(picture);
    if (!image.isNull()) {
        fuzz::check(!picture.isEmpty(), "nothing decodes from nothing");
        fuzz::check(image.sizeInBytes() <= qsizetype(256) * 1024 * 1024 + image.bytesPerLine(),
                    "a decoded bitmap stays within the limit");
    }
    return 0;
}
