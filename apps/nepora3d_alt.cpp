#include "run/run.h"

int main(int argc, char** argv) {
    return nep::run_program(nep::dialect::ALT, "nepora3d_alt", argc, argv);
}
