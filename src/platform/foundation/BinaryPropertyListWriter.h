#pragma once

#include <QByteArray>
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

    // For one caller that writes again and again, one write at a time (a store saving on its
    // queue): its tables and output keep their memory from one write to the next, so that a
    // write of about the last size touches no fresh pages. The answer is valid until the next
    // write; empty as write()'s.
    const QByteArray& writeKeepingMemory(const QVariant& normalizedValue);

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

    bool encode(const QVariant& normalizedValue);
    quint32 add(const QVariant& value);
    quint32 addString(const QString& text);
    // The entry (object + 1, 0 while new) of a text in m_strings.
    quint32& stringEntry(QStringView text);
    bool writeObject(const Object& object);
    void writeText(const QString& text);
    void writeLength(quint8 marker, quint64 length);
    void writeUnsigned(quint64 value);
    void writeMarkedBigEndian(quint8 marker, quint64 value, int bytes);
    // The next `bytes` of the output, to be filled through the pointer.
    char* grow(qsizetype bytes);

    // The last texts added, by where their characters are.
    struct Recent {
        const QChar* characters = nullptr;
        qsizetype size = 0;
        quint32 index = 0;
    };
    // A slot of the texts' table: open addressing in a power-of-two array, emptied between
    // writes without giving its memory back.
    struct StringSlot {
        const QChar* characters = nullptr;
        qsizetype size = 0;
        size_t hash = 0;
        quint32 entry = 0; // 0: the slot is free
    };

    std::vector<Object> m_objects;
    Recent m_recent[256];
    std::vector<quint32> m_refs;
    std::vector<StringSlot> m_strings; // views of the value's texts
    size_t m_stringCount = 0;
    std::vector<quint64> m_offsets;
    QByteArray m_out;
    qsizetype m_bound = 0;      // the most the objects added so far can take, references aside
    char* m_cursor = nullptr;   // where the next byte of m_out goes
    int m_refSize = 1;
};

} // namespace PropertyList
} // namespace platform
