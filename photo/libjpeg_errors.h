#pragma once

// libjpeg ends a failed call by calling its error handler, which must not
// return: the encoder and the decoder jump back to where they set `escape`,
// with libjpeg's message kept. Private to this library (it includes libjpeg's
// own headers, which nothing above needs).

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

struct LibjpegErrors
{
    jpeg_error_mgr library; // first, so that libjpeg's pointer is ours too
    std::jmp_buf escape;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] inline void jump_on_libjpeg_error(j_common_ptr info)
{
    auto* errors = reinterpret_cast<LibjpegErrors*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->escape, 1);
}
