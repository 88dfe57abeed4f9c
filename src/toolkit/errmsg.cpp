// Numbered error messages; codes 2 to 4 append the system's error text the way
// perror("\nReason") prints it.
#include "toolkit/errmsg.h"

#include <cerrno>
#include <cstdio>

namespace orva {

int errmsg(int err, const char* rtn, const char* text, int value) {
    const int saved_errno = errno;  // fprintf may change it before perror reads it
    switch (err) {
        case ERR_CALL:
            std::fprintf(stderr, "\n%s: Wrong command-line parameters. \n  %s", rtn, text);
            break;
        case ERR_OPEN_READ:
            std::fprintf(stderr, "\n%s: Cannot open %s for reading", rtn, text);
            errno = saved_errno;
            std::perror("\nReason");
            break;
        case ERR_OPEN_WRITE:
            std::fprintf(stderr, "\n%s: Cannot open %s for writing", rtn, text);
            errno = saved_errno;
            std::perror("\nReason");
            break;
        case ERR_ALLOCATE:
            std::fprintf(stderr, "\n%s: Cannot allocate %s", rtn, text);
            errno = saved_errno;
            std::perror("\nReason");
            break;
        case ERR_NOT_DEFINED:
            std::fprintf(stderr, "\n%s: Value %d for %s is not defined", rtn, value, text);
            break;
        case ERR_IS_ZERO:
            std::fprintf(stderr, "%s: Value for %s is zero", rtn, text);
            break;
        case ERR_IS_SINGULAR:
            std::fprintf(stderr, "%s: Matrix %s is singular", rtn, text);
            break;
        default:
            std::fprintf(stderr, "\nerrmsg: error %d is not defined\n", err);
            break;
    }
    return err;
}

}  // namespace orva
