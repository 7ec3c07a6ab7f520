// The process entry: the application object already exists (static
// initialisation made it); main only drives it.
#include "console/OvConsoleApplication.h"

int main(int argc, char** argv) { return OvConsoleMain(argc, argv); }
