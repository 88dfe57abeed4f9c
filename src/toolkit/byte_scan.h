// Fast scans of byte rows for their first or last nonzero byte.
//
// Masks are mostly empty rows; these skip zero bytes eight at a time and give
// exactly the index a byte-by-byte walk gives. first_nonzero returns n when
// all n bytes are 0; last_nonzero returns the highest index with a nonzero
// byte, or n when there is none.
#pragma once

#include <cstddef>

namespace orva {

std::size_t first_nonzero(const unsigned char* p, std::size_t n);
std::size_t last_nonzero(const unsigned char* p, std::size_t n);

}  // namespace orva
