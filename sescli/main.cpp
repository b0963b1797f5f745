// The program entry of kivses.
#include "sescli/kivsescli.h"

int main(int argc, char** argv) { return KIV_SesCliMain(argc, argv); }
