// Convex hull by an angular sweep around the left-lower pivot (Graham scan).
//
// Orientation tests use the signed triangle area against EPSILON, so nearly
// collinear points count as collinear. The two sorts are merge sorts, which
// stay within the array even where the tolerance makes the angular order
// inconsistent. The sweep closes on a copy of the pivot held outside the
// input, so the caller's array needs only n entries.
#include "toolkit/convex_hull.h"

#include <algorithm>
#include <cmath>

namespace orva {
namespace {

// Stable top-down merge sort of v[lo, hi) by a three-way comparator.
template <class Compare>
void merge_sort(std::vector<point>& v, std::vector<point>& tmp, std::size_t lo, std::size_t hi,
                const Compare& cmp) {
    if (hi - lo < 2) return;
    const std::size_t mid = lo + (hi - lo) / 2;
    merge_sort(v, tmp, lo, mid, cmp);
    merge_sort(v, tmp, mid, hi, cmp);
    std::size_t a = lo, b = mid, k = lo;
    while (a < mid && b < hi) tmp[k++] = cmp(v[a], v[b]) <= 0 ? v[a++] : v[b++];
    while (a < mid) tmp[k++] = v[a++];
    while (b < hi) tmp[k++] = v[b++];
    std::copy(tmp.begin() + lo, tmp.begin() + hi, v.begin() + lo);
}

template <class Compare>
void sort_points(std::span<point> pts, const Compare& cmp) {
    std::vector<point> v(pts.begin(), pts.end());
    std::vector<point> tmp(v.size());
    merge_sort(v, tmp, 0, v.size(), cmp);
    std::copy(v.begin(), v.end(), pts.begin());
}

}  // namespace

double signed_triangle_area(const point& a, const point& b, const point& c) {
    return (a[X] * b[Y] - a[Y] * b[X] + a[Y] * c[X] - a[X] * c[Y] + b[X] * c[Y] - c[X] * b[Y]) /
           2.0;
}

bool ccw(const point& a, const point& b, const point& c) {
    return signed_triangle_area(a, b, c) > EPSILON;
}

bool cw(const point& a, const point& b, const point& c) {
    return signed_triangle_area(a, b, c) < -EPSILON;
}

bool collinear(const point& a, const point& b, const point& c) {
    return std::fabs(signed_triangle_area(a, b, c)) <= EPSILON;
}

double distance(const point& a, const point& b) {
    double d = 0.0;
    for (int i = 0; i < DIMENSION; ++i) d += (a[i] - b[i]) * (a[i] - b[i]);
    return std::sqrt(d);
}

int leftlower(const point& p, const point& q) {
    if (p[X] < q[X]) return -1;
    if (p[X] > q[X]) return 1;
    if (p[Y] < q[Y]) return -1;
    if (p[Y] > q[Y]) return 1;
    return 0;
}

int smaller_angle(const point& pivot, const point& p, const point& q) {
    // collinear, then ccw, on one evaluation of the area.
    const double area = signed_triangle_area(pivot, p, q);
    if (std::fabs(area) <= EPSILON) return distance(pivot, p) <= distance(pivot, q) ? -1 : 1;
    return area > EPSILON ? -1 : 1;
}

int sort_and_remove_duplicates(std::span<point> in, int n) {
    n = std::clamp<int>(n, 0, static_cast<int>(std::min<std::size_t>(in.size(), 1u << 30)));
    if (n == 0) return 0;
    sort_points(in.first(n), leftlower);
    int kept = 1;
    for (int i = 1; i < n; ++i)
        if (in[i][X] != in[kept - 1][X] || in[i][Y] != in[kept - 1][Y]) in[kept++] = in[i];
    return kept;
}

int convex_hull(std::span<point> in, int n, polygon& hull) {
    n = std::clamp<int>(n, 0, static_cast<int>(std::min<std::size_t>(in.size(), 1u << 30)));
    if (n <= 3) {
        hull.p.assign(in.begin(), in.begin() + n);
        hull.n = n;
        return 0;
    }

    n = sort_and_remove_duplicates(in, n);
    const point pivot = in[0];
    sort_points(in.subspan(1, n - 1),
                [&pivot](const point& p, const point& q) { return smaller_angle(pivot, p, q); });

    // Point i of the sweep; i = n is the closing copy of the pivot.
    auto sweep_point = [&](int i) { return i < n ? in[i] : pivot; };

    // The top index never exceeds n, so n + 1 vertices always suffice.
    hull.p.reserve(MAXPOLY);
    hull.p.assign(static_cast<std::size_t>(n) + 1, point{});
    hull.p[0] = pivot;
    if (n == 1) {
        hull.n = 1;
        hull.p.resize(1);
        return 0;
    }
    hull.p[1] = in[1];
    int top = 1;
    for (int i = 2; i <= n;) {
        const point next = sweep_point(i);
        if (cw(hull.p[top - 1], hull.p[top], next)) {
            if (top > 1) {
                --top;  // look at point i again
                continue;
            }
            // Only possible where the tolerance upset the angular order: the
            // pivot stays, and point i takes the place of the first vertex.
            hull.p[1] = next;
            ++i;
            continue;
        }
        if (!collinear(hull.p[top - 1], hull.p[top], next)) ++top;
        hull.p[top] = next;  // a collinear point replaces the top vertex
        ++i;
    }
    hull.n = top;
    hull.p.resize(static_cast<std::size_t>(top));
    return 0;
}

}  // namespace orva
