#include "net/smb2_signing.h"

#include <gtest/gtest.h>
