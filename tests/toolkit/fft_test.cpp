// Fast Fourier transforms bit for bit against the plain radix-2 transform
// they optimise, line-wise against one line at a time, and the real transform
// against a direct one in extended precision.
#include "toolkit/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

namespace orva {
namespace {

std::vector<double> random_values(int n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> v(n);
    for (double& x : v) x = dist(gen);
    return v;
}

// The real layout: R(0), R(n/2), then R(k), I(k) for 0 < k < n/2; summed in
// extended precision.
std::vector<double> direct_real_dft(const std::vector<double>& a) {
    const int n = static_cast<int>(a.size());
    std::vector<double> out(n);
    for (int k = 0; k <= n / 2; k++) {
        long double re = 0, im = 0;
        for (int j = 0; j < n; j++) {
            const long double angle = 2.0L * std::numbers::pi_v<long double> * (j * k % n) / n;
            re += a[j] * std::cos(angle);
            im += a[j] * std::sin(angle);
        }
        if (k == 0 || k == n / 2) {
            out[k == 0 ? 0 : 1] = static_cast<double>(re);
        } else {
            out[2 * k] = static_cast<double>(re);
            out[2 * k + 1] = static_cast<double>(im);
        }
    }
    return out;
}

double max_diff(const std::vector<double>& a, const std::vector<double>& b) {
    double worst = 0.0;
    for (std::size_t i = 0; i < a.size(); i++) worst = std::max(worst, std::fabs(a[i] - b[i]));
    return worst;
}

// The radix-2 transform with its tables rebuilt on every call: the same
// twiddle values, bit reversal and butterflies, written out plainly.
void plain_radix2(int nc, int sign, std::vector<double>& a) {
    if (nc < 2) return;
    for (int i = 0, j = 0; i < nc; i++) {
        if (i < j) {
            std::swap(a[2 * i], a[2 * j]);
            std::swap(a[2 * i + 1], a[2 * j + 1]);
        }
        int bit = nc >> 1;
        while (bit >= 1 && (j & bit)) {
            j ^= bit;
            bit >>= 1;
        }
        j |= bit;
    }
    const int quarter = nc / 4;
    auto cos_k = [nc](int k) { return std::cos(2.0 * std::numbers::pi * k / nc); };
    auto sin_k = [nc](int k) { return std::sin(2.0 * std::numbers::pi * k / nc); };
    for (int len = 2; len <= nc; len <<= 1) {
        const int half = len / 2;
        for (int start = 0; start < nc; start += len)
            for (int k = 0; k < half; k++) {
                const int t = k * (nc / len);
                double wr = 1.0, wi = 0.0;
                if (t > 0 && t < quarter) {
                    wr = cos_k(t);
                    wi = sin_k(t);
                } else if (t >= quarter && t > 0) {
                    wr = -sin_k(t - quarter);
                    wi = cos_k(t - quarter);
                }
                if (sign < 0) wi = -wi;
                double* u = a.data() + 2 * (start + k);
                double* v = u + 2 * half;
                const double vr = v[0] * wr - v[1] * wi;
                const double vi = v[0] * wi + v[1] * wr;
                v[0] = u[0] - vr;
                v[1] = u[1] - vi;
                u[0] += vr;
                u[1] += vi;
            }
    }
}

TEST(Cdft, BitIdenticalToThePlainRadix2TransformAcrossRepeatedLengths) {
    // Lengths in mixed order and repeated, both signs, with and without a
    // kept work area: every result must equal the plain transform bit for bit.
    const std::vector<int> lengths = {64, 2, 4, 512, 8, 64, 4096, 16, 512, 128, 2, 64, 32};
    std::vector<int> ip(2, 0);
    std::vector<double> w(1024, 0.0);
    unsigned seed = 1;
    for (int n : lengths) {
        for (int isgn : {1, -1}) {
            std::vector<double> a = random_values(n, seed++);
            std::vector<double> want = a;
            plain_radix2(n / 2, isgn, want);
            std::vector<double> kept = a;
            cdft(n, isgn, kept, ip, w);
            std::vector<int> no_ip;
            std::vector<double> no_w;
            cdft(n, isgn, a, no_ip, no_w);
            for (int i = 0; i < n; i++) {
                ASSERT_EQ(std::memcmp(&a[i], &want[i], sizeof(double)), 0) << n << " " << i;
                ASSERT_EQ(std::memcmp(&kept[i], &want[i], sizeof(double)), 0) << n << " " << i;
            }
        }
    }
}

TEST(CdftLines, EachLineBitIdenticalToItsOwnCdft) {
    // Line counts that do and do not fill vector registers, every sign, and
    // lengths cdft leaves alone (not a power of two, too short a span).
    unsigned seed = 100;
    for (int n : {2, 4, 8, 64, 1024}) {
        for (int count : {1, 3, 8, 13}) {
            for (int isgn : {1, -1}) {
                const std::size_t pairs = static_cast<std::size_t>(n / 2);
                std::vector<double> re(pairs * count), im(pairs * count);
                std::vector<std::vector<double>> lines(count);
                for (int b = 0; b < count; b++) {
                    lines[b] = random_values(n, seed++);
                    for (std::size_t j = 0; j < pairs; j++) {
                        re[j * count + b] = lines[b][2 * j];
                        im[j * count + b] = lines[b][2 * j + 1];
                    }
                    std::vector<int> ip(2, 0);
                    std::vector<double> w(n, 0.0);
                    cdft(n, isgn, lines[b], ip, w);
                }
                cdft_lines(n, isgn, re, im, count);
                for (int b = 0; b < count; b++)
                    for (std::size_t j = 0; j < pairs; j++) {
                        ASSERT_EQ(std::memcmp(&re[j * count + b], &lines[b][2 * j], 8), 0)
                            << n << " " << count << " " << b << " " << j;
                        ASSERT_EQ(std::memcmp(&im[j * count + b], &lines[b][2 * j + 1], 8), 0)
                            << n << " " << count << " " << b << " " << j;
                    }
            }
        }
    }
    std::vector<double> re = random_values(12, 7), im = random_values(12, 8);
    const std::vector<double> re0 = re, im0 = im;
    cdft_lines(12, 1, re, im, 2);  // 6 pairs: not a power of two
    cdft_lines(16, 1, re, im, 2);  // needs 16 values per plane
    EXPECT_EQ(re, re0);
    EXPECT_EQ(im, im0);
}

TEST(CdftLines, RealLinesNeedNoClearedImaginaryParts) {
    // Imaginary parts left as garbage give the values of cleared ones.
    unsigned seed = 300;
    for (int n : {2, 4, 8, 64, 512})
        for (int isgn : {1, -1}) {
            const int count = 5;
            const std::size_t values = static_cast<std::size_t>(n / 2) * count;
            std::vector<double> re = random_values(static_cast<int>(values), seed++);
            std::vector<double> im = random_values(static_cast<int>(values), seed++);
            std::vector<double> re_cleared = re, im_cleared(values, 0.0);
            cdft_lines_reversed_real(n, isgn, re, im, count);
            cdft_lines_reversed(n, isgn, re_cleared, im_cleared, count);
            ASSERT_EQ(std::memcmp(re.data(), re_cleared.data(), values * sizeof(double)), 0) << n;
            ASSERT_EQ(std::memcmp(im.data(), im_cleared.data(), values * sizeof(double)), 0) << n;
        }
}

TEST(Rdft, MatchesTheDirectTransformWithSharedOrNoTables) {
    // One ip/w pair shared by cdft and rdft of different lengths, and no work
    // area at all: always the direct result; the inverse scales by n / 2.
    std::vector<int> ip(2, 0);
    std::vector<double> w(1024, 0.0);
    for (int n : {256, 2, 64, 1024, 4, 256}) {
        const std::vector<double> input = random_values(n, n);
        std::vector<double> a = input, other = random_values(2 * n, 1);
        cdft(2 * n, 1, other, ip, w);
        rdft(n, 1, a, ip, w);
        EXPECT_LT(max_diff(a, direct_real_dft(input)), 1e-14 * n + 1e-14) << n;
        rdft(n, -1, a, n == 1024 ? std::span<int>{} : std::span<int>(ip), w);
        for (int i = 0; i < n; i++) ASSERT_NEAR(a[i], input[i] * (n / 2), 1e-13 * n) << n;
    }
    EXPECT_GT(ip[0], 0);

    // Lengths that are no power of two, or longer than the data, change nothing.
    const std::vector<double> input = random_values(12, 3);
    std::vector<double> a = input;
    cdft(12, 1, a, ip, w);
    rdft(12, 1, a, ip, w);
    rdft(0, 1, a, ip, w);
    cdft(16, 1, a, ip, w);
    EXPECT_EQ(a, input);
}

}  // namespace
}  // namespace orva
