#pragma once

#include <QByteArray>

#include <cstdint>

// What a request's Range header asks of a file of `size` bytes. Only one range
// of bytes is honoured (what phones and browsers ask of a video); a header this
// does not understand, or several ranges, gives the whole file, as HTTP allows.
struct ByteRange
{
    enum class Kind
    {
        Whole,         // 200 with every byte
        Part,          // 206 with bytes first..last
        Unsatisfiable, // 416: starts at or past the end
    };
    Kind kind = Kind::Whole;
    std::uint64_t first = 0;
    std::uint64_t last = 0; // inclusive
};

// `header` is the Range header's value, or empty without one.
ByteRange byte_range(const QByteArray& header, std::uint64_t size);
