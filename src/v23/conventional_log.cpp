// Run-log lines, warning blocks and the figures file "log_res2.txt" of the
// version-2.3 method.
//
// The figures file first lists, for every detector entry with a positive x
// and y observation, the residuals u = observed - fitted x (along the motion),
// w = u * sin(phi - phi0) (the share of u that a phase error would explain,
// across the radial direction), their length UW and v = observed y - mean y;
// then their mean squares and cross products, the correlation coefficients
// with their standard errors (1 - r^2) / sqrt(n - 1), and the one-row summary
// of the run. A file that cannot be created or written completely is reported
// with the reason and fails the run (LOG_FILE_ERROR, like the run log).
#include <cmath>
#include <cstdio>
#include <string>

#include "toolkit/safe_files.h"
#include "v23/conventional_run.h"

namespace orva::conventional {

namespace {

constexpr const char* FIGURES_FILE = "log_res2.txt";

// Mean squares and cross products of the residuals of all usable entries.
struct Moments {
    int num = 0;
    double uu = 0, ww = 0, vv = 0, UWUW = 0;
    double uw = 0, uv = 0, wv = 0, UWv = 0;
};

double correlation(double covar, double var_a, double var_b) {
    const double d = std::sqrt(var_a * var_b);
    return d > 0.0 ? covar / d : 0.0;
}

double correlation_error(double r, int num) {
    return num > 1 ? (1.0 - r * r) / std::sqrt(num - 1.0) : 0.0;
}

// Entry k of image i: its observed y.
double observed_y(const V23Detections& d, int i, int k) {
    switch (k) {
        case 0:
            return d.twodf_y[i];
        case 1:
            return d.telku0_y[i];
        case 2:
            return d.virpa_y[i];
        default:
            return d.dexla_y[i];
    }
}

Moments write_residuals(std::FILE* f, const V23Detections& d, const V23Fit& fit,
                        const V23Figures& fig) {
    static const char* const detector[V23_DETECTORS] = {"2df", "TELKU", "Virpa", "Dexla"};
    Moments m;
    std::fprintf(f,
                 "# residuals: u along the motion, w across it, UW their length, v along the axis");
    std::fprintf(f, "\n#  phi detector       u       w      UW       v");
    for (int i = 0; i < fig.num_images; ++i) {
        for (int k = 0; k < V23_DETECTORS; ++k) {
            const int e = V23_DETECTORS * i + k;
            const double y = observed_y(d, i, k);
            if (!(fit.ls_vals_obs[e] > 0.0) || !(y > 0.0)) continue;
            const double u = fit.ls_vals_obs[e] - fit.ls_vals_res[e];
            const double w = u * std::sin((d.phi[i] - fit.mp.phi0) * RADIAN);
            const double uw_len = std::sqrt(u * u + w * w);
            const double v = y - fig.mean_y;
            std::fprintf(f, "\n %5.1f %8s %7.2f %7.2f %7.2f %7.2f", d.phi[i], detector[k], u, w,
                         uw_len, v);
            ++m.num;
            m.uu += u * u;
            m.ww += w * w;
            m.vv += v * v;
            m.UWUW += uw_len * uw_len;
            m.uw += u * w;
            m.uv += u * v;
            m.wv += w * v;
            m.UWv += uw_len * v;
        }
    }
    if (m.num > 0) {
        const double n = m.num;
        m.uu /= n, m.ww /= n, m.vv /= n, m.UWUW /= n;
        m.uw /= n, m.uv /= n, m.wv /= n, m.UWv /= n;
    }
    return m;
}

void write_correlations(std::FILE* f, const Moments& m) {
    std::fprintf(f, "\n#\n#  num     var_u     var_w     var_v    var_UW");
    std::fprintf(f, "  covar_uw  covar_uv  covar_wv covar_UWv");
    std::fprintf(f, "\n# %4d %9.3f %9.3f %9.3f %9.3f %9.3f %9.3f %9.3f %9.3f", m.num, m.uu, m.ww,
                 m.vv, m.UWUW, m.uw, m.uv, m.wv, m.UWv);
    const double r_uw = correlation(m.uw, m.uu, m.ww);
    const double r_uv = correlation(m.uv, m.uu, m.vv);
    const double r_wv = correlation(m.wv, m.ww, m.vv);
    const double r_UWv = correlation(m.UWv, m.UWUW, m.vv);
    std::fprintf(f, "\n#        ");
    std::fprintf(f, " covar_uw/sqrt(var_u*var_w)");
    std::fprintf(f, " covar_uv/sqrt(var_u*var_v)");
    std::fprintf(f, " covar_wv/sqrt(var_w*var_v)");
    std::fprintf(f, " covar_UWv/sqrt(var_UW*var_v)");
    std::fprintf(f, " sigma(r_uw)");
    std::fprintf(f, " sigma(r_uv)");
    std::fprintf(f, " sigma(r_wv)");
    std::fprintf(f, " sigma(r_UWv)");
    std::fprintf(f, "  num");
    std::fprintf(f, "\nCORRCOEFF %27.4f%27.4f%27.4f%29.4f%12.4f%12.4f%12.4f%13.4f%5d", r_uw, r_uv,
                 r_wv, r_UWv, correlation_error(r_uw, m.num), correlation_error(r_uv, m.num),
                 correlation_error(r_wv, m.num), correlation_error(r_UWv, m.num), m.num);
}

void write_summary(std::FILE* f, const V23Fit& fit, const V23Figures& fig, int width, int height) {
    const PARAMS& mp = fit.mp;
    std::fprintf(f, "\n\n#img  w    h   phi0 radius Y_POS X_POS");
    std::fprintf(f, "  DEV_P  DEV_Q        DEV_2D      DEV_V          ESD");
    std::fprintf(f, "     GoF   C_radius  precentring reliability DEV_X0\n");
    std::fprintf(
        f,
        "%4d %4d %4d %6d %6d %5d %5d %6.3f %6.3f %13.3f %10.3f %12.3f %7.3f %10d %12d %11d %6.3f\n",
        fig.num_images, width, height, static_cast<int>(std::floor(mp.phi0 + 0.5)),
        static_cast<int>(std::floor(mp.radius + 0.5)), fig.final_y, fig.final_x, fig.p_devW,
        fig.q_devW, std::sqrt((mp.var_q0 + mp.var_p0) * 0.5), fig.y_devW, fig.tot_devW, mp.gofn,
        fig.diameter / 2, fig.precentring_flag, reliability_percent(fig.reliability), mp.var_x0);
}

}  // namespace

void log_top_candidate(std::FILE* log, const V23Detections& d, int q) {
    std::fprintf(log, "\n# %5.1f 0", d.phi[q]);
    std::fprintf(log, "%6.0f%6.0f", d.telku0_x[q], d.telku0_y[q]);
    std::fprintf(log, "%8.3f%8.3f", d.weight_telku0_x[q], d.weight_telku0_y[q]);
    std::fprintf(log, "%4d%6d", d.owidth[q], d.oarea[q]);
}

void log_image(std::FILE* log, const V23Detections& d, int q) {
    std::fprintf(log, "\n# Image No.: %3d", q);
    log_top_candidate(log, d, q);
    std::fprintf(log, "\n# %5.1f 1", d.phi[q]);
    std::fprintf(log, "%6.0f%6.0f", d.telku1_x[q], d.telku1_y[q]);
    std::fprintf(log, "%8.3f%8.3f", d.weight_telku1_x[q], d.weight_telku1_y[q]);
    std::fprintf(log, "%4d", d.owidth[q]);
    std::fprintf(log, "\n# %5.1f 2", d.phi[q]);
    std::fprintf(log, "%6.0f%6.0f", d.twodf_x[q], d.twodf_y[q]);
    std::fprintf(log, "\n# %5.1f 3", d.phi[q]);
    std::fprintf(log, "%6.0f%6.0f", d.virpa_x[q], d.virpa_y[q]);
    std::fprintf(log, "\n# %5.1f 4", d.phi[q]);
    std::fprintf(log, "%6.0f%6.0f", d.dexla_x[q], d.dexla_y[q]);
    std::fprintf(log, "\n");
}

void warn_too_few_images(int numimg_processed) {
    std::fprintf(stderr, "\n================================");
    std::fprintf(stderr, "================================");
    std::fprintf(stderr, "\n= Warning !!  ");
    std::fprintf(stderr, "Number of non-empty images (%d) ", numimg_processed);
    std::fprintf(stderr, " is too low for optimal detection!");
    std::fprintf(stderr, "\n================================");
    std::fprintf(stderr, "================================\n");
}

void warn_low_reliability(double reliability) {
    std::fprintf(stderr, "\n### ! The RELIABILITY of coordinates is rather low");
    std::fprintf(stderr, " (%.0lf %%).", std::floor(100.0 * reliability));
    std::fprintf(stderr, "\n### ! Check the recorded images!");
    std::fprintf(stderr, "\n### ! Something senseful should be initiated!");
    std::fprintf(stderr, "\n### ! --------------------------------------------\n");
}

bool write_log_res2(const V23Detections& d, const V23Fit& fit, const V23Figures& fig, int width,
                    int height) {
    std::string reason;
    std::FILE* f = open_output_stream(FIGURES_FILE, reason);
    if (f == nullptr) {
        std::perror("");
        report_output_failure(FIGURES_FILE, reason);
        return false;
    }
    if (fig.numimg_processed > 0) write_correlations(f, write_residuals(f, d, fit, fig));
    write_summary(f, fit, fig, width, height);
    if (close_output_stream(f, reason)) return true;
    report_output_failure(FIGURES_FILE, reason);
    return false;
}

}  // namespace orva::conventional
