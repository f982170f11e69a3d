/* JSON output shared by the test helpers that report windows and boxes. */
#ifndef VEXO_E2E_JSON_OUT_H
#define VEXO_E2E_JSON_OUT_H

#include <stdio.h>
#include <windows.h>

/* A wide string as a JSON string: ASCII as it is, everything else \uXXXX. */
static inline void PrintJsonString(const WCHAR *s)
{
    putchar('"');
    for (; *s; s++) {
        if (*s == L'"' || *s == L'\\')
            printf("\\%c", (char)*s);
        else if (*s < 0x20 || *s > 0x7e)
            printf("\\u%04x", (unsigned)*s);
        else
            putchar((char)*s);
    }
    putchar('"');
}

#endif
