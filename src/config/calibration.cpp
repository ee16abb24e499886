// Calibration file readers.
#include "vorn_if.h"

int getBPMscaling(double*, double*) { return -1; }
int getROCandROI(double*, double*, double*, double*, double*) { return -1; }
