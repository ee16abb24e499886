// Commands of the position-processing module.
#include "vorn_if.h"

int setWindAvg(char, unsigned int) { return -1; }
int setCrossBar(unsigned char, unsigned char, unsigned char, unsigned char, unsigned char) { return -1; }
int setBPMorient(unsigned char, unsigned char) { return -1; }
int setFBenable(int) { return -1; }
int getPosStats(int, double*, double*, double*, double*, double*, double*) { return -1; }
