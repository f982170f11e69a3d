/* Asks the URL cache about one URL.
 *
 * usage: cache_check.exe <url>
 * prints "present <local file>" (exit 0) or "absent" (exit 1); any other
 * answer of the cache prints "error=<code>" (exit 2). */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>
#include <wininet.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: cache_check.exe <url>\n");
        return 2;
    }
    const char *url = argv[1];
    DWORD size = 0;
    if (GetUrlCacheEntryInfoA(url, NULL, &size)) {
        printf("present\n");
        return 0;
    }
    DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND) {
        printf("absent\n");
        return 1;
    }
    if (err != ERROR_INSUFFICIENT_BUFFER) {
        printf("error=%lu\n", err);
        return 2;
    }
    INTERNET_CACHE_ENTRY_INFOA *info = malloc(size);
    if (!info || !GetUrlCacheEntryInfoA(url, info, &size)) {
        printf("error=%lu\n", GetLastError());
        return 2;
    }
    printf("present %s\n", info->lpszLocalFileName ? info->lpszLocalFileName : "");
    free(info);
    return 0;
}
