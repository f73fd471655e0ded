#pragma once

#include <cstddef>

// The job's one message buffer: every message is formatted into it and from there
// logged, shown on the writer or put in a box.
class CMessageBuffer {
public:
    static constexpr std::size_t MESSAGE_BUFFER_SIZE = 512;

    // printf-style; a longer text is cut at the buffer's end.
    const char* Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    const char* Text() const { return m_text; }

private:
    char m_text[MESSAGE_BUFFER_SIZE] = {};
};
