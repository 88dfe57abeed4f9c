// scenegen: renders a synthetic rotation series with its job file and ground
// truth. Exit status 0 on success, 1 for bad options or unwritable files.
#include <cstdio>
#include <string>
#include <vector>

#include "options.h"
#include "scene.h"
#include "series.h"

int main(int argc, char** argv) {
    using namespace orva::scenegen;
    const std::vector<std::string> args(argv + 1, argv + argc);
    SceneOptions opt;
    std::string error;
    const int parsed = parse_options(args, opt, error);
    if (parsed == OPTIONS_HELP) {
        std::fputs(help_text(argv[0]).c_str(), stdout);
        return 0;
    }
    if (parsed != OPTIONS_OK) {
        std::fprintf(stderr, "scenegen: %s\n", error.c_str());
        return 1;
    }
    Scene scene;
    if (resolve_scene(opt, scene, error) ||
        write_series(scene, opt.quiet ? nullptr : stdout, error)) {
        std::fprintf(stderr, "scenegen: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
