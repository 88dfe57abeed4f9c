// Whole series: the same seed gives the same files, another seed other images;
// the options parser takes what --help promises and refuses the rest.
#include "series.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "options.h"
#include "scene_support.h"

namespace orva::scenegen {
namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ScenegenSeries, SameSeedSameFilesOtherSeedOtherImages) {
    testing::ScratchDir dir;
    ASSERT_TRUE(dir.ok());
    auto write = [&](const std::string& sub, std::uint64_t seed) {
        SceneOptions o;
        o.out_dir = dir.file(sub);
        o.seed = seed;
        o.width = 96;
        o.height = 64;
        o.num_images = 3;
        o.background = true;
        o.ice = 2;
        o.bubbles = 1;
        std::string error;
        Scene s;
        EXPECT_EQ(resolve_scene(o, s, error), 0) << error;
        EXPECT_EQ(write_series(s, nullptr, error), 0) << error;
    };
    write("a", 7);
    write("b", 7);
    write("c", 8);
    for (const char* name : {"img_00.png", "img_02.png", "back.png", "job.txt", "truth.txt"}) {
        const std::string a = slurp(dir.file(std::string("a/") + name));
        ASSERT_FALSE(a.empty()) << name;
        EXPECT_EQ(a, slurp(dir.file(std::string("b/") + name))) << name;
    }
    EXPECT_NE(slurp(dir.file("a/img_00.png")), slurp(dir.file("c/img_00.png")));
}

// A pin turning on its axis shows only against a background image, so a pin-only
// series comes with one unless asked not to.
TEST(ScenegenSeries, PinOnlySeriesNamesItsBackgroundImage) {
    testing::ScratchDir dir;
    ASSERT_TRUE(dir.ok());
    for (bool refuse : {false, true}) {
        SceneOptions o;
        o.out_dir = dir.file(refuse ? "without" : "with");
        o.kind = SceneKind::Pin;
        o.width = 96;
        o.height = 64;
        o.num_images = 2;
        o.no_background = refuse;
        std::string error;
        Scene s;
        ASSERT_EQ(resolve_scene(o, s, error), 0) << error;
        ASSERT_EQ(write_series(s, nullptr, error), 0) << error;
        const std::string job = slurp(o.out_dir + "/job.txt");
        EXPECT_EQ(job.find("\nBACK back.png\n") != std::string::npos, !refuse) << job;
        EXPECT_EQ(std::filesystem::exists(o.out_dir + "/back.png"), !refuse);
    }
}

TEST(ScenegenOptions, ParsesValuesAndRefusesBadOnes) {
    SceneOptions o;
    std::string error;
    ASSERT_EQ(parse_options({"--size",
                             "640x480",
                             "--angles=10,-20,30.5",
                             "--stripes",
                             "3",
                             "--format",
                             "tiff-mm",
                             "--loop-position",
                             "2",
                             "--scene",
                             "pin",
                             "--line",
                             "IMAGE_SPECIAL 5",
                             "--tint",
                             "--loop-offset=-12.5",
                             "--loop-tilt",
                             "-20",
                             "--loop-bend",
                             "4",
                             "--fibre-variation",
                             "0",
                             "--stem",
                             "30",
                             "--no-background"},
                            o, error),
              OPTIONS_OK)
        << error;
    EXPECT_EQ(o.width, 640);
    EXPECT_EQ(o.height, 480);
    EXPECT_EQ(o.angles, (std::vector<double>{10.0, -20.0, 30.5}));
    EXPECT_EQ(o.stripes, (std::array<int, 4>{3, 3, 3, 3}));
    EXPECT_EQ(o.format, ImageFormat::TiffMM);
    EXPECT_EQ(o.loop_position, 2);
    EXPECT_EQ(o.kind, SceneKind::Pin);
    EXPECT_EQ(o.extra_lines, std::vector<std::string>{"IMAGE_SPECIAL 5"});
    EXPECT_TRUE(o.colour && o.tint);
    EXPECT_EQ(o.loop_offset, -12.5);
    EXPECT_EQ(o.loop_tilt, -20.0);
    EXPECT_EQ(o.loop_bend, 4.0);
    EXPECT_EQ(o.fibre_variation, 0.0);
    EXPECT_EQ(o.stem_length, 30.0);
    EXPECT_TRUE(o.no_background);

    const std::vector<std::vector<std::string>> bad = {
        {"--images", "41"},         {"--size", "10x10"},
        {"--format", "gif"},        {"--angles"},
        {"--loop-position", "4"},   {"--radius", "-3"},
        {"--seed", "-1"},           {"--colour=1"},
        {"--frobnicate"},           {"--angles", "1,,2"},
        {"--quality", "9x"},        {"--loop-tilt", "85"},
        {"--fibre-variation", "1"}, {"--stem", "-1"},
    };
    for (const auto& args : bad) {
        SceneOptions b;
        error.clear();
        EXPECT_EQ(parse_options(args, b, error), OPTIONS_BAD) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
    SceneOptions h;
    EXPECT_EQ(parse_options({"--seed", "3", "--help"}, h, error), OPTIONS_HELP);
}

TEST(ScenegenOptions, ContradictoryScenesAreRefused) {
    SceneOptions o;
    Scene s;
    std::string error;
    o.angles.assign(41, 0.0);
    EXPECT_EQ(resolve_scene(o, s, error), 1);
    o.angles.clear();
    o.loop_position = 7;
    EXPECT_EQ(resolve_scene(o, s, error), 1);
}

}  // namespace
}  // namespace orva::scenegen
