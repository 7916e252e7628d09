// SPDX-License-Identifier: Apache-2.0
// Included ahead of the driver's source in the driver tests: its allocations
// go to a counting malloc that a test can make fail.
#ifndef KESTRIN_TESTING_DRIVER_SEAMS_H_
#define KESTRIN_TESTING_DRIVER_SEAMS_H_

#include <stddef.h>
#include <stdlib.h>

void* DriverTestMalloc(size_t size);
void DriverTestFree(void* block);

#define malloc DriverTestMalloc
#define free DriverTestFree

#endif  // KESTRIN_TESTING_DRIVER_SEAMS_H_
