#include "run/run.h"

int main(int argc, char** argv) {
    return nep::run_program(nep::dialect::MAIN, "nepora3d", argc, argv);
}
