// KeyScout.exe: a GUI-subsystem program that takes no command line, reads and writes no
// files and shows only its window.
#include "app/Program.h"

int main() {
    return ks::RunProgram();
}
