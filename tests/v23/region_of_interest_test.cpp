// Sub-sampling, edge image and region of interest.
#include <gtest/gtest.h>

#include "v23/image_preparation.h"
#include "v23_images.h"

namespace orva {
namespace {

using testing::GreyImage;

struct Roi {
    ByteBuffer sptr, gptr;
    IMAGE ims, img;
    int sub_samp = 0;
    int roi[4] = {-9, -9, -9, -9};
};

Roi roi_of(const GreyImage& in) {
    Roi r;
    EXPECT_EQ(get_roi(in.pix, in.im, r.sptr, r.ims, r.gptr, r.img, r.sub_samp, r.roi, 0, nullptr),
              0);
    return r;
}

TEST(RegionOfInterest, SubSamplingFactorAndSizes) {
    EXPECT_EQ(sub_sampling_factor(1200, 900), 8);  // 7.5 + 0.5
    EXPECT_EQ(sub_sampling_factor(768, 576), 5);   // 4.8 + 0.5
    EXPECT_EQ(sub_sampling_factor(300, 1000), 3);  // the shorter side counts
    EXPECT_EQ(sub_sampling_factor(179, 500), 1);   // 1.49
    EXPECT_EQ(sub_sampling_factor(40, 40), 1);     // never 0

    GreyImage big(1200, 900, 0);
    big.fill([](int x, int y) { return (x * 7 + y * 3) % 256; });
    const Roi r = roi_of(big);
    EXPECT_EQ(r.sub_samp, 8);
    EXPECT_EQ(r.ims.width, 150u);
    EXPECT_EQ(r.ims.height, 112u);
    EXPECT_EQ(r.ims.size, 150u * 112u);
    EXPECT_EQ(r.img.width, 148u);
    EXPECT_EQ(r.img.height, 110u);
    ASSERT_EQ(r.gptr.size(), 148u * 110u);
    // Every eighth pixel of every eighth row.
    EXPECT_EQ(r.sptr[3 * 150 + 5], big.at(40, 24));
    EXPECT_EQ(r.sptr[111 * 150 + 149], big.at(1192, 888));
}

TEST(RegionOfInterest, EdgeImageValues) {
    GreyImage s(4, 3, 0);
    // Pixel (1, 1) with N=10, S=30, W=20, E=40, NW=1, NE=2, SW=3, SE=4, centre 50.
    s.at(1, 0) = 10, s.at(1, 2) = 30, s.at(0, 1) = 20, s.at(2, 1) = 40;
    s.at(0, 0) = 1, s.at(2, 0) = 2, s.at(0, 2) = 3, s.at(2, 2) = 4, s.at(1, 1) = 50;
    IMAGE img;
    const ByteBuffer g = edge_image(s.pix, s.im, img);
    EXPECT_EQ(img.width, 2u);
    EXPECT_EQ(img.height, 1u);
    // d1 = |100-40| - |100-60| = 20, d2 = |100-5| - |100-5| = 0,
    // d3 = (1+20+3) - (2+40+4) = -22, d4 = (1+10+2) - (3+30+4) = -24.
    EXPECT_EQ(g[0], (20 + 0 + 22 + 24) / 4);

    GreyImage step(3, 3, 0);
    step.rect(2, 0, 2, 2, 255);
    edge_image(step.pix, step.im, img);
    EXPECT_EQ(edge_image(step.pix, step.im, img)[0], 255);  // capped
}

TEST(RegionOfInterest, NothingAboveTheThreshold) {
    const Roi flat = roi_of(GreyImage(200, 150, 120));
    EXPECT_EQ(flat.roi[0], 0);
    EXPECT_EQ(flat.roi[1], 1);
    EXPECT_EQ(flat.roi[2], 0);
    EXPECT_EQ(flat.roi[3], 1);
}

TEST(RegionOfInterest, FindsTheObject) {
    // 240 x 240, sub-sampled by 2: a dark object at columns 80..159 from row
    // 100 down to the bottom, i.e. sub-sampled columns 40..79, rows 50..119.
    GreyImage in(240, 240, 200);
    in.rect(80, 100, 159, 239, 40);
    const Roi r = roi_of(in);
    ASSERT_EQ(r.sub_samp, 2);
    // Edge-image coordinates are one less than sub-sampled ones.
    EXPECT_NEAR(r.roi[0], 39, 1);
    EXPECT_NEAR(r.roi[1], 78, 1);
    EXPECT_NEAR(r.roi[2], 49, 1);
    EXPECT_EQ(r.roi[3], 117);  // the last edge row
    EXPECT_LE(r.roi[0], r.roi[1]);

    // An object in the middle that does not reach any edge.
    GreyImage mid(240, 240, 200);
    mid.rect(60, 40, 99, 139, 30);
    const Roi m = roi_of(mid);
    EXPECT_NEAR(m.roi[0], 29, 1);
    EXPECT_NEAR(m.roi[1], 48, 1);
    EXPECT_NEAR(m.roi[2], 19, 1);
    EXPECT_NEAR(m.roi[3], 69, 1);
}

TEST(RegionOfInterest, TinyImagesStayInside) {
    for (int w : {3, 4, 7}) {
        GreyImage in(w, 3, 10);
        in.at(1, 1) = 200;
        const Roi r = roi_of(in);
        EXPECT_EQ(r.sub_samp, 1);
        EXPECT_EQ(r.img.width, static_cast<unsigned>(w - 2));
        EXPECT_GE(r.roi[0], 0);
        EXPECT_GE(r.roi[2], 0);
        EXPECT_LE(r.roi[2], r.roi[3]);
    }
}

}  // namespace
}  // namespace orva
