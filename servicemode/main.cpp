int KIV_ServiceModeMain(int, char**);
int main(int argc, char** argv) { return KIV_ServiceModeMain(argc, argv); }
