// The program entry of kivservicemode.
#include "servicemode/kivservicemode.h"

int main(int argc, char** argv) { KIV_ServiceModeMain(argc, argv); }
