// A whole run, from the job file to the result file, on tiny images.
//
// The input is job-file keyword lines, a zero byte, then the bytes of the
// first image; without a zero byte it is all image. Three more images, fixed
// 48 x 36 PGM pictures of a dark loop on a bright ground at three rotation
// angles, complete a series of four. The run takes place in a private folder,
// with the diagnostic pictures turned off.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/orvafunc.h"
#include "run/run_orva.h"

namespace {

constexpr int kWidth = 48;
constexpr int kHeight = 36;

// A pin from the bottom with a round loop and a small dark crystal in it,
// shifted sideways by `shift` columns.
std::string loop_picture(int shift) {
    std::string pgm = "P5\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n255\n";
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int cx = kWidth / 2 + shift, cy = 14;
            const int r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            unsigned char v = 220;
            if (y > 20 && std::abs(x - kWidth / 2 - shift) < 3) v = 40;         // pin
            if (r2 < 64 && r2 > 36) v = 60;                                     // loop rim
            if ((x - cx - 2) * (x - cx - 2) + (y - cy) * (y - cy) < 5) v = 30;  // crystal
            pgm += static_cast<char>(v);
        }
    }
    return pgm;
}

void write(const char* name, const std::string& content) {
    std::FILE* f = std::fopen(name, "wb");
    if (f == nullptr || std::fwrite(content.data(), 1, content.size(), f) != content.size())
        std::abort();
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static char folder[] = "/tmp/orva_fuzz_run_XXXXXX";
    if (mkdtemp(folder) == nullptr || chdir(folder) != 0) std::abort();
    std::atexit([] { std::filesystem::remove_all(folder); });
    setenv("ORVA_DIAG_DIR", "", 1);
    write("img_1.pgm", loop_picture(-4));
    write("img_2.pgm", loop_picture(0));
    write("img_3.pgm", loop_picture(4));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t* end = data + size;
    const std::uint8_t* zero = std::find(data, end, 0);
    std::string keywords;
    const std::uint8_t* image = data;
    if (zero != end) {
        keywords.assign(data, zero);
        image = zero + 1;
    }
    write("img_0.pgm", std::string(image, end));
    write("job.txt", keywords +
                         "\nNUMBER_OF_IMAGES 4\nDATA_START\n0 img_0.pgm\n90 img_1.pgm\n"
                         "180 img_2.pgm\n270 img_3.pgm\nDATA_END\n");
    std::string job = "job.txt";
    std::string result = "result.txt";
    std::string program = "orva";
    char* argv[] = {program.data(), job.data(), result.data(), nullptr};
    orva::run_orva(3, argv, orva::orvafunc);
    return 0;
}
