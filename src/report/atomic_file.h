// Replacing a file as a whole: the new text goes to a private temporary file
// (".orva_report_" and six random characters) in the target's directory, is
// flushed to disk and renamed over the target. A reader never sees a half
// written file, an existing file or symbolic link of the temporary name is
// never followed, and a failure leaves the target as it was. The new file
// keeps the permission bits of a regular file it replaces.
#pragma once

#include <string>

namespace orva {

// Returns 0, or the errno value of the step that failed (the temporary file is
// then removed).
int replace_file(const std::string& name, const std::string& text);

}  // namespace orva
