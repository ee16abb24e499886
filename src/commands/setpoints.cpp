// Setpoints, status and reset of the feedback controller.
#include "vorn_if.h"

int setSetpoint(char, double) { return -1; }
int getSetpoint(char, double*) { return -1; }
int getPIDstatus() { return -1; }
int setCtrlReset() { return -1; }
