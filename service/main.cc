// PLSvc: with any argument it runs on the console, else as a service.
#include "service/service_process.h"

int main(int argc, char** argv) { return svc::PlsvcMain(argc, argv); }
