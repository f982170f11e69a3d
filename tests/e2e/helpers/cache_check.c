/* Asks the URL cache about one URL, or removes its entry.
 *
 * usage: cache_check.exe <url>
 *   prints "present <local file>" (exit 0) or "absent" (exit 1); any other
 *   answer of the cache prints "error=<code>" (exit 2).
 * usage: cache_check.exe /delete <url>
 *   prints "deleted" (exit 0) or "absent" (exit 1), or "error=<code>". */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <wininet.h>

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "/delete") == 0) {
        if (DeleteUrlCacheEntryA(argv[2])) {
            printf("deleted\n");
            return 0;
        }
        DWORD err = GetLastError();
        printf(err == ERROR_FILE_NOT_FOUND ? "absent\n" : "error=%lu\n", err);
        return err == ERROR_FILE_NOT_FOUND ? 1 : 2;
    }
    if (argc != 2) {
        fprintf(stderr, "usage: cache_check.exe [/delete] <url>\n");
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
