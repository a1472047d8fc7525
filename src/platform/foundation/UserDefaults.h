#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

namespace platform {

// A persistent key-value store kept in one property-list file. Values are property-list
// values (see PropertyList::isRepresentable) and are kept as the file holds them (see
// PropertyList::normalized, keys too); numbers come back as qint64 / double / bool.
// Changes reach the file on a short debounce (at most 200 ms, on the main thread), on
// synchronize() and at process exit; the file is always replaced atomically. A corrupt file
// reads as empty and is kept aside as "<file>.corrupt". Thread-safe.
class UserDefaults {
public:
    // The application's defaults: Library/Preferences/com.tarnwick.korvane5.plist under the
    // current home; follows a change of Directories::home() (flushing to the old home first).
    static UserDefaults& standard();

    // Defaults kept in `path` (loaded now).
    explicit UserDefaults(const QString& path);
    ~UserDefaults();  // writes pending changes
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    QString path() const;

    // Invalid QVariant when absent.
    QVariant object(const QString& key) const;
    // An invalid or null value removes the key; a value or key that cannot be stored in the
    // file is refused with a warning and changes nothing.
    void setObject(const QString& key, const QVariant& value);
    void remove(const QString& key);
    bool contains(const QString& key) const;

    // Typed reads as the platform does them; `def` when absent or of an unconvertible type.
    // string: strings, and numbers as text. integer: numbers (doubles truncated, saturated),
    // strings by their leading integer ("12abc" = 12, "abc" = 0). doubleValue: numbers,
    // strings by their leading number. boolean: numbers (non-zero), strings whose first
    // character after blanks, a sign and zeros is one of "YyTt1-9".
    QString string(const QString& key, const QString& def = {}) const;
    qint64 integer(const QString& key, qint64 def = 0) const;
    double doubleValue(const QString& key, double def = 0) const;
    bool boolean(const QString& key, bool def = false) const;
    QVariantList array(const QString& key) const;      // empty when absent or not an array
    QVariantMap dictionary(const QString& key) const;  // empty when absent or not a dictionary

    // Writes pending changes now; false when the file could not be written.
    bool synchronize();

    struct Impl;

private:
    explicit UserDefaults(std::shared_ptr<Impl> impl);
    std::shared_ptr<Impl> m_impl;
};

} // namespace platform
