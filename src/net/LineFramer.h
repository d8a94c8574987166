#pragma once

#include <QByteArray>
#include <QList>

// Cuts the byte stream of one connection into lines. TCP may merge several lines into one read or split
// one line over several reads, so the unterminated tail is kept until the rest arrives. A line ends with
// CR; an LF right after the CR belongs to the terminator, also when it arrives with the next read.
class LineFramer
{
public:
    // An unterminated tail longer than this is no line of ours: it is dropped, and so is the rest of it up
    // to the next CR.
    static constexpr qsizetype kMaxTail = 4096;

    struct Result
    {
        QList<QByteArray> lines; // complete lines, without terminator, in arrival order; empty ones left out
        int overlong = 0;        // lines given up for being too long
    };

    Result Feed(const QByteArray& bytes);
    // The connection has ended: an unterminated last line is a line all the same. Empty when there is none.
    QByteArray Flush();
    void Reset();
    qsizetype PendingBytes() const { return m_tail.size(); }

private:
    QByteArray m_tail;
    bool m_afterCr = false;
    bool m_discarding = false;
};
