// VrelPELite.exe: the program a technician starts in WinPE.
#include "app/program.h"

int main() { return app::runProgram(); }
