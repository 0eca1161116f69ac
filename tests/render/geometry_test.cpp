// Supershape geometry checked without any GL: the grid generator is pure.
#include <gtest/gtest.h>

#include <cmath>

#include "render/geometry.h"

namespace {

ShapeGrid MorphGrid(int32_t i) {
  const float m = MorphSymmetry(i);
  const SuperFormulaSet set{1, 1, m, 1, 1, 1};
  return GenerateShapeGrid(-180, 180, set, -90, 90, set);
}

double Length(const ShapePoint& p) {
  return std::sqrt(double(p.x) * p.x + double(p.y) * p.y + double(p.z) * p.z);
}

const ShapePoint& At(const ShapeGrid& g, int32_t i, int32_t j) {
  return g.points[static_cast<size_t>(i) * g.columns + j];
}

TEST(Geometry, DegToRadUsesFloatPi) {
  EXPECT_FLOAT_EQ(DegToRad(180.0f), 3.1415927f);
  EXPECT_FLOAT_EQ(DegToRad(90.0f), 1.5707964f);
  EXPECT_FLOAT_EQ(DegToRad(-4.0f), -0.069813170f);
  EXPECT_EQ(DegToRad(0.0f), 0.0f);
}

TEST(Geometry, SuperFormulaParametersInOrder) {
  const float pi = 3.1415927f;
  // n = 2 everywhere: cos^2 + sin^2 = 1, the unit circle whatever m is.
  for (float a : {0.1f, 0.7f, 2.0f, 5.0f}) EXPECT_NEAR(SuperFormula(a, 1, 1, 6, 2, 2, 2), 1.0f, 1e-6);
  // a divides the cosine, b the sine: m = 4 puts t = angle.
  EXPECT_NEAR(SuperFormula(0.0f, 2, 1, 4, 1, 1, 1), 2.0f, 1e-6);
  EXPECT_NEAR(SuperFormula(pi / 2, 1, 4, 4, 1, 1, 1), 4.0f, 1e-5);
  // n2 powers the cosine term, n3 the sine term: at t = 30 degrees
  // cos^2 + sin = 0.75 + 0.5 -> 0.8; swapped it would be 0.896.
  EXPECT_NEAR(SuperFormula(pi / 6, 1, 1, 4, 1, 2, 1), 0.8f, 1e-5);
  // n1 is the outer root: (|cos| + |sin|)^(-1/2) at 45 degrees = 2^(-1/4).
  EXPECT_NEAR(SuperFormula(pi / 4, 1, 1, 4, 2, 1, 1), std::pow(2.0, -0.25), 1e-6);
  // m = 0 is a circle of radius 1.
  EXPECT_EQ(SuperFormula(1.234f, 1, 1, 0, 1, 1, 1), 1.0f);
}

TEST(Geometry, MorphSymmetryMatchesTable) {
  const struct { int i; float m; } table[] = {{0, 0.0f},   {1, 0.628f},  {5, 3.090f},  {10, 5.878f},
                                             {15, 8.090f}, {20, 9.511f}, {25, 10.0f},  {30, 9.511f},
                                             {40, 5.878f}, {45, 3.090f}, {49, 0.628f}};
  for (const auto& row : table) EXPECT_NEAR(MorphSymmetry(row.i), row.m, 0.0006) << "i = " << row.i;
  // Lists i and 50 - i hold the same m up to float conversion.
  for (int i = 1; i < 50; ++i) EXPECT_NEAR(MorphSymmetry(i), MorphSymmetry(50 - i), 2e-6) << i;
}

TEST(Geometry, StepCountRule) {
  EXPECT_EQ(ShapeStepCount(-180, 180), 91);
  EXPECT_EQ(ShapeStepCount(-90, 90), 46);
  EXPECT_EQ(ShapeStepCount(0, 0), 1);
  EXPECT_EQ(ShapeStepCount(0, 3), 1);
  EXPECT_EQ(ShapeStepCount(0, 10), 3);   // 0, 4, 8; 12 would pass 10
  EXPECT_EQ(ShapeStepCount(5, 19), 4);   // 5, 9, 13, 17
  EXPECT_EQ(ShapeStepCount(0, -3), 1);   // truncation toward zero
  EXPECT_EQ(ShapeStepCount(0, -4), 0);   // never negative
  EXPECT_EQ(ShapeStepCount(0, -100), 0);
}

TEST(Geometry, SpanNotMultipleOfFourEndsAtLastStep) {
  const SuperFormulaSet lon{1, 1, 3, 1, 1, 1};
  const SuperFormulaSet lat{1, 1, 5, 1, 1, 1};
  const ShapeGrid g = GenerateShapeGrid(-10, 17, lon, 5, 19, lat);
  ASSERT_EQ(g.columns, 7);  // -10 .. 14
  ASSERT_EQ(g.rows, 4);     // 5 .. 17
  ASSERT_EQ(g.points.size(), 28u);
  // The last point is the one at longitude 14, latitude 17, fully generated.
  const float theta = DegToRad(14.0f), phi = DegToRad(17.0f);
  const double r1 = SuperFormula(theta, 1, 1, 3, 1, 1, 1);
  const double r2 = SuperFormula(phi, 1, 1, 5, 1, 1, 1);
  const ShapePoint& last = At(g, 3, 6);
  EXPECT_NEAR(last.x, r1 * std::cos(double(theta)) * r2 * std::cos(double(phi)), 1e-6);
  EXPECT_NEAR(last.y, r1 * std::sin(double(theta)) * r2 * std::cos(double(phi)), 1e-6);
  EXPECT_NEAR(last.z, r2 * std::sin(double(phi)), 1e-6);
}

TEST(Geometry, DegenerateRangesYieldNoRealRows) {
  const SuperFormulaSet set{1, 1, 2, 1, 1, 1};
  // One latitude step: a single row, so no strip can be formed.
  EXPECT_EQ(GenerateShapeGrid(-180, 180, set, 10, 13, set).rows, 1);
  // A span of -3: the count rule gives one row, but no step lies in range and
  // the row stays zero-filled.
  const ShapeGrid backwards = GenerateShapeGrid(0, 8, set, 0, -3, set);
  ASSERT_EQ(backwards.rows, 1);
  for (const ShapePoint& p : backwards.points) EXPECT_EQ(Length(p), 0.0);
  // A span of -4 or less gives no rows at all (and no allocation).
  const ShapeGrid none = GenerateShapeGrid(0, 8, set, 0, -40, set);
  EXPECT_EQ(none.rows, 0);
  EXPECT_TRUE(none.points.empty());
}

// Every morph list's grid: 46 x 91 points, radii between 0.5 and 1 (list 0
// the unit sphere, the folded lists well inside it somewhere), the seam
// column equal to the first, and the poles on the z axis.
TEST(Geometry, EveryMorphGrid) {
  for (int32_t i = 0; i < 50; ++i) {
    SCOPED_TRACE(testing::Message() << "list " << i);
    const ShapeGrid g = MorphGrid(i);
    ASSERT_EQ(g.rows, 46);
    ASSERT_EQ(g.columns, 91);
    ASSERT_EQ(g.points.size(), 4186u);
    double lo = 2, hi = 0;
    for (const ShapePoint& p : g.points) {
      lo = std::min(lo, Length(p));
      hi = std::max(hi, Length(p));
    }
    EXPECT_GE(lo, 0.5 - 1e-6);
    EXPECT_LE(hi, 1.0 + 1e-6);
    if (i == 0) {
      EXPECT_NEAR(lo, 1.0, 2e-7);
      EXPECT_NEAR(hi, 1.0, 2e-7);
    }
    if (i >= 5 && i <= 45) {
      EXPECT_LT(lo, 0.75);
    }

    for (int32_t row = 0; row < g.rows; ++row) {
      const ShapePoint& first = At(g, row, 0);
      const ShapePoint& last = At(g, row, g.columns - 1);
      ASSERT_NEAR(first.x, last.x, 2e-6) << "row " << row;
      ASSERT_NEAR(first.y, last.y, 2e-6) << "row " << row;
      ASSERT_NEAR(first.z, last.z, 2e-6) << "row " << row;
    }

    const float m = MorphSymmetry(i);
    const float r = SuperFormula(DegToRad(90.0f), 1, 1, m, 1, 1, 1);
    const float rSouth = SuperFormula(DegToRad(-90.0f), 1, 1, m, 1, 1, 1);
    for (int32_t j = 0; j < g.columns; ++j) {
      const ShapePoint& south = At(g, 0, j);
      const ShapePoint& north = At(g, g.rows - 1, j);
      ASSERT_NEAR(south.x, 0.0f, 1e-7);
      ASSERT_NEAR(south.y, 0.0f, 1e-7);
      ASSERT_NEAR(south.z, -rSouth, 1e-7);
      ASSERT_NEAR(north.x, 0.0f, 1e-7);
      ASSERT_NEAR(north.y, 0.0f, 1e-7);
      ASSERT_NEAR(north.z, r, 1e-7);
    }
  }
}

TEST(Geometry, EquatorialRadiusBetweenInverseRootTwoAndOne) {
  for (int32_t i = 0; i < 50; ++i) {
    const float m = MorphSymmetry(i);
    for (int d = -180; d <= 180; d += 4) {
      const float r = SuperFormula(DegToRad(float(d)), 1, 1, m, 1, 1, 1);
      ASSERT_GE(r, 1.0f / std::sqrt(2.0f) - 1e-6f);
      ASSERT_LE(r, 1.0f + 1e-6f);
    }
  }
}

}  // namespace
