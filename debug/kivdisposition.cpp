#include "debug/kivdisposition.h"

int UsingIntelligentTracing = 0;
int FinalReturnCode = -99;

int LookUpDisposition(const char*, int, int*) { return 0; }
const char* DisplayDisposition(int) { return "?"; }
