#include "console/ProgramStart.h"

int main(int argc, char** argv) {
    return gx::RunGardalix(argc, argv);
}
