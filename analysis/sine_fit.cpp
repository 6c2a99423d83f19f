#include "analysis/sine_fit.h"

#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace varkel::analysis {

namespace {

using Matrix3 = std::array<std::array<double, 3>, 3>;
using Vector3 = std::array<double, 3>;

// Gaussian elimination with partial pivoting; the normal matrix of cos, sin
// and 1 over at least half a cycle is well conditioned.
Vector3 solve(Matrix3 a, Vector3 b) {
    for (int column = 0; column < 3; ++column) {
        int pivot = column;
        for (int row = column + 1; row < 3; ++row)
            if (std::fabs(a[row][column]) > std::fabs(a[pivot][column])) pivot = row;
        std::swap(a[column], a[pivot]);
        std::swap(b[column], b[pivot]);
        if (a[column][column] == 0.0) throw std::runtime_error("sinusoid fit: singular system");
        for (int row = column + 1; row < 3; ++row) {
            const double factor = a[row][column] / a[column][column];
            for (int k = column; k < 3; ++k) a[row][k] -= factor * a[column][k];
            b[row] -= factor * b[column];
        }
    }
    Vector3 x{};
    for (int row = 2; row >= 0; --row) {
        double sum = b[row];
        for (int k = row + 1; k < 3; ++k) sum -= a[row][k] * x[k];
        x[row] = sum / a[row][row];
    }
    return x;
}

}  // namespace

std::complex<double> fitSinusoid(const float* signal, std::size_t first, std::size_t count,
                                 double frequency, double rate) {
    const double omega = 2.0 * std::numbers::pi * frequency / rate;
    Matrix3 normal{};
    Vector3 projection{};
    for (std::size_t i = first; i < first + count; ++i) {
        const double phase = omega * static_cast<double>(i);
        const Vector3 basis{std::cos(phase), std::sin(phase), 1.0};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) normal[r][c] += basis[r] * basis[c];
            projection[r] += basis[r] * static_cast<double>(signal[i]);
        }
    }
    const Vector3 x = solve(normal, projection);
    // a cos + b sin = Re((a - jb) e^{j phase})
    return {x[0], -x[1]};
}

}  // namespace varkel::analysis
