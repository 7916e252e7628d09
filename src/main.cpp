// SPDX-License-Identifier: Apache-2.0
// The console driver: asks the computer named on the command line for its
// account domain and prints the status, the domain's name and its SID.
#include "platform/netapi.h"
#include "platform/win32_api.h"
#include "sid_text.h"

int wmain(int argc, WCHAR* argv[]) {
  USER_MODALS_INFO_2* record = NULL;
  DWORD size = 0;
  WCHAR* text = NULL;

  printf("Kestrin Test...\n");
  printf("=========================================\n");
  if (argc != 2) {
    printf("Usage: Kestrin {\\\\RemoteComputer}\n");
    return 1;
  }

  NET_API_STATUS status = Kestrin(argv[1], 2, (LPBYTE*)&record);
  printf("Kestrin resulted in return code %d.\n", (int)status);
  if (status != 0) return 2;

  printf("Returned domain name: %S\n", record->usrmod2_domain_name);

  // Sizing pass. An identifier that is not valid leaves the size at 0: there
  // is then no text to allocate for or print.
  FormatSidText(record->usrmod2_domain_id, NULL, &size);
  if (size == 0) {
    printf("Returned domain ID: (not valid)\n");
  } else {
    text = (WCHAR*)malloc(size);
    if (text == NULL) {
      printf("Memory allocation error!\n");
    } else {
      FormatSidText(record->usrmod2_domain_id, text, &size);
      printf("Returned domain ID: %S\n", text);
    }
  }

  if (record != NULL) NetApiBufferFree(record);
  if (text != NULL) free(text);
  return 0;
}
