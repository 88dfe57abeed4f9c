// Pin detection on edge images and pin removal on full-resolution images.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

#include "toolkit/heap_sort.h"
#include "v23/byte_counts.h"
#include "v23/image_preparation.h"
#include "v23_images.h"

namespace orva {
namespace {

using testing::GreyImage;
using testing::level_range;

// An edge image of h rows, each showing the two outline edges of an object of
// width(y) (0: none) centred at column 30 of 60.
GreyImage outline(int h, const std::function<int(int)>& width) {
    GreyImage g(60, h, 0);
    for (int y = 0; y < h; ++y)
        if (const int w = width(y); w > 0) g.at(30 - w / 2, y) = g.at(30 - w / 2 + w, y) = 200;
    return g;
}

TEST(ByteCounts, OrderStatisticsEqualThoseOfTheSortedBytes) {
    std::mt19937 rng(5);
    for (int n : {1, 7, 768, 5000}) {
        std::vector<unsigned char> bytes(n);
        const int spread = n % 2 ? 256 : 12;  // wide and heavily tied sets
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(100 + rng() % spread);
        ByteCounts counts;
        count_bytes(bytes, counts);
        std::vector<unsigned char> sorted = bytes;
        heap_sort_uc(sorted.size(), sorted);
        long low = 0, high = 0;
        for (int k = 0; k < n; ++k) {
            ASSERT_EQ(kth_smallest_byte(counts, k), sorted[k]) << n << " " << k;
            low += sorted[k];
            high += sorted[n - 1 - k];
            ASSERT_EQ(sum_of_smallest_bytes(counts, k + 1), low);
            ASSERT_EQ(sum_of_largest_bytes(counts, k + 1), high);
        }
    }
}

constexpr int kAny = -99;  // length not examined

TEST(DetectPin, VerticalBandAndWhatIsNotAPin) {
    struct Case {
        const char* what;
        GreyImage edges;
        int sub_samp, pos, len;
    };
    const Case cases[] = {
        // Width 5 in rows 0..9, 19 from row 10 to the bottom (80 % of rows).
        {"band below a narrow top", outline(50, [](int y) { return y < 10 ? 5 : 19; }), 3, 30, 120},
        {"band from the top", outline(50, [](int) { return 19; }), 4, 0, 200},
        // The common width covers only 60 % of the rows: not more than 0.6 H.
        {"short band", outline(50, [](int y) { return y < 20 ? 5 + (y % 3) * 10 : 19; }), 3, -1,
         kAny},
        {"wide top", outline(50, [](int y) { return y < 3 ? 40 : 19; }), 3, -1, kAny},
        // The band does not reach the bottom: 40 / 4 < 50 - 39, no length.
        {"band above the bottom", outline(50, [](int y) { return y < 40 ? 19 : 40; }), 3, 0, 0},
        {"empty rows", outline(50, [](int) { return 0; }), 3, -1, 0},
        {"one row", outline(1, [](int) { return 19; }), 2, 0, kAny},
    };
    for (const Case& c : cases) {
        int pos = -9, len = -9;
        EXPECT_EQ(detect_pin(c.edges.pix, c.edges.im, c.sub_samp, pos, len, nullptr), 0);
        EXPECT_EQ(pos, c.pos) << c.what;
        if (c.len != kAny) {
            EXPECT_EQ(len, c.len) << c.what;
        }
    }
}

struct Removal {
    ByteBuffer img1, img2;
    int remove_flag = -1;
};

Removal remove_from(const GreyImage& c, const int* roi, int sub_samp, int pin_len) {
    Removal r{ByteBuffer(c.pix.size()), ByteBuffer(c.pix.size())};
    EXPECT_EQ(remove_pin(c.pix, r.img1, r.img2, c.w(), c.h(), roi, sub_samp, 0, r.remove_flag,
                         pin_len, nullptr),
              0);
    return r;
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
    EXPECT_EQ(level_range(r.img1, 60, 38).first, 200);
    EXPECT_EQ(level_range(r.img2, 60, 38).first, 200);
    EXPECT_EQ(r.img1[22 * 60 + 29], 60);
    EXPECT_EQ(r.img2[22 * 60 + 29], 60);

    // The driver passes the compensated image as its own second copy.
    ByteBuffer same = c.pix, img1(c.pix.size());
    int flag = 0;
    ASSERT_EQ(remove_pin(same, img1, same, 60, 80, roi, 1, 0, flag, 40, nullptr), 0);
    EXPECT_EQ(level_range(same, 60, 38).first, 200);
    EXPECT_EQ(img1, r.img1);
}

TEST(RemovePin, DarkImagesAndNothingToRemove) {
    // Dark image (mean below 100), bright pin from row 50 down, found by its
    // rows alone.
    GreyImage c(60, 80, 20);
    c.rect(25, 50, 34, 79, 230);
    const int roi[4] = {24, 35, 10, 79};
    const Removal r = remove_from(c, roi, 1, 0);
    EXPECT_EQ(r.remove_flag, 1);
    EXPECT_EQ(level_range(r.img1, 60, 48).second, 20);

    // Unusual rows up to the top quarter: nothing removed.
    GreyImage tall(60, 80, 200);
    tall.rect(25, 5, 34, 79, 30);
    const int troi[4] = {24, 35, 4, 79};
    const Removal t = remove_from(tall, troi, 1, 50);
    EXPECT_EQ(t.remove_flag, 0);
    EXPECT_EQ(t.img1, tall.pix);

    // A uniform image comes back unchanged.
    const GreyImage flat(60, 80, 120);
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
