#include <stdlib.h>

#include "platform/netapi.h"

void* DriverTestMalloc(size_t size) { return malloc(size); }
void DriverTestFree(void* block) { free(block); }
NET_API_STATUS Kestrin(LPCWSTR, DWORD, LPBYTE* bufptr) {
  *bufptr = NULL;
  return 53;
}
NET_API_STATUS NetApiBufferFree(LPVOID) { return 0; }
