// orva: finds and centres a crystal in a sample loop from a rotation series.
#include "analysis/orvafunc.h"
#include "run/run_orva.h"

int main(int argc, char** argv) { return orva::run_orva(argc, argv, orva::orvafunc); }
