// Helpers shared by the generator tests: a resolved scene from options, a
// scratch folder, and centroids of rendered pixels.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <string>

#include "geometry.h"
#include "scene.h"

namespace orva::scenegen::testing {

inline Scene make_scene(const SceneOptions& opt) {
    Scene scene;
    std::string error;
    EXPECT_EQ(resolve_scene(opt, scene, error), 0) << error;
    return scene;
}

// A fresh folder under the system's temporary folder, removed again at the end.
class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "scenegen_test_XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    bool ok() const { return !path_.empty(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Centroid of the pixels for which `inside(x, y)` holds; count 0 when none.
struct Centroid {
    double x = 0.0;
    double y = 0.0;
    long count = 0;
};
inline Centroid centroid(int width, int height, const std::function<bool(int, int)>& inside) {
    Centroid c;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (inside(x, y)) {
                c.x += x;
                c.y += y;
                ++c.count;
            }
    if (c.count > 0) {
        c.x /= c.count;
        c.y /= c.count;
    }
    return c;
}

}  // namespace orva::scenegen::testing
