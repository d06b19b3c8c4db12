#include "run/run.h"

int main() { return nep::run_program(nep::dialect::MAIN, "nepora3d"); }
