#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringView>
#include <QVariant>

#include <vector>

namespace platform {
namespace PropertyList {

// Writes the binary form ("bplist00") of a value already normalized (see normalized()): the
// value's tree in one pass, texts written once however often they occur, then the offsets.
// Its time grows with the file. The parsing library's own binary writer finds repeated
// objects through a table of fixed size, so its time grows with the square of the objects
// once a file holds some thousands (a full local history took 30 ms to encode).
class BinaryPropertyListWriter {
public:
    // Empty for a value of a type normalized() never gives.
    static QByteArray write(const QVariant& normalizedValue);

private:
    enum class Kind : quint8 { Leaf, Text, Array, Dictionary };
    // What the value's tree holds is read in place while it is written: an object points into
    // it, never copies from it.
    struct Object {
        Kind kind = Kind::Leaf;
        const void* value = nullptr; // a leaf's QVariant, a text's QString
        quint32 firstRef = 0;        // a container's references in m_refs: an array's items, or
        quint32 refCount = 0;        // a dictionary's keys then values
        int type = 0;                // a leaf's type, asked once
    };

    quint32 add(const QVariant& value);
    quint32 addString(const QString& text);
    bool writeObject(const Object& object);
    void writeText(const QString& text);
    void writeLength(quint8 marker, quint64 length);
    void writeUnsigned(quint64 value);
    void writeMarkedBigEndian(quint8 marker, quint64 value, int bytes);
    // Room for `bytes` more at the end of the output, to be filled through the pointer.
    char* grow(qsizetype bytes);

    // The last texts added, by where their characters are.
    struct Recent {
        const QChar* characters = nullptr;
        qsizetype size = 0;
        quint32 index = 0;
    };

    std::vector<Object> m_objects;
    Recent m_recent[256];
    std::vector<quint32> m_refs;
    QHash<QStringView, quint32> m_strings; // a text's object + 1, by views of the value's texts
    QByteArray m_out;
    int m_refSize = 1;
};

} // namespace PropertyList
} // namespace platform
