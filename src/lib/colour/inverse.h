// The way back from video-scale codes to RGB samples, for looking at what was
// written. Not exact: the codes hold less than the samples did.
#pragma once

#include "colour/coefficients.h"
#include "core/types.h"

namespace pixfold {

// 8-bit codes to normalised luma and colour differences ((y - 16) / 219,
// (cr - 128) / 224, (cb - 128) / 224), then through the inverse of the
// conversion's coefficient matrix, rounded to the nearest sample (halves away
// from zero) and clamped to 0..255.
RgbPixel codesToRgb(YCrCbCodes codes);

namespace inverse_detail {

struct Matrix3 {
    double at[3][3];
};

constexpr Matrix3 matrixOf(const Weights (&rows)[3]) {
    Matrix3 matrix{};
    for (int row = 0; row < 3; ++row) {
        matrix.at[row][0] = weightOf(rows[row].red);
        matrix.at[row][1] = weightOf(rows[row].green);
        matrix.at[row][2] = weightOf(rows[row].blue);
    }
    return matrix;
}

// Rows give luma, red difference and blue difference from red, green, blue.
inline constexpr Weights conversionWeights[3] = {lumaWeights, redDifferenceWeights,
                                                 blueDifferenceWeights};
inline constexpr Matrix3 conversionMatrix = matrixOf(conversionWeights);

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

inline constexpr Matrix3 inverseMatrix = invert(conversionMatrix);

} // namespace inverse_detail

// The entry of that inverse matrix that weights component (0 luma, 1 red
// difference, 2 blue difference) in channel (0 red, 1 green, 2 blue): what the
// decoder's estimate is built from, when compiled.
constexpr double inverseCoefficient(int channel, int component) {
    return inverse_detail::inverseMatrix.at[channel][component];
}

} // namespace pixfold
