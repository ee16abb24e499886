// Readings of the optical link transceivers.
#include "vorn_if.h"

int getSFPinfo(int, int16_t*, int32_t*, int32_t*, int32_t*) { return -1; }
