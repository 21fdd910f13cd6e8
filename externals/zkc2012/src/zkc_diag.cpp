// The crypto core's diagnostic stream: one process-wide pointer, unset at start.
#include "zkc_diag.h"

#include <cstdarg>

namespace {
FILE *g_diag_stream = nullptr;
}

extern "C" FILE *zkc_diag_set_stream(FILE *stream)
{
    FILE *previous = g_diag_stream;
    g_diag_stream = stream;
    return previous;
}

extern "C" FILE *zkc_diag_stream(void)
{
    return g_diag_stream;
}

extern "C" void zkc_diag_printf(const char *format, ...)
{
    FILE *stream = g_diag_stream;
    if (stream == nullptr)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(stream, format, args);
    va_end(args);
    fflush(stream);
}
