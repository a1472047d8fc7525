#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <utility>
#include <vector>

// Writes binary property lists ("bplist00") from values encoded ahead of time. A store that
// rewrites a whole file of hundreds of records after each change encodes every record once,
// when it changes, and then only stitches the encoded records together on each save: object
// numbers inside a record are local and are shifted into place while the file is assembled,
// and dictionary keys, which repeat in every record, are written once per file. The output
// is a plain binary property list that any reader accepts.
//
// Fragments belong to the writer that encoded them. Not thread-safe: the owner serialises.
class KRBinaryPropertyListWriter {
public:
    // One value encoded on its own: its objects in local numbering (object 0 is the value).
    class Fragment {
    public:
        bool isValid() const { return !m_objects.empty(); }

    private:
        friend class KRBinaryPropertyListWriter;
        struct Object {
            quint32 leafOffset = 0;  // leaves: bytes in m_leaves
            quint32 leafLength = 0;
            quint32 firstRef = 0;  // containers: references in m_refs
            quint32 refCount = 0;
            quint8 containerType = 0;  // 0xA array, 0xD dictionary; 0 for leaves
            quint32 elementCount = 0;
        };
        std::vector<Object> m_objects;
        // Local object numbers, or kSharedKey | key number for a dictionary key.
        std::vector<quint32> m_refs;
        std::vector<quint32> m_keys;  // the distinct key numbers used
        QByteArray m_leaves;
    };

    // An invalid fragment when the value (or anything inside it) cannot be stored in a
    // property list: null, unknown types, strings holding U+0000, invalid dates.
    Fragment encode(const QVariant& value);

    // A whole document whose root is a dictionary of `entries` (key, encoded value), in the
    // given order. Every fragment must be valid and encoded by this writer.
    QByteArray dictionaryDocument(const QList<std::pair<QString, const Fragment*>>& entries) const;

private:
    static constexpr quint32 kSharedKey = 0x80000000u;

    quint32 add(Fragment& fragment, const QVariant& value, bool* ok);
    quint32 keyNumber(const QString& key, bool* ok);

    QHash<QString, quint32> m_keyNumbers;
    std::vector<QByteArray> m_encodedKeys;
};
