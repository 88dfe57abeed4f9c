// The end of the program after a fatal error (no memory, a broken invariant).
//
// end_program normally calls std::exit. Per-image work on a worker thread must
// not end the program from there: the text of the images before it would be
// lost. The thread layer installs a handler that hands the status back to the
// thread that started the work (by throwing); a handler that returns lets
// std::exit go ahead.
#pragma once

namespace orva {

[[noreturn]] void end_program(int status);

using ProgramEndHandler = void (*)(int status);
// Installed once, before any thread is started.
void set_program_end_handler(ProgramEndHandler handler);

}  // namespace orva
