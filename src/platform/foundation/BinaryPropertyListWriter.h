#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
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
    enum class Kind { Leaf, Array, Dictionary };
    struct Object {
        Kind kind = Kind::Leaf;
        QVariant value;               // a leaf's
        std::vector<quint32> refs;    // an array's items, or a dictionary's keys then values
    };

    quint32 add(const QVariant& value);
    quint32 addString(const QString& text);
    bool writeObject(const Object& object);
    void writeLength(quint8 marker, quint64 length);
    void writeUnsigned(quint64 value);
    void writeBigEndian(quint64 value, int bytes);

    std::vector<Object> m_objects;
    QHash<QString, quint32> m_strings;
    QByteArray m_out;
    int m_refSize = 1;
};

} // namespace PropertyList
} // namespace platform
