#include "colour/inverse.h"

#include <cmath>

namespace pixfold {

namespace {

struct Matrix3 {
    double at[3][3];
};

// Rows give luma, red difference and blue difference from red, green, blue.
constexpr Matrix3 conversionMatrix = {{
    {0.299, 0.587, 0.114},
    {0.5, -0.419, -0.081},
    {-0.169, -0.331, 0.5},
}};

constexpr Matrix3 invert(const Matrix3& m) {
    Matrix3 inverse{};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            // Cofactor of (column, row), with the cyclic index trick for the sign.
            const int r1 = (column + 1) % 3;
            const int r2 = (column + 2) % 3;
            const int c1 = (row + 1) % 3;
            const int c2 = (row + 2) % 3;
            inverse.at[row][column] = m.at[r1][c1] * m.at[r2][c2] - m.at[r1][c2] * m.at[r2][c1];
        }
    }
    double determinant = 0.0;
    for (int column = 0; column < 3; ++column) {
        determinant += m.at[0][column] * inverse.at[column][0];
    }
    for (auto& row : inverse.at) {
        for (double& value : row) {
            value /= determinant;
        }
    }
    return inverse;
}

constexpr Matrix3 inverseMatrix = invert(conversionMatrix);

std::uint8_t toSample(double normalised) {
    const double scaled = std::round(normalised * 255.0);
    return static_cast<std::uint8_t>(scaled < 0.0 ? 0.0 : (scaled > 255.0 ? 255.0 : scaled));
}

} // namespace

RgbPixel codesToRgb(YCrCbCodes codes) {
    const double components[3] = {static_cast<double>(codes.y - 16) / 219.0,
                                  static_cast<double>(codes.cr - 128) / 224.0,
                                  static_cast<double>(codes.cb - 128) / 224.0};
    double channels[3] = {};
    for (int channel = 0; channel < 3; ++channel) {
        for (int component = 0; component < 3; ++component) {
            channels[channel] += inverseMatrix.at[channel][component] * components[component];
        }
    }
    return {toSample(channels[0]), toSample(channels[1]), toSample(channels[2])};
}

double inverseCoefficient(int channel, int component) {
    return inverseMatrix.at[channel][component];
}

} // namespace pixfold
