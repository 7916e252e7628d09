// SPDX-License-Identifier: Apache-2.0
// The per-thread last-error value.
#include "platform/win32_api.h"

namespace {
thread_local DWORD last_error = 0;
}

void SetLastError(DWORD code) { last_error = code; }
DWORD GetLastError(void) { return last_error; }
