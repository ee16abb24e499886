// Readers of the sample stream.
#include "vorn_if.h"

int getPosArray(double*, double*, double*, uint32_t) { return -1; }
int getCurrentArray(double*, uint32_t) { return -1; }
