// Prints the nebular continuum table of the program (the arrays of
// src/clouds/nebular_continuum.cpp), computed as gen_contneb.cpp describes.
#include <cstdio>

#include "generators.h"

int main() {
    const qvgen::ContinuumTable t = qvgen::nebular_continuum_coefficients();
    std::printf("// %zu points\n%s", t.lam.size(), qvgen::nebular_continuum_source(t).c_str());
    return 0;
}
