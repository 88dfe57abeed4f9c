// Power-of-two FFTs: an iterative radix-2 decimation-in-time transform on
// complex pairs, and the real transform computed as a half-length complex
// transform of the even/odd samples followed by the split into the spectrum
// of the real sequence. Layout, signs and scaling are described in fft.h.
//
// The twiddle tables are kept in the caller's work area w (ip records what is
// there); building them copies from a per-length cache, so callers that reset
// ip[0] on every call do not pay for the trigonometry again. The butterflies
// read their per-stage twiddles, and the bit reversal its swaps, from caches
// of their own built from the same per-length table, once per length.
#include "toolkit/fft.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <unordered_map>
#include <utility>
#include <vector>

#include "toolkit/vector_clones.h"

namespace orva {
namespace {

bool is_power_of_two(int n) {
    return n >= 1 && (n & (n - 1)) == 0;
}

// cos and sin of 2 pi k / nc for k < nc/4, cosines first.
const std::vector<double>& complex_twiddles(int nc) {
    thread_local std::unordered_map<int, std::vector<double>> cache;
    auto [it, fresh] = cache.try_emplace(nc);
    if (fresh) {
        const int quarter = nc / 4;
        it->second.resize(2 * static_cast<std::size_t>(quarter));
        for (int k = 0; k < quarter; k++) {
            const double angle = 2.0 * std::numbers::pi * k / nc;
            it->second[k] = std::cos(angle);
            it->second[quarter + k] = std::sin(angle);
        }
    }
    return it->second;
}

// cos of 2 pi k / n for k < n/4 (the real transform's split).
const std::vector<double>& real_cosines(int n) {
    thread_local std::unordered_map<int, std::vector<double>> cache;
    auto [it, fresh] = cache.try_emplace(n);
    if (fresh) {
        const int quarter = n / 4;
        it->second.resize(static_cast<std::size_t>(quarter));
        for (int k = 0; k < quarter; k++) it->second[k] = std::cos(2.0 * std::numbers::pi * k / n);
    }
    return it->second;
}

// Where the tables of one call are read from.
struct Tables {
    const double* twiddle = nullptr;  // complex twiddles, cosines then sines
    const double* cosine = nullptr;   // real-split cosines
};

// Makes sure w holds the complex table of nc points (and, with real_n > 0, the
// cosines of the real transform of length real_n behind it); falls back to
// the cache when the work area is too small.
Tables prepare_tables(int nc, int real_n, std::span<int> ip, std::span<double> w) {
    const std::vector<double>& twiddle = complex_twiddles(nc);
    const std::vector<double>* cosine = real_n > 0 ? &real_cosines(real_n) : nullptr;
    const std::size_t need = twiddle.size() + (cosine ? cosine->size() : 0);
    if (ip.size() < 2 || w.size() < need) {
        return {twiddle.data(), cosine ? cosine->data() : nullptr};
    }
    const int twiddle_size = static_cast<int>(twiddle.size());
    if (ip[0] == 0 || ip[0] != twiddle_size) {
        std::copy(twiddle.begin(), twiddle.end(), w.begin());
        ip[0] = twiddle_size;
        ip[1] = 0;  // a longer complex table may have overwritten the cosines
    }
    if (cosine && ip[1] != static_cast<int>(cosine->size())) {
        std::copy(cosine->begin(), cosine->end(), w.begin() + twiddle_size);
        ip[1] = static_cast<int>(cosine->size());
    }
    return {w.data(), cosine ? w.data() + twiddle_size : nullptr};
}

// The swaps that put nc complex pairs into bit-reversed index order: each
// index pairs with its reverse once, so the order of the swaps is free.
const std::vector<std::pair<int, int>>& bit_reverse_swaps(int nc) {
    thread_local std::unordered_map<int, std::vector<std::pair<int, int>>> cache;
    auto [it, fresh] = cache.try_emplace(nc);
    if (fresh) {
        for (int i = 0, j = 0; i < nc; i++) {
            if (i < j) it->second.emplace_back(i, j);
            int bit = nc >> 1;
            while (bit >= 1 && (j & bit)) {
                j ^= bit;
                bit >>= 1;
            }
            j |= bit;
        }
    }
    return it->second;
}

void bit_reverse(int nc, double* a) {
    for (const auto& [i, j] : bit_reverse_swaps(nc)) {
        std::swap(a[2 * i], a[2 * j]);
        std::swap(a[2 * i + 1], a[2 * j + 1]);
    }
}

// exp(i 2 pi t / nc) for 0 <= t < nc/2: the first quadrant from the table,
// the second as (-sin, cos) of t - nc/4.
void unit_root(int nc, int t, const double* twiddle, double& wr, double& wi) {
    const int quarter = nc / 4;
    if (t == 0) {
        wr = 1.0;
        wi = 0.0;
    } else if (t < quarter) {
        wr = twiddle[t];
        wi = twiddle[quarter + t];
    } else {
        const int tq = t - quarter;
        wr = -twiddle[quarter + tq];
        wi = twiddle[tq];
    }
}

// The twiddles of every stage of a transform of nc pairs with the given sign,
// side by side as (re, im): the stage of half-length h starts at pair h - 1.
const std::vector<double>& stage_twiddles(int nc, int sign) {
    thread_local std::unordered_map<int, std::vector<double>> cache;
    auto [it, fresh] = cache.try_emplace(sign < 0 ? -nc : nc);
    if (fresh) {
        const double* twiddle = complex_twiddles(nc).data();
        std::vector<double>& stage = it->second;
        stage.resize(2 * static_cast<std::size_t>(nc));
        for (int len = 2; len <= nc; len <<= 1) {
            const int half = len / 2;
            const int stride = nc / len;
            double* w = stage.data() + 2 * (half - 1);
            for (int k = 0; k < half; k++) {
                unit_root(nc, k * stride, twiddle, w[2 * k], w[2 * k + 1]);
                if (sign < 0) w[2 * k + 1] = -w[2 * k + 1];
            }
        }
    }
    return it->second;
}

// In-place transform of nc complex pairs with exp(sign * 2 pi i j k / nc).
void complex_fft(int nc, int sign, double* a) {
    if (nc < 2) return;
    bit_reverse(nc, a);
    const double* stages = stage_twiddles(nc, sign).data();
    for (int len = 2; len <= nc; len <<= 1) {
        const int half = len / 2;
        const double* stage = stages + 2 * (half - 1);
        for (int start = 0; start < nc; start += len) {
            double* u = a + 2 * start;
            double* v = u + 2 * half;
            for (int k = 0; k < half; k++) {
                const double wr = stage[2 * k], wi = stage[2 * k + 1];
                const double vr = v[2 * k] * wr - v[2 * k + 1] * wi;
                const double vi = v[2 * k] * wi + v[2 * k + 1] * wr;
                v[2 * k] = u[2 * k] - vr;
                v[2 * k + 1] = u[2 * k + 1] - vi;
                u[2 * k] += vr;
                u[2 * k + 1] += vi;
            }
        }
    }
}

// One butterfly on `count` lines: u and v are pairs of every line, as planes.
void butterfly_lines(double* __restrict ur, double* __restrict ui, double* __restrict vr_,
                     double* __restrict vi_, double wr, double wi, int count) {
    for (int b = 0; b < count; b++) {
        const double vr = vr_[b] * wr - vi_[b] * wi;
        const double vi = vr_[b] * wi + vi_[b] * wr;
        vr_[b] = ur[b] - vr;
        vi_[b] = ui[b] - vi;
        ur[b] += vr;
        ui[b] += vi;
    }
}

// w v as butterfly_lines computes it, then (u, v) = (u + w v, u - w v).
inline void butterfly(double& ur, double& ui, double& vr, double& vi, double wr, double wi) {
    const double tr = vr * wr - vi * wi;
    const double ti = vr * wi + vi * wr;
    vr = ur - tr;
    vi = ui - ti;
    ur += tr;
    ui += ti;
}

// Two stages in one sweep over four points p0..p3 (h apart) of `count` lines:
// the stage of half-length h on (p0, p1) and (p2, p3) with factor a, then the
// stage of half-length 2h on (p0, p2) with factor b and (p1, p3) with factor c.
// Every value goes through the operations of the two stages in their order;
// it only stays in registers between them. With `real` the points' imaginary
// parts are +0: they start as that constant instead of being read.
template <bool real>
[[gnu::always_inline]] inline void butterfly_pair_lines(
    double* __restrict r0, double* __restrict i0, double* __restrict r1, double* __restrict i1,
    double* __restrict r2, double* __restrict i2, double* __restrict r3, double* __restrict i3,
    const double* a, const double* b, const double* c, int count) {
    for (int k = 0; k < count; k++) {
        double xr0 = r0[k], xi0 = real ? 0.0 : i0[k], xr1 = r1[k], xi1 = real ? 0.0 : i1[k];
        double xr2 = r2[k], xi2 = real ? 0.0 : i2[k], xr3 = r3[k], xi3 = real ? 0.0 : i3[k];
        butterfly(xr0, xi0, xr1, xi1, a[0], a[1]);
        butterfly(xr2, xi2, xr3, xi3, a[0], a[1]);
        butterfly(xr0, xi0, xr2, xi2, b[0], b[1]);
        butterfly(xr1, xi1, xr3, xi3, c[0], c[1]);
        r0[k] = xr0, i0[k] = xi0, r1[k] = xr1, i1[k] = xi1;
        r2[k] = xr2, i2[k] = xi2, r3[k] = xr3, i3[k] = xi3;
    }
}

// The butterflies of fft_planes; kept apart from the wrappers so that only
// the loops are compiled twice. Stages run in pairs while two are left (the
// butterflies of one stage touch disjoint points, so their order is free).
ORVA_VECTOR_CLONES
void planes_fft(int nc, const double* stages, double* re, double* im, int count, std::size_t stride,
                bool reversed = false, bool real = false) {
    const std::size_t c = static_cast<std::size_t>(count);
    if (!reversed)
        for (const auto& [i, j] : bit_reverse_swaps(nc)) {
            std::swap_ranges(re + i * stride, re + i * stride + c, re + j * stride);
            std::swap_ranges(im + i * stride, im + i * stride + c, im + j * stride);
        }
    int len = 2;
    if (real && 2 * len <= nc) {
        // Real points get their imaginary parts in the first pair of stages,
        // which the loop below would run with these same factors.
        const std::size_t h = stride;
        for (int start = 0; start < nc; start += 4) {
            const std::size_t p0 = static_cast<std::size_t>(start) * stride;
            butterfly_pair_lines<true>(re + p0, im + p0, re + p0 + h, im + p0 + h, re + p0 + 2 * h,
                                       im + p0 + 2 * h, re + p0 + 3 * h, im + p0 + 3 * h, stages,
                                       stages + 2, stages + 4, count);
        }
        len <<= 2;
    }
    for (; 2 * len <= nc; len <<= 2) {
        const int half = len / 2;
        const double* first = stages + 2 * (half - 1);
        const double* second = stages + 2 * (len - 1);
        for (int start = 0; start < nc; start += 2 * len)
            for (int k = 0; k < half; k++) {
                const std::size_t p0 = static_cast<std::size_t>(start + k) * stride;
                const std::size_t h = static_cast<std::size_t>(half) * stride;
                butterfly_pair_lines<false>(re + p0, im + p0, re + p0 + h, im + p0 + h,
                                            re + p0 + 2 * h, im + p0 + 2 * h, re + p0 + 3 * h,
                                            im + p0 + 3 * h, first + 2 * k, second + 2 * k,
                                            second + 2 * (k + half), count);
            }
    }
    if (len <= nc) {
        const int half = len / 2;
        const double* stage = stages + 2 * (half - 1);
        for (int start = 0; start < nc; start += len)
            for (int k = 0; k < half; k++) {
                const std::size_t u = static_cast<std::size_t>(start + k) * stride;
                const std::size_t v = u + static_cast<std::size_t>(half) * stride;
                butterfly_lines(re + u, im + u, re + v, im + v, stage[2 * k], stage[2 * k + 1],
                                count);
            }
    }
}

// cos and sin of 2 pi k / n for 0 < k <= n/4.
void real_twiddle(int n, int k, const double* cosine, double& c, double& s) {
    const int quarter = n / 4;
    c = k < quarter ? cosine[k] : 0.0;
    s = cosine[quarter - k];
}

// Spectrum of the real sequence from the transform Z of its even/odd pairs.
void split_forward(int n, double* a, const double* cosine) {
    const int nc = n / 2;
    const double z0r = a[0], z0i = a[1];
    a[0] = z0r + z0i;
    a[1] = z0r - z0i;
    for (int k = 1; k <= nc / 2; k++) {
        const int j = nc - k;
        const double zkr = a[2 * k], zki = a[2 * k + 1];
        const double zjr = a[2 * j], zji = a[2 * j + 1];
        // E = (Zk + conj Zj) / 2, O = (Zk - conj Zj) / 2i.
        const double er = 0.5 * (zkr + zjr), ei = 0.5 * (zki - zji);
        const double or_ = 0.5 * (zki + zji), oi = -0.5 * (zkr - zjr);
        double c, s;
        real_twiddle(n, k, cosine, c, s);
        // T = W O with W = exp(2 pi i k / n); Xk = E + T, Xj = conj(E - T).
        const double tr = c * or_ - s * oi, ti = c * oi + s * or_;
        a[2 * j] = er - tr;
        a[2 * j + 1] = -(ei - ti);
        a[2 * k] = er + tr;
        a[2 * k + 1] = ei + ti;
    }
}

// Inverse of split_forward: the transform Z of the even/odd pairs from the
// real spectrum.
void split_backward(int n, double* a, const double* cosine) {
    const int nc = n / 2;
    const double r0 = a[0], rhalf = a[1];
    a[0] = 0.5 * (r0 + rhalf);
    a[1] = 0.5 * (r0 - rhalf);
    for (int k = 1; k <= nc / 2; k++) {
        const int j = nc - k;
        const double xkr = a[2 * k], xki = a[2 * k + 1];
        const double xjr = a[2 * j], xji = a[2 * j + 1];
        // E = (Xk + conj Xj) / 2, D = (Xk - conj Xj) / 2, O = D conj(W).
        const double er = 0.5 * (xkr + xjr), ei = 0.5 * (xki - xji);
        const double dr = 0.5 * (xkr - xjr), di = 0.5 * (xki + xji);
        double c, s;
        real_twiddle(n, k, cosine, c, s);
        const double or_ = dr * c + di * s, oi = di * c - dr * s;
        // Zk = E + i O, Zj = conj(E) + i conj(O).
        a[2 * j] = er + oi;
        a[2 * j + 1] = -ei + or_;
        a[2 * k] = er - oi;
        a[2 * k + 1] = ei + or_;
    }
}

}  // namespace

void cdft(int n, int isgn, std::span<double> a, std::span<int> ip, std::span<double> w) {
    if (n < 2 || !is_power_of_two(n) || a.size() < static_cast<std::size_t>(n)) return;
    const int nc = n / 2;
    prepare_tables(nc, 0, ip, w);
    complex_fft(nc, isgn >= 0 ? 1 : -1, a.data());
}

namespace {

void lines_fft(int n, int isgn, std::span<double> re, std::span<double> im, int count,
               bool reversed, bool real = false) {
    if (n < 2 || !is_power_of_two(n) || count < 1) return;
    const std::size_t values = static_cast<std::size_t>(n / 2) * static_cast<std::size_t>(count);
    if (re.size() < values || im.size() < values) return;
    const int nc = n / 2;
    // Without a first pair of stages the imaginary parts are cleared for real.
    if (real && nc < 4) std::fill_n(im.begin(), values, 0.0);
    if (nc < 2) return;
    planes_fft(nc, stage_twiddles(nc, isgn >= 0 ? 1 : -1).data(), re.data(), im.data(), count,
               static_cast<std::size_t>(count), reversed, real && nc >= 4);
}

}  // namespace

void cdft_lines(int n, int isgn, std::span<double> re, std::span<double> im, int count) {
    lines_fft(n, isgn, re, im, count, false);
}

void cdft_lines_reversed(int n, int isgn, std::span<double> re, std::span<double> im, int count) {
    lines_fft(n, isgn, re, im, count, true);
}

void cdft_lines_reversed_real(int n, int isgn, std::span<double> re, std::span<double> im,
                              int count) {
    lines_fft(n, isgn, re, im, count, true, true);
}

const std::vector<int>& bit_reversed_order(int nc) {
    thread_local std::unordered_map<int, std::vector<int>> cache;
    auto [it, fresh] = cache.try_emplace(nc);
    if (fresh) {
        std::vector<int>& order = it->second;
        order.resize(static_cast<std::size_t>(std::max(nc, 0)));
        for (int i = 0; i < nc; ++i) order[static_cast<std::size_t>(i)] = i;
        for (const auto& [i, j] : bit_reverse_swaps(nc))
            std::swap(order[static_cast<std::size_t>(i)], order[static_cast<std::size_t>(j)]);
    }
    return it->second;
}

void fft_planes(int nc, std::span<const double> stage_twiddles, double* re, double* im, int count,
                std::size_t stride) {
    if (nc < 2 || !is_power_of_two(nc) || count < 1 || stride < static_cast<std::size_t>(count) ||
        stage_twiddles.size() < 2 * static_cast<std::size_t>(nc - 1))
        return;
    planes_fft(nc, stage_twiddles.data(), re, im, count, stride);
}

int report_fft_no_work(const char* name) {
    std::fprintf(stderr, "\n%s: could not allocate arrays", name);
    errno = ENOMEM;
    std::perror(":");
    return FFT_NO_WORK;
}

void rdft(int n, int isgn, std::span<double> a, std::span<int> ip, std::span<double> w) {
    if (n < 2 || !is_power_of_two(n) || a.size() < static_cast<std::size_t>(n)) return;
    const int nc = n / 2;
    const Tables tables = prepare_tables(nc, n, ip, w);
    if (isgn >= 0) {
        complex_fft(nc, 1, a.data());
        split_forward(n, a.data(), tables.cosine);
    } else {
        split_backward(n, a.data(), tables.cosine);
        complex_fft(nc, -1, a.data());
    }
}

}  // namespace orva
