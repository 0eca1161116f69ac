// Supershape geometry: superformula, grid generation and strip emission.
#include "platform/gl.h"
#include "render/geometry.h"

#include <cmath>

namespace {

// pi as the 32-bit float the geometry was designed with.
constexpr float kPiFloat = 3.1415927f;

// Power on 32-bit floats: widened to double, computed, rounded back.
float PowFloat(float base, float exponent) {
  return static_cast<float>(std::pow(static_cast<double>(base), static_cast<double>(exponent)));
}

}  // namespace

float DegToRad(float degrees) {
  return static_cast<float>(static_cast<double>(degrees) * static_cast<double>(kPiFloat) / 180.0);
}

float SuperFormula(float angle, float a, float b, float m, float n1, float n2, float n3) {
  // Steps in this order: t, c, s, p, q, r. Trigonometry in double precision;
  // every value handed to the power function is a 32-bit float.
  const double t = static_cast<double>(m) / 4.0 * static_cast<double>(angle);
  const float c = static_cast<float>(std::fabs(std::cos(t) / static_cast<double>(a)));
  const float s = static_cast<float>(std::fabs(std::sin(t) / static_cast<double>(b)));
  const float p = PowFloat(c, n2);
  const float q = PowFloat(s, n3);
  const float sum = p + q;
  const float exponent = static_cast<float>(-1.0 / static_cast<double>(n1));
  return PowFloat(sum, exponent);
}

int32_t ShapeStepCount(int32_t from, int32_t to) {
  // C++ integer division truncates toward zero, as the count rule wants.
  // A span of -4 degrees or less would give a count of 0 or below; such a
  // range holds no step at all, so the count stops at 0 instead of sizing a
  // negative allocation.
  const int32_t count = (to - from) / 4 + 1;
  return count > 0 ? count : 0;
}

ShapeGrid GenerateShapeGrid(int32_t lonFrom, int32_t lonTo, const SuperFormulaSet& lon,
                            int32_t latFrom, int32_t latTo, const SuperFormulaSet& lat) {
  ShapeGrid grid;
  grid.rows = ShapeStepCount(latFrom, latTo);
  grid.columns = ShapeStepCount(lonFrom, lonTo);
  grid.points.assign(static_cast<size_t>(grid.rows) * static_cast<size_t>(grid.columns),
                     ShapePoint{0.0f, 0.0f, 0.0f});

  // Row i is latitude latFrom + 4i, column j longitude lonFrom + 4j; both walk
  // while the degree does not pass the end value. A span in -3..-1 gives one
  // row (or column) by the count rule but no step: that row stays zero.
  // The longitude terms are the same in every row: worked out once per column.
  struct Column {
    double r1, cosTheta, sinTheta;
  };
  std::vector<Column> columns;
  for (int32_t j = 0; j < grid.columns && lonFrom + 4 * j <= lonTo; ++j) {
    const float theta = DegToRad(static_cast<float>(lonFrom + 4 * j));
    columns.push_back({SuperFormula(theta, lon.a, lon.b, lon.m, lon.n1, lon.n2, lon.n3),
                       std::cos(static_cast<double>(theta)), std::sin(static_cast<double>(theta))});
  }
  for (int32_t i = 0; i < grid.rows && latFrom + 4 * i <= latTo; ++i) {
    const float phi = DegToRad(static_cast<float>(latFrom + 4 * i));
    const float r2 = SuperFormula(phi, lat.a, lat.b, lat.m, lat.n1, lat.n2, lat.n3);
    const double cosPhi = std::cos(static_cast<double>(phi));
    const double sinPhi = std::sin(static_cast<double>(phi));
    for (size_t j = 0; j < columns.size(); ++j) {
      const Column& c = columns[j];
      ShapePoint& point = grid.points[static_cast<size_t>(i) * grid.columns + j];
      // Products left to right in double precision, each coordinate stored as float.
      point.x = static_cast<float>(c.r1 * c.cosTheta * r2 * cosPhi);
      point.y = static_cast<float>(c.r1 * c.sinTheta * r2 * cosPhi);
      point.z = static_cast<float>(static_cast<double>(r2) * sinPhi);
    }
  }
  return grid;
}

void EmitSuperShape(int32_t lonFrom, int32_t lonTo, float lonA, float lonB, float lonM,
                    float lonN1, float lonN2, float lonN3, int32_t latFrom, int32_t latTo,
                    float latA, float latB, float latM, float latN1, float latN2, float latN3,
                    uint8_t PrimitiveMode) {
  const SuperFormulaSet lon{lonA, lonB, lonM, lonN1, lonN2, lonN3};
  const SuperFormulaSet lat{latA, latB, latM, latN1, latN2, latN3};
  // The grid is scratch storage for this call only; it is released on return.
  const ShapeGrid grid = GenerateShapeGrid(lonFrom, lonTo, lon, latFrom, latTo, lat);
  // PrimitiveMode 0 is the only mode defined: GL_TRIANGLE_STRIP.
  (void)PrimitiveMode;
  const GLenum primitive = GL_TRIANGLE_STRIP;

  // One strip per pair of neighbouring rows: fewer than two rows emit nothing.
  for (int32_t i = 0; i + 1 < grid.rows; ++i) {
    const ShapePoint* upper = &grid.points[static_cast<size_t>(i) * grid.columns];
    const ShapePoint* lower = upper + grid.columns;
    glBegin(primitive);
    for (int32_t j = 0; j < grid.columns; ++j) {
      glVertex3fv(&upper[j].x);
      glVertex3fv(&lower[j].x);
    }
    glEnd();
  }
}

float MorphSymmetry(int32_t i) {
  return static_cast<float>(10.0 * std::sin(static_cast<double>(i) * static_cast<double>(kPiFloat) / 50.0));
}
