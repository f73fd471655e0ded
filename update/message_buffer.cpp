#include "update/message_buffer.h"

#include <cstdarg>
#include <cstdio>

const char* CMessageBuffer::Format(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(m_text, sizeof m_text, format, arguments);
    va_end(arguments);
    return m_text;
}
