#include "console/GX_Program.h"

int main(int argc, char** argv) {
    return gx::RunGardalix(argc, argv);
}
