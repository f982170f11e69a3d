/* fill_cache.exe N OUT_FILE: leaves exactly N entries of its own in the
   user's URL cache, as ordinary browsing leaves them: pages of a few hundred
   sites ("http://www.site<k>.example/page/<i>.html", i from 0 to N-1), each a
   committed entry with a small file and an HTTP header. Entries it made
   before are kept (i < N) or deleted (i >= N); other entries are not touched.
   Writes "<all entries before> <own before> <all entries after> <own after>"
   to OUT_FILE, counted by walking the cache (outside any timed run). */
#include <windows.h>
#include <wininet.h>
#include <stdio.h>

static const char kHeader[] = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 1024\r\n\r\n";

/* The index of one of this program's URLs, or -1. */
static long OwnIndex(const char* url) {
  unsigned site, index;
  int end = 0;
  if (sscanf(url, "http://www.site%u.example/page/%u.html%n", &site, &index, &end) == 2 && url[end] == '\0')
    return (long)index;
  return -1;
}

/* The next entry of the walk (the first while *walk is NULL), the buffer
   grown as needed; FALSE at the end. */
static BOOL Next(HANDLE* walk, INTERNET_CACHE_ENTRY_INFOA** entry, DWORD* capacity) {
  for (;;) {
    DWORD size = *capacity;
    if (*walk ? FindNextUrlCacheEntryA(*walk, *entry, &size)
              : (*walk = FindFirstUrlCacheEntryA(NULL, *entry, &size)) != NULL)
      return TRUE;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return FALSE;
    *entry = HeapReAlloc(GetProcessHeap(), 0, *entry, *capacity = size + 4096);
  }
}

/* Walks the whole cache: counts every entry and this program's own; with
   present, marks own entries below limit and deletes the others. */
static void Walk(long limit, unsigned char* present, long* all, long* own) {
  DWORD capacity = 4096;
  INTERNET_CACHE_ENTRY_INFOA* entry = HeapAlloc(GetProcessHeap(), 0, capacity);
  HANDLE walk = NULL;
  *all = *own = 0;
  while (Next(&walk, &entry, &capacity)) {
    long index = OwnIndex(entry->lpszSourceUrlName);
    ++*all;
    if (index < 0) continue;
    ++*own;
    if (present && index < limit) present[index] = 1;
    else if (present) DeleteUrlCacheEntryA(entry->lpszSourceUrlName);
  }
  if (walk) FindCloseUrlCache(walk);
  HeapFree(GetProcessHeap(), 0, entry);
}

static BOOL AddEntry(long index) {
  char url[128], file[MAX_PATH], body[1024];
  FILETIME none = {0, 0};
  DWORD written;
  HANDLE handle;
  sprintf(url, "http://www.site%ld.example/page/%ld.html", index % 300, index);
  if (!CreateUrlCacheEntryA(url, sizeof body, "html", file, 0)) return FALSE;
  handle = CreateFileA(file, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (handle == INVALID_HANDLE_VALUE) return FALSE;
  memset(body, ' ', sizeof body);
  memcpy(body, "<html><body>", 12);
  WriteFile(handle, body, sizeof body, &written, NULL);
  CloseHandle(handle);
  return CommitUrlCacheEntryA(url, file, none, none, NORMAL_CACHE_ENTRY, (BYTE*)kHeader, sizeof kHeader - 1,
                              "html", NULL);
}

int main(int argc, char** argv) {
  long n, i, counts[4];
  unsigned char* present;
  FILE* out;
  if (argc != 3 || (n = atol(argv[1])) < 0) return 2;
  present = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (SIZE_T)n + 1);
  Walk(n, present, &counts[0], &counts[1]);
  for (i = 0; i < n; ++i)
    if (!present[i] && !AddEntry(i)) return 3;
  Walk(0, NULL, &counts[2], &counts[3]);
  if (!(out = fopen(argv[2], "w"))) return 4;
  fprintf(out, "%ld %ld %ld %ld\n", counts[0], counts[1], counts[2], counts[3]);
  return fclose(out) != 0;
}
