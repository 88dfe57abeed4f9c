// Kept for the test folders that still include it by this name.
#pragma once

#include "support/files.h"
