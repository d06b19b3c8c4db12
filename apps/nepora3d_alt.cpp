#include "run/run.h"

int main() { return nep::run_program(nep::dialect::ALT, "nepora3d_alt"); }
