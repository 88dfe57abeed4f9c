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
#include <bit>
#include <cmath>
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
[[gnu::always_inline]] inline void butterfly_lines(double* __restrict ur, double* __restrict ui,
                                                   double* __restrict vr_, double* __restrict vi_,
                                                   double wr, double wi, int count) {
    for (int b = 0; b < count; b++) {
        const double vr = vr_[b] * wr - vi_[b] * wi;
        const double vi = vr_[b] * wi + vi_[b] * wr;
        vr_[b] = ur[b] - vr;
        vi_[b] = ui[b] - vi;
        ur[b] += vr;
        ui[b] += vi;
    }
}

// Two stages at once, half-lengths h and 2h, on the pairs p0 = base + k,
// p1 = p0 + h, p2 = p0 + 2h and p3 = p0 + 3h of every line: the butterflies
// (p0, p1) and (p2, p3) with w1, then (p0, p2) with w2 and (p1, p3) with w3.
// Every value goes through the same operations as in two separate stages;
// it is only loaded and stored once for both. Inlined, so that it is
// compiled with each instruction set of complex_fft_lines.
[[gnu::always_inline]] inline void butterfly_pairs_lines(
    double* __restrict r0, double* __restrict i0, double* __restrict r1, double* __restrict i1,
    double* __restrict r2, double* __restrict i2, double* __restrict r3, double* __restrict i3,
    const double* w, int count) {
    const double w1r = w[0], w1i = w[1], w2r = w[2], w2i = w[3], w3r = w[4], w3i = w[5];
    for (int b = 0; b < count; b++) {
        const double t1r = r1[b] * w1r - i1[b] * w1i;
        const double t1i = r1[b] * w1i + i1[b] * w1r;
        const double b1r = r0[b] - t1r, b1i = i0[b] - t1i;
        const double b0r = r0[b] + t1r, b0i = i0[b] + t1i;
        const double t3r = r3[b] * w1r - i3[b] * w1i;
        const double t3i = r3[b] * w1i + i3[b] * w1r;
        const double b3r = r2[b] - t3r, b3i = i2[b] - t3i;
        const double b2r = r2[b] + t3r, b2i = i2[b] + t3i;

        const double t2r = b2r * w2r - b2i * w2i;
        const double t2i = b2r * w2i + b2i * w2r;
        r2[b] = b0r - t2r;
        i2[b] = b0i - t2i;
        r0[b] = b0r + t2r;
        i0[b] = b0i + t2i;
        const double t4r = b3r * w3r - b3i * w3i;
        const double t4i = b3r * w3i + b3i * w3r;
        r3[b] = b1r - t4r;
        i3[b] = b1i - t4i;
        r1[b] = b1r + t4r;
        i1[b] = b1i + t4i;
    }
}

// complex_fft of `count` lines held as planes (pair j of line b at j * count + b).
// An odd number of stages starts with a single one; the rest go two by two.
ORVA_VECTOR_CLONES
void complex_fft_lines(int nc, int sign, double* re, double* im, int count) {
    if (nc < 2) return;
    const std::size_t c = static_cast<std::size_t>(count);
    for (const auto& [i, j] : bit_reverse_swaps(nc)) {
        std::swap_ranges(re + i * c, re + i * c + c, re + j * c);
        std::swap_ranges(im + i * c, im + i * c + c, im + j * c);
    }
    const double* stages = stage_twiddles(nc, sign).data();
    int half = 1;
    if (std::countr_zero(static_cast<unsigned>(nc)) % 2 == 1) {
        for (int start = 0; start < nc; start += 2)
            butterfly_lines(re + start * c, im + start * c, re + (start + 1) * c,
                            im + (start + 1) * c, stages[0], stages[1], count);
        half = 2;
    }
    for (; half < nc; half *= 4) {
        const double* first = stages + 2 * (half - 1);
        const double* second = stages + 2 * (2 * half - 1);
        for (int base = 0; base < nc; base += 4 * half)
            for (int k = 0; k < half; k++) {
                const double w[6] = {first[2 * k],           first[2 * k + 1],
                                     second[2 * k],          second[2 * k + 1],
                                     second[2 * (k + half)], second[2 * (k + half) + 1]};
                const std::size_t p0 = static_cast<std::size_t>(base + k) * c;
                const std::size_t h = static_cast<std::size_t>(half) * c;
                butterfly_pairs_lines(re + p0, im + p0, re + p0 + h, im + p0 + h, re + p0 + 2 * h,
                                      im + p0 + 2 * h, re + p0 + 3 * h, im + p0 + 3 * h, w, count);
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

void cdft_lines(int n, int isgn, std::span<double> re, std::span<double> im, int count) {
    if (n < 2 || !is_power_of_two(n) || count < 1) return;
    const std::size_t values = static_cast<std::size_t>(n / 2) * static_cast<std::size_t>(count);
    if (re.size() < values || im.size() < values) return;
    complex_fft_lines(n / 2, isgn >= 0 ? 1 : -1, re.data(), im.data(), count);
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
