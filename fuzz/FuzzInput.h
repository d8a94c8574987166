#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Takes a fuzzer's input apart: single bytes for choices, NUL-separated pieces for texts.
class FuzzInput
{
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(reinterpret_cast<const char*>(data)), m_size(size) {}

    uint8_t Byte() { return m_pos < m_size ? static_cast<uint8_t>(m_data[m_pos++]) : 0; }
    // The bytes up to the next NUL (or the end).
    QByteArray Piece()
    {
        size_t end = m_pos;
        while (end < m_size && m_data[end] != '\0')
            ++end;
        QByteArray piece(m_data + m_pos, static_cast<qsizetype>(end - m_pos));
        m_pos = end < m_size ? end + 1 : end;
        return piece;
    }
    QByteArray Rest()
    {
        QByteArray rest(m_data + m_pos, static_cast<qsizetype>(m_size - m_pos));
        m_pos = m_size;
        return rest;
    }

private:
    const char* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// A broken rule is a finding like a crash.
#define FUZZ_CHECK(cond)                                                                                               \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);                             \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)
