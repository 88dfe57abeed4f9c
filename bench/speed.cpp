// Speed benchmark: times whole orva runs on generated jobs (the default method
// on 36 JPEG images of 768x576, of 1024x768 with the loop entering from the
// left, and of 1360x1024, which it analyses at half resolution; 8 PNG images
// of 640x480; the version-2.3 method on 36 JPEG images of 768x576; TRACK on
// the first and the half-resolution scenes), each on one thread
// (ORVA_THREADS=1) and on all the process may use, over several runs.
// It reports the median wall time per job and per image, the peak resident
// memory of the run (wait4), and the ratio to the time the project's own
// readers need only to decode the same images in this process on as many
// threads: the floor no analysis can beat. Run by hand through bench/speed.
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "imageio/image_type.h"
#include "imageio/jpeg_io.h"
#include "imageio/pgm_reader.h"
#include "imageio/png_reader.h"
#include "imageio/tiff_reader.h"
#include "scene.h"
#include "series.h"

namespace orva::bench {
namespace {

using namespace orva::scenegen;

struct Job {
    const char* name;
    int images;
    int width;
    int height;
    ImageFormat format;
    std::uint64_t seed;
    int loop_position = 0;
    bool vers23 = false;
    bool track = false;
};

// Decodes one file with the reader the program would choose; returns its bytes.
size_t decode(const std::string& path) {
    const int type = get_img_type(path.c_str());
    IMAGE im;
    ByteBuffer buffer;
    int w = 0, h = 0;
    switch (type) {
        case PGM_SUPPORTED:
            read_pgm(buffer, im, path.c_str());
            break;
        case TIFF_LITTLE:
        case TIFF_BIG:
            read_tiff_2(buffer, im, path.c_str(), 0, type);
            break;
        case JPEG:
            buffer = read_JPEG_file(path.c_str(), &w, &h);
            break;
        case PNG:
            buffer = loadpng(path.c_str(), &w, &h);
            break;
        default:
            break;
    }
    return buffer.size();
}

// Decodes the files on `threads` threads; returns the bytes of all images.
size_t decode_all(const std::vector<std::string>& files, int threads) {
    std::vector<size_t> bytes(files.size(), 0);
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < files.size(); i = next++) bytes[i] = decode(files[i]);
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
    return std::accumulate(bytes.begin(), bytes.end(), size_t{0});
}

// The threads orva uses by default: the CPUs of this process's affinity mask.
int all_threads() {
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof set, &set) == 0 ? std::max(1, CPU_COUNT(&set)) : 1;
}

}  // namespace
}  // namespace orva::bench

int main(int argc, char** argv) {
    using namespace orva::bench;
    std::string orva = ORVA_BINARY;
    std::string only;
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--orva" && i + 1 < argc) {
            orva = argv[++i];
        } else if (a == "--job" && i + 1 < argc) {
            only = argv[++i];
        } else {
            std::printf(
                "Usage: %s [--runs N] [--orva PATH] [--job TEXT]\n"
                "Times orva on generated jobs (median of N runs, default 5), on one thread and on\n"
                "all, and compares with the time the project's readers need to decode the same\n"
                "images. --job runs only the jobs whose name contains TEXT.\n",
                argv[0]);
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    const Job jobs[] = {
        {"36 x 768x576 JPEG", 36, 768, 576, ImageFormat::Jpeg, 501},
        {"36 x 1024x768 JPEG (loop left)", 36, 1024, 768, ImageFormat::Jpeg, 504, 2},
        {"36 x 1360x1024 JPEG (half res)", 36, 1360, 1024, ImageFormat::Jpeg, 502},
        {"8 x 640x480 PNG", 8, 640, 480, ImageFormat::Png, 503},
        {"36 x 768x576 JPEG VERS23", 36, 768, 576, ImageFormat::Jpeg, 505, 0, true},
        // The default method's first and half-resolution scenes again, with TRACK:
        // each pair compares directly.
        {"36 x 768x576 JPEG TRACK", 36, 768, 576, ImageFormat::Jpeg, 501, 0, false, true},
        {"36 x 1360x1024 JPEG (half res) TRACK", 36, 1360, 1024, ImageFormat::Jpeg, 502, 0, false,
         true},
    };
    const int threads_all = all_threads();
    const std::string work = make_scratch_folder("speed");
    if (work.empty()) {
        std::fprintf(stderr, "cannot create a scratch folder\n");
        return 1;
    }
    std::printf("speed benchmark: orva %s, median of %d runs, all threads = %d\n\n", orva.c_str(),
                runs, threads_all);
    std::printf("%-32s %7s %6s %6s %9s %9s %11s %7s %8s\n", "job", "threads", "images", "status",
                "ms/job", "ms/image", "decode ms", "ratio", "peak MB");
    for (const Job& job : jobs) {
        if (std::string(job.name).find(only) == std::string::npos) continue;
        orva::scenegen::SceneOptions o;
        o.out_dir = work + "/" + std::to_string(job.seed);
        o.seed = job.seed;
        o.num_images = job.images;
        o.width = job.width;
        o.height = job.height;
        o.format = job.format;
        o.loop_position = job.loop_position;
        o.vers23 = job.vers23;
        if (job.track) o.extra_lines.push_back("TRACK");
        o.quiet = true;
        orva::scenegen::Scene scene;
        std::string error;
        if (orva::scenegen::resolve_scene(o, scene, error) ||
            orva::scenegen::write_series(scene, nullptr, error)) {
            std::fprintf(stderr, "cannot render %s: %s\n", job.name, error.c_str());
            return 1;
        }
        std::vector<std::string> files;
        for (int i = 0; i < job.images; ++i)
            files.push_back(o.out_dir + "/" + orva::scenegen::image_name(o, i));

        for (const int threads : {1, threads_all}) {
            if (threads == 1)
                setenv("ORVA_THREADS", "1", 1);
            else
                unsetenv("ORVA_THREADS");
            std::vector<double> run_ms, decode_ms;
            long peak_kb = 0;
            int status = 0;
            for (int r = 0; r < runs; ++r) {
                const RunOutcome run = run_program(orva, {"job.txt", "result.txt"}, o.out_dir,
                                                   "orva.out", "orva.err", 600.0);
                run_ms.push_back(1000.0 * run.seconds);
                peak_kb = std::max(peak_kb, run.max_rss_kb);
                if (run.status != 0) status = run.status;

                const double start = now_seconds();
                const size_t bytes = decode_all(files, threads);
                decode_ms.push_back(1000.0 * (now_seconds() - start));
                if (bytes != static_cast<size_t>(job.images) * job.width * job.height)
                    std::fprintf(stderr, "%s: the readers returned %zu bytes\n", job.name, bytes);
            }
            const double per_job = quantile(run_ms, 0.5);
            const double floor = quantile(decode_ms, 0.5);
            std::printf("%-32s %7d %6d %6d %9.1f %9.2f %11.1f %7.1f %8.1f\n", job.name, threads,
                        job.images, status, per_job, per_job / job.images, floor,
                        floor > 0 ? per_job / floor : 0.0, peak_kb / 1024.0);
            if (status != 0)
                std::printf("  (orva failed with status %d: %s)\n", status,
                            last_lines(o.out_dir + "/orva.err", 2).c_str());
            std::fflush(stdout);
            if (threads_all == 1) break;
        }
    }
    unsetenv("ORVA_THREADS");
    std::printf(
        "\nthreads: ORVA_THREADS=1, then the default (all CPUs of the process).\n"
        "ratio: orva's time over the time to decode the images alone on as many threads.\n");
    std::filesystem::remove_all(work);
    return 0;
}
