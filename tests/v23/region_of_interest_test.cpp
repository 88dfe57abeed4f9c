// Sub-sampling, edge image and region of interest.
#include <gtest/gtest.h>

#include <array>

#include "v23/image_preparation.h"
#include "v23_images.h"

namespace orva {
namespace {

using testing::GreyImage;

struct Roi {
    ByteBuffer sptr, gptr;
    IMAGE ims, img;
    int sub_samp = 0;
    std::array<int, 4> roi = {-9, -9, -9, -9};
};

Roi roi_of(const GreyImage& in) {
    Roi r;
    EXPECT_EQ(
        get_roi(in.pix, in.im, r.sptr, r.ims, r.gptr, r.img, r.sub_samp, r.roi.data(), 0, nullptr),
        0);
    return r;
}

TEST(RegionOfInterest, SubSamplingFactorAndSizes) {
    // floor(shorter side / 120 + 0.5), never 0.
    for (const auto& [w, h, s] :
         {std::array{1200, 900, 8}, {300, 1000, 3}, {179, 500, 1}, {40, 40, 1}})
        EXPECT_EQ(sub_sampling_factor(w, h), s) << w << "x" << h;

    GreyImage big(1200, 900);
    big.fill([](int x, int y) { return (x * 7 + y * 3) % 256; });
    const Roi r = roi_of(big);
    EXPECT_EQ(r.sub_samp, 8);
    EXPECT_EQ(testing::geometry(r.ims), (testing::Geometry{150, 112, 150 * 112}));
    EXPECT_EQ((std::array{r.img.width, r.img.height}), (std::array{148u, 110u}));
    ASSERT_EQ(r.gptr.size(), 148u * 110u);
    // Every eighth pixel of every eighth row.
    EXPECT_EQ(r.sptr[3 * 150 + 5], big.at(40, 24));
    EXPECT_EQ(r.sptr[111 * 150 + 149], big.at(1192, 888));
}

TEST(RegionOfInterest, EdgeImageValues) {
    // Pixel (1, 1) with N=10, S=30, W=20, E=40, NW=1, NE=2, SW=3, SE=4, centre 50:
    // d1 = |100-40| - |100-60| = 20, d2 = |100-5| - |100-5| = 0,
    // d3 = (1+20+3) - (2+40+4) = -22, d4 = (1+10+2) - (3+30+4) = -24.
    GreyImage s(4, 3);
    s.at(1, 0) = 10, s.at(1, 2) = 30, s.at(0, 1) = 20, s.at(2, 1) = 40;
    s.at(0, 0) = 1, s.at(2, 0) = 2, s.at(0, 2) = 3, s.at(2, 2) = 4, s.at(1, 1) = 50;
    IMAGE img;
    EXPECT_EQ(edge_image(s.pix, s.im, img)[0], (20 + 0 + 22 + 24) / 4);
    EXPECT_EQ((std::array{img.width, img.height}), (std::array{2u, 1u}));

    GreyImage step(3, 3);
    step.rect(2, 0, 2, 2, 255);
    EXPECT_EQ(edge_image(step.pix, step.im, img)[0], 255);  // capped
}

TEST(RegionOfInterest, NothingAboveTheThresholdAndObjects) {
    EXPECT_EQ(roi_of(GreyImage(200, 150, 120)).roi, (std::array<int, 4>{0, 1, 0, 1}));

    // 240 x 240, sub-sampled by 2, edge coordinates one less than sub-sampled
    // ones: an object at columns 80..159 from row 100 to the bottom, and one in
    // the middle that reaches no edge.
    struct Case {
        int x0, y0, x1, y1;
        std::array<int, 4> roi;
        int bottom_tolerance;
    };
    for (const Case& c : {Case{80, 100, 159, 239, {39, 78, 49, 117}, 0},  // the last edge row
                          Case{60, 40, 99, 139, {29, 48, 19, 69}, 1}}) {
        GreyImage in(240, 240, 200);
        in.rect(c.x0, c.y0, c.x1, c.y1, 40);
        const Roi r = roi_of(in);
        ASSERT_EQ(r.sub_samp, 2);
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(r.roi[k], c.roi[k], k == 3 ? c.bottom_tolerance : 1) << c.x0 << " " << k;
    }
}

}  // namespace
}  // namespace orva
