// Numbered error messages on standard error.
//
// errmsg writes the message of its code and returns the code unchanged, so a
// caller can pass it on as its own status or as the exit status.
#pragma once

namespace orva {

enum ErrCode {
    ERR_CALL = 1,         // "\n%s: Wrong command-line parameters. \n  %s"
    ERR_OPEN_READ = 2,    // "\n%s: Cannot open %s for reading" + system error
    ERR_OPEN_WRITE = 3,   // "\n%s: Cannot open %s for writing" + system error
    ERR_ALLOCATE = 4,     // "\n%s: Cannot allocate %s" + system error
    ERR_NOT_DEFINED = 5,  // "\n%s: Value %d for %s is not defined"
    ERR_IS_ZERO = 6,      // "%s: Value for %s is zero"
    ERR_IS_SINGULAR = 7,  // "%s: Matrix %s is singular"
};

int errmsg(int err, const char* rtn, const char* text, int value);

}  // namespace orva
