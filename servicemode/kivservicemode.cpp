int KIV_ServiceModeMain(int, char**) { return 0; }
