#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The entry point every fuzz target defines, called by libFuzzer or by the corpus replayer.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzz {

// The input as bytes, without a copy.
inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Takes typed values off the front of an input; once it is used up every value is zero or
// empty, so a target never reads past it.
class InputReader {
public:
    InputReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool atEnd() const { return m_offset >= m_size; }
    uint8_t byte() { return atEnd() ? 0 : m_data[m_offset++]; }
    uint64_t integer()
    {
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i)
            value = (value << 8) | byte();
        return value;
    }
    // Up to `maximum` bytes, the length taken from the next byte.
    QByteArray chunk(int maximum)
    {
        const size_t wanted = size_t(byte()) % size_t(maximum + 1);
        const size_t taken = std::min(wanted, m_size - std::min(m_offset, m_size));
        QByteArray result(reinterpret_cast<const char*>(m_data + m_offset), qsizetype(taken));
        m_offset += taken;
        return result;
    }
    QByteArray rest()
    {
        QByteArray result = atEnd() ? QByteArray()
                                    : QByteArray(reinterpret_cast<const char*>(m_data + m_offset), qsizetype(m_size - m_offset));
        m_offset = m_size;
        return result;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
};

// A broken property of the code under test: stops the run the way a sanitizer does, so
// libFuzzer keeps the input and the replayer fails.
[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void check(bool condition, const char* what)
{
    if (!condition)
        fail(what);
}

} // namespace fuzz
