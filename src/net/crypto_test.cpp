#include "net/crypto.h"

#include <gtest/gtest.h>
