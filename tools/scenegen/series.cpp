// Renders every angle of a scene, writes images, job file and truth. Noise comes
// from a stream of its own, so that the geometry does not depend on it.
#include "series.h"

#include <cmath>
#include <filesystem>
#include <fstream>

#include "image_writers.h"
#include "job_file_writer.h"
#include "render.h"
#include "truth.h"

namespace orva::scenegen {

namespace {

constexpr std::uint64_t NOISE_STREAM = 0x6E6F697365ULL;

int write_text(const std::string& path, const std::string& text, std::string& error) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        error = "cannot write " + path;
        return 1;
    }
    return 0;
}

}  // namespace

std::string image_name(const SceneOptions& opt, int index) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "_%02d.", index);
    return opt.prefix + buf + format_extension(opt.format);
}

int write_series(const Scene& scene, std::FILE* report, std::string& error) {
    const SceneOptions& o = scene.opt;
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(o.out_dir, ec);
    if (ec || !fs::is_directory(o.out_dir)) {
        error = "cannot create the folder " + o.out_dir;
        return 1;
    }
    const fs::path dir = fs::absolute(o.out_dir);
    auto job_name_of = [&](const std::string& name) {
        return o.absolute_paths ? (dir / name).string() : name;
    };

    Renderer renderer(scene);
    Rng noise(o.seed ^ NOISE_STREAM);
    orva::ByteBuffer grey;
    JobImages images;
    for (size_t i = 0; i < scene.angles.size(); ++i) {
        renderer.expose(renderer.render_transmission(scene.angles[i]), noise, grey);
        const std::string name = image_name(o, static_cast<int>(i));
        if (write_image((dir / name).string(), o.format, grey, o.width, o.height, o.colour, o.tint,
                        o.quality, error))
            return 1;
        images.names.push_back(job_name_of(name));
    }
    if (scene.background) {
        renderer.expose_background(noise, grey);
        const std::string name = std::string("back.") + format_extension(o.format);
        if (write_image((dir / name).string(), o.format, grey, o.width, o.height, o.colour, o.tint,
                        o.quality, error))
            return 1;
        images.background = job_name_of(name);
    }

    const Truth truth = compute_truth(scene);
    if (write_truth((dir / o.truth_name).string(), scene, truth, error)) return 1;
    const int centre = static_cast<int>(std::lround(truth.axis));
    if (write_text((dir / o.job_name).string(), job_file_text(scene, images, centre), error))
        return 1;

    if (scene.angles.size() > 36 && !o.data_lines && report)
        std::fprintf(stderr,
                     "scenegen: note: %zu images; orva accepts NUMBER_OF_IMAGES up to 36 "
                     "(--data-lines lists them without a count)\n",
                     scene.angles.size());
    if (report)
        std::fprintf(report, "scenegen: %zu images %dx%d in %s, job %s, truth %s\n",
                     scene.angles.size(), o.width, o.height, dir.string().c_str(),
                     o.job_name.c_str(), o.truth_name.c_str());
    return 0;
}

}  // namespace orva::scenegen
