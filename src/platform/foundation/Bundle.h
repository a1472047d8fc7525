#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

// The application's own resources, looked up by directory, name and type as the platform's
// bundle does. They are compiled into the program as Qt resources (root ":/"); tests point
// the root at a folder of their own to supply other files or leave some out.
class Bundle {
public:
    Bundle() = delete;

    // The resource's path, or a null string when there is no such file.
    static QString pathForResource(const QString& name, const QString& type, const QString& directory = {});
    // Its whole content; empty optional when missing, unreadable or above `maxBytes`.
    static std::optional<QByteArray> contentsOfResource(const QString& name, const QString& type,
                                                        const QString& directory = {}, qint64 maxBytes = 16 * 1024 * 1024);

    // An empty root restores the compiled-in resources. Main thread, between uses.
    static void setRootForTesting(const QString& root);
    static QString root();
};

} // namespace platform
