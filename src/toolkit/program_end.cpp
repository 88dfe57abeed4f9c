// The end of the program after a fatal error, through an optional handler.
#include "toolkit/program_end.h"

#include <cstdlib>

namespace orva {

namespace {
ProgramEndHandler program_end_handler = nullptr;
}  // namespace

void end_program(int status) {
    if (program_end_handler != nullptr) program_end_handler(status);
    std::exit(status);
}

void set_program_end_handler(ProgramEndHandler handler) {
    program_end_handler = handler;
}

}  // namespace orva
