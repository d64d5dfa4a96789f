// OstraDoorLock: the hotel door-lock interface service.
#include "service/app/ProgramUnit.h"

int main(int argc, char** argv) {
    return ostra::RunProgram(argc, argv);
}
