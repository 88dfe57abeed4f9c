// Pin detection on edge images and pin removal on full-resolution images.
#include <gtest/gtest.h>

#include "v23/image_preparation.h"
#include "v23_images.h"

namespace orva {
namespace {

using testing::GreyImage;

// An edge image whose rows show the two outline edges of an object of the
// given width, centred at column 30 of a 60-wide image.
void edges(GreyImage& g, int y, int width) {
    g.at(30 - width / 2, y) = 200;
    g.at(30 - width / 2 + width, y) = 200;
}

struct Pin {
    int pos = -9;
    int len = -9;
};

Pin pin_of(const GreyImage& g, int sub_samp) {
    Pin p;
    EXPECT_EQ(detect_pin(g.pix, g.im, sub_samp, p.pos, p.len, nullptr), 0);
    return p;
}

TEST(DetectPin, VerticalBandBelowANarrowTop) {
    // Width 5 in rows 0..9, width 19 from row 10 to the bottom (80 % of rows).
    GreyImage g(60, 50, 0);
    for (int y = 0; y < 50; ++y) edges(g, y, y < 10 ? 5 : 19);
    const Pin p = pin_of(g, 3);
    EXPECT_EQ(p.pos, 10 * 3);
    EXPECT_EQ(p.len, 40 * 3);  // rows 10..49, reaching the bottom

    // Band from the top row: position 0.
    GreyImage full(60, 50, 0);
    for (int y = 0; y < 50; ++y) edges(full, y, 19);
    EXPECT_EQ(pin_of(full, 4).pos, 0);
}

TEST(DetectPin, NotAPin) {
    // The common width covers only 60 % of the rows: not more than 0.6 H.
    GreyImage g(60, 50, 0);
    for (int y = 0; y < 50; ++y) edges(g, y, y < 20 ? 5 + (y % 3) * 10 : 19);
    EXPECT_EQ(pin_of(g, 3).pos, -1);

    // Wide at the top (a loop seen edge-on above the pin).
    GreyImage wide(60, 50, 0);
    for (int y = 0; y < 50; ++y) edges(wide, y, y < 3 ? 40 : 19);
    EXPECT_EQ(pin_of(wide, 3).pos, -1);

    // The band does not reach the bottom: no length.
    GreyImage high(60, 50, 0);
    for (int y = 0; y < 40; ++y) edges(high, y, 19);
    for (int y = 40; y < 50; ++y) edges(high, y, 40);
    const Pin p = pin_of(high, 3);
    EXPECT_EQ(p.pos, 0);
    EXPECT_EQ(p.len, 0);  // 40 / 4 < 50 - 39

    // Empty rows everywhere.
    const Pin none = pin_of(GreyImage(60, 50, 0), 3);
    EXPECT_EQ(none.pos, -1);
    EXPECT_EQ(none.len, 0);

    // A one-row edge image: its single row is the whole band.
    GreyImage row(60, 1, 0);
    edges(row, 0, 19);
    EXPECT_EQ(pin_of(row, 2).pos, 0);
}

struct Removal {
    ByteBuffer img1, img2;
    int remove_flag = -1;
};

Removal remove_from(const GreyImage& c, const int* roi, int sub_samp, int pin_len) {
    Removal r;
    r.img1.assign(c.pix.size(), 0);
    r.img2.assign(c.pix.size(), 0);
    EXPECT_EQ(remove_pin(c.pix, r.img1, r.img2, c.w(), c.h(), roi, sub_samp, 0, r.remove_flag,
                         pin_len, nullptr),
              0);
    return r;
}

int darkest_below(const ByteBuffer& img, int w, int h, int from_row) {
    int m = 255;
    for (int y = from_row; y < h; ++y)
        for (int x = 0; x < w; ++x) m = std::min<int>(m, img[y * w + x]);
    return m;
}

TEST(RemovePin, NoPinColumnsBelowTheCutRow) {
    // Bright image, dark pin at columns 25..34 from row 40 to the bottom, a
    // dark crystal above it that must stay.
    GreyImage c(60, 80, 200);
    c.rect(25, 40, 34, 79, 30);
    c.rect(27, 20, 31, 24, 60);
    const int roi[4] = {24, 35, 19, 79};
    const Removal r = remove_from(c, roi, 1, 40);
    EXPECT_EQ(r.remove_flag, 1);
    // Rows 40.. are unusual, row 39 is the first usual one; cut 39 - 80/50 = 38.
    EXPECT_EQ(darkest_below(r.img1, 60, 80, 38), 200);
    EXPECT_EQ(darkest_below(r.img2, 60, 80, 38), 200);
    EXPECT_EQ(r.img1[22 * 60 + 29], 60);
    EXPECT_EQ(r.img2[22 * 60 + 29], 60);

    // The driver passes the compensated image as its own second copy.
    ByteBuffer same = c.pix;
    ByteBuffer img1(c.pix.size());
    int flag = 0;
    ASSERT_EQ(remove_pin(same, img1, same, 60, 80, roi, 1, 0, flag, 40, nullptr), 0);
    EXPECT_EQ(darkest_below(same, 60, 80, 38), 200);
    EXPECT_EQ(img1, r.img1);
}

TEST(RemovePin, DarkImagesAndNothingToRemove) {
    // Dark image (mean below 100), bright pin from row 50 down.
    GreyImage c(60, 80, 20);
    c.rect(25, 50, 34, 79, 230);
    const int roi[4] = {24, 35, 10, 79};
    const Removal r = remove_from(c, roi, 1, 0);  // found by its rows alone
    EXPECT_EQ(r.remove_flag, 1);
    int brightest = 0;
    for (int y = 48; y < 80; ++y)
        for (int x = 0; x < 60; ++x) brightest = std::max<int>(brightest, r.img1[y * 60 + x]);
    EXPECT_EQ(brightest, 20);

    // Unusual rows up to the top quarter: nothing removed.
    GreyImage tall(60, 80, 200);
    tall.rect(25, 5, 34, 79, 30);
    const int troi[4] = {24, 35, 4, 79};
    const Removal t = remove_from(tall, troi, 1, 50);
    EXPECT_EQ(t.remove_flag, 0);
    EXPECT_EQ(t.img1, tall.pix);

    // A uniform image comes back unchanged.
    GreyImage flat(60, 80, 120);
    const Removal f = remove_from(flat, roi, 2, 0);
    EXPECT_EQ(f.img1, flat.pix);
    EXPECT_EQ(f.img2, flat.pix);

    // Tiny images and a ROI reaching the right edge stay inside the buffers.
    GreyImage tiny(4, 5, 150);
    tiny.rect(1, 2, 2, 4, 10);
    const int wide[4] = {0, 3, 0, 2};
    remove_from(tiny, wide, 3, 9);
}

}  // namespace
}  // namespace orva
