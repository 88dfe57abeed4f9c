// Job-file reader on arbitrary text.
#include <cstdio>
#include <vector>

#include "fuzz_input.h"
#include "orva_defines.h"
#include "run/job_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;  // fmemopen refuses an empty buffer
    std::vector<char> text(data, data + size);
    std::FILE* in = fmemopen(text.data(), text.size(), "r");
    if (in == nullptr) std::abort();
    orva::JobSettings job;
    const int status = orva::read_job_stream(in, "job.txt", job);
    std::fclose(in);
    if (status != 0) return 0;
    // What the loader relies on: a consistent count, bounded names, every
    // entry named, borders that are not negative.
    if (job.numimg != static_cast<int>(job.images.size()) || job.numimg > orva::MAX_NUMIMG)
        std::abort();
    for (const orva::ImageEntry& e : job.images)
        if (e.name.empty() || e.name.size() > orva::MAX_NAME_LEN) std::abort();
    for (const int b : job.border)
        if (b < 0) std::abort();
    if (job.background_flag && job.back_name.empty()) std::abort();
    for (std::size_t i = 1; i < job.images.size(); ++i)
        if (job.images[i].angle < job.images[i - 1].angle) std::abort();
    return 0;
}
