#include "Shell/Program.h"

int main(int argc, char** argv) {
    return tindlewave::runProgram(argc, argv);
}
