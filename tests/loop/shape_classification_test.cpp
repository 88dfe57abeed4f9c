// Outline tracing, outlier rows, descriptors and prototype matching.
#include "loop/shape_classification.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "support/images.h"

namespace orva {
namespace {

using test::geometry;

// A record sized as the loop extraction sizes it, with stale values set.
SHAPE_PARAMS sized_record(const IMAGE& im) {
    SHAPE_PARAMS s;
    for (auto* v : {&s.x_coord_left, &s.y_coord_left, &s.x_coord_right, &s.y_coord_right})
        v->assign(im.height, 0);
    for (auto* v : {&s.x_coord_top, &s.y_coord_top, &s.x_coord_bottom, &s.y_coord_bottom})
        v->assign(im.width, 0);
    s.classif = 3;
    s.type = P100;
    return s;
}

struct Mask {
    IMAGE im;
    std::vector<unsigned char> pix;
    Mask(unsigned int w, unsigned int h) : im(geometry(w, h)), pix(w * h, 0) {}
    void set(int x, int y) { pix[y * im.width + x] = 1; }
    void rect(int x0, int y0, int x1, int y1) {  // inclusive
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) set(x, y);
    }
    void disc(int cx, int cy, int r) {
        for (int y = cy - r; y <= cy + r; ++y)
            for (int x = cx - r; x <= cx + r; ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) set(x, y);
    }
};

SHAPE_PARAMS classify(const Mask& m) {
    SHAPE_PARAMS s = sized_record(m.im);
    EXPECT_EQ(shape_classifier(m.im, m.pix, 0, s), 0);
    return s;
}

// type, class and the outline counts: left, right, top, bottom.
std::array<unsigned int, 6> figures(const SHAPE_PARAMS& s) {
    return {static_cast<unsigned int>(s.type),
            static_cast<unsigned int>(s.classif),
            s.num_coord_left,
            s.num_coord_right,
            s.num_coord_top,
            s.num_coord_bottom};
}

TEST(ShapeClassifier, SmallOrThinObjectsAreNoObject) {
    // 10 x 10 square: 10 rows but only 36 outline points.
    Mask square(40, 40);
    square.rect(10, 10, 19, 19);
    EXPECT_EQ(figures(classify(square)),
              (std::array<unsigned int, 6>{NO_OBJECT, 50, 10, 10, 8, 8}));
    // Two wide rows: too few rows whatever the outline length.
    Mask two_rows(200, 20);
    two_rows.rect(5, 5, 190, 6);
    const SHAPE_PARAMS s = classify(two_rows);
    EXPECT_EQ((std::array{s.type, s.classif, int(s.num_coord_left)}), (std::array{0, 50, 2}));
    // Object pixels only on the outermost rows and columns are never traced.
    Mask frame(60, 60);
    for (int k = 0; k < 60; ++k)
        frame.set(k, 0), frame.set(k, 59), frame.set(0, k), frame.set(59, k);
    const std::array<unsigned int, 6> f = figures(classify(frame));
    EXPECT_EQ(f[0] + f[2], 0u);  // no object, nothing traced
}

TEST(ShapeClassifier, OutlineRunsAroundTheObjectInOrder) {
    Mask m(10, 8);
    m.rect(3, 2, 6, 4);
    m.set(0, 3);  // column 0 is not traced
    SHAPE_PARAMS s = classify(m);
    std::vector<int> x(36), y(36);
    unsigned int n = closed_outline(s, x, y);
    ASSERT_EQ(n, 10u);
    x.resize(n);
    y.resize(n);
    // Down the left flank, along the bottom, up the right flank, back along the top.
    EXPECT_EQ(x, (std::vector<int>{3, 3, 3, 4, 5, 6, 6, 6, 5, 4}));
    EXPECT_EQ(y, (std::vector<int>{2, 3, 4, 4, 4, 4, 3, 2, 2, 2}));
    // The stored runs are left to right.
    EXPECT_EQ(s.x_coord_top[0], 4u);
    EXPECT_EQ(s.x_coord_top[1], 5u);
    EXPECT_EQ(s.y_coord_bottom[0], 4u);
}

TEST(ShapeClassifier, FarRowsAreDroppedBeforeDescribing) {
    Mask disc(100, 130);
    disc.disc(50, 40, 30);
    Mask with_speck = disc;
    with_speck.rect(48, 110, 51, 113);  // a separate speck far below
    SHAPE_PARAMS plain = classify(disc);
    SHAPE_PARAMS cleaned = classify(with_speck);
    EXPECT_EQ(cleaned.num_coord_left, plain.num_coord_left);
    EXPECT_EQ(cleaned.y_coord_left[cleaned.num_coord_left - 1], 70u);
    EXPECT_EQ(cleaned.num_coord_bottom, plain.num_coord_bottom);
    EXPECT_EQ(cleaned.num_coord_total, plain.num_coord_total);
    EXPECT_EQ(plain.num_coord_total, plain.num_coord_left + plain.num_coord_right +
                                         plain.num_coord_top + plain.num_coord_bottom);
    EXPECT_EQ(cleaned.classif, plain.classif);
    EXPECT_EQ(cleaned.type, plain.type);
}

TEST(ShapeClassifier, RodAndDiscReachTheirPrototypes) {
    // Along a thin bar the squared radius is a parabola on each side, so the
    // second harmonic over the mean is 6/pi^2 (~0.61), the fourth a quarter of
    // that and the odd ones vanish: prototype 2 holds exactly that rod. Any
    // slip in the spectrum layout, the coefficient numbering or the scaling
    // lands elsewhere.
    Mask upright(200, 400);
    upright.rect(97, 40, 102, 339);
    SHAPE_PARAMS rod = classify(upright);
    EXPECT_EQ(rod.classif, 2);
    EXPECT_EQ(rod.type, P060);
    // Lying down the same bar is traced along its runs instead of its flanks.
    Mask lying(400, 200);
    lying.rect(40, 97, 339, 102);
    SHAPE_PARAMS lying_rod = classify(lying);
    EXPECT_EQ(lying_rod.num_coord_left, 6u);
    EXPECT_EQ(lying_rod.classif, 2);

    // A disc has a nearly constant squared radius: every magnitude is close to
    // zero, and the prototype nearest the origin is 19.
    Mask round(200, 400);
    round.disc(100, 200, 60);
    SHAPE_PARAMS disc = classify(round);
    EXPECT_EQ(disc.classif, 19);
    EXPECT_EQ(disc.type, P005);

    // An upright 2:1 ellipse sits half way: its second harmonic is about 0.3
    // of the mean, which still belongs to prototype 19 but not once doubled.
    Mask oval(200, 400);
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 200; ++x)
            if (4 * (x - 100) * (x - 100) + (y - 200) * (y - 200) <= 160 * 160) oval.set(x, y);
    SHAPE_PARAMS ellipse = classify(oval);
    EXPECT_EQ(ellipse.classif, 19);
}

TEST(ShapeClassifier, ClassDoesNotDependOnWhereTheOutlineStarts) {
    // A disc on a slanted stem that runs out at the bottom edge, drawn as it
    // is, upside down and mirrored: the outline starts at a different point
    // each time, which turns the phases of the Fourier coefficients but not
    // their magnitudes. (Real or imaginary parts alone would not agree here.)
    auto lollipop = [](bool flip, bool mirror) {
        Mask m(240, 320);
        for (int y = 0; y < 320; ++y)
            for (int x = 0; x < 240; ++x) {
                const int dx = x - 90;
                const int dy = y - 85;
                const bool head = dx * dx + dy * dy <= 70 * 70;
                const int axis = 90 + dy * 3 / 5;
                const bool stem = y > 85 && x >= axis - 8 && x < axis + 8;
                if (head || stem) m.set(mirror ? 239 - x : x, flip ? 319 - y : y);
            }
        return m;
    };
    const SHAPE_PARAMS upright = classify(lollipop(false, false));
    ASSERT_LT(upright.classif, NUM_PROTOTYPES);
    EXPECT_EQ(classify(lollipop(true, false)).classif, upright.classif);
    EXPECT_EQ(classify(lollipop(false, true)).classif, upright.classif);
    EXPECT_EQ(classify(lollipop(true, true)).classif, upright.classif);
}

TEST(NearestPrototype, StoredDescriptorsMatchTheirPrototype) {
    // Magnitudes that reproduce prototypes 0, 19 and 49 exactly.
    const std::array<double, 8> norm = {0.301157, 0.632538, 0.439925, 0.280553,
                                        0.215402, 0.199797, 0.155521, 0.136267};
    struct Known {
        int k;
        int type;
        std::array<double, 8> f;
    };
    const Known known[] = {
        {0,
         UNKNOWN,
         {0.3129488, 0.9047491, 0.2883967, 0.7045189, 0.3110963, 0.4042156, 0.2450394, 0.3113911}},
        {19,
         P005,
         {0.0566175, 0.2874915, 0.05621177, 0.2699822, 0.04930855, 0.2084101, 0.04318767,
          0.1324499}},
        {49,
         P020,
         {0.1503347, 0.2438008, 0.7159295, 0.1332037, 0.1498226, 0.2122233, 0.1246868, 0.2597154}},
    };
    for (const auto& e : known) {
        std::array<double, 8> mag{};
        for (int i = 0; i < 8; ++i) mag[i] = e.f[i] * norm[i];
        int classif = -1;
        EXPECT_EQ(nearest_prototype(mag, classif), e.type) << e.k;
        EXPECT_EQ(classif, e.k);
    }
    // Nothing within the start distance: unclassified.
    std::array<double, 8> far;
    far.fill(1e5);
    int classif = -1;
    EXPECT_EQ(nearest_prototype(far, classif), UNKNOWN);
    EXPECT_EQ(classif, 50);
}

}  // namespace
}  // namespace orva
