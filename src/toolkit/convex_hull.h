// Convex hull of a plane point set by an angular sweep (Graham scan), with
// orientation tests against the fixed tolerance EPSILON.
//
// Points are (x, y) doubles, p[X] and p[Y]. The hull starts at the pivot (the
// point with the smallest x, then the smallest y) and runs counter-clockwise
// (positive signed area); collinear points on an edge are dropped, and points
// all on one line give the pivot alone. Up to 3 input points are copied to the
// hull unchanged. The polygon's vertex array grows as needed, so hulls of more
// than MAXPOLY vertices are kept whole. convex_hull returns 0.
#pragma once

#include <span>
#include <vector>

namespace orva {

constexpr int DIMENSION = 2;
constexpr int X = 0;
constexpr int Y = 1;
constexpr int MAXPOLY = 200;  // initial vertex capacity of a polygon
constexpr double EPSILON = 0.000001;

struct point {
    double c[DIMENSION] = {0.0, 0.0};
    constexpr point() = default;
    constexpr point(double x, double y) : c{x, y} {}
    constexpr double& operator[](int i) { return c[i]; }
    constexpr const double& operator[](int i) const { return c[i]; }
};

struct polygon {
    int n = 0;             // vertex count
    std::vector<point> p;  // n vertices
};

struct line {
    double a = 0.0, b = 0.0, c = 0.0;  // a*x + b*y + c = 0
};

struct segment {
    point p1, p2;
};

// Reorders and de-duplicates in[0..n-1] in place (n limited to in.size()).
int convex_hull(std::span<point> in, int n, polygon& hull);

double signed_triangle_area(const point& a, const point& b, const point& c);
bool ccw(const point& a, const point& b, const point& c);
bool cw(const point& a, const point& b, const point& c);
bool collinear(const point& a, const point& b, const point& c);
double distance(const point& a, const point& b);

// Three-way comparators (-1, 0, 1) of the two sorts.
int leftlower(const point& p, const point& q);
int smaller_angle(const point& pivot, const point& p, const point& q);

// Sorts in[0..n-1] with leftlower and drops each point equal to the one kept
// before it; returns the new count.
int sort_and_remove_duplicates(std::span<point> in, int n);

}  // namespace orva
