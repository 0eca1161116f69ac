// Supershape geometry: the superformula, the point grid of one supershape and
// its emission as triangle strips. The grid generator touches no GL, so the
// shapes can be checked without a rendering context.
#pragma once
#include <cstdint>
#include <vector>

// Six superformula parameters, in this order: a, b, m, n1, n2, n3.
struct SuperFormulaSet {
  float a, b, m, n1, n2, n3;
};

struct ShapePoint {
  float x, y, z;
};

// Scratch grid of one supershape: rows are latitude steps, columns longitude
// steps, stored row after row (point (i, j) is points[i * columns + j]).
struct ShapeGrid {
  int32_t rows = 0;
  int32_t columns = 0;
  std::vector<ShapePoint> points;
};

// Degrees to radians: degrees * 3.1415927 / 180 (pi as a 32-bit float),
// formed in double precision and rounded to float.
float DegToRad(float degrees);

// Superformula radius at `angle` (radians):
//   ( |cos(m*angle/4) / a|^n2 + |sin(m*angle/4) / b|^n3 )^(-1/n1)
// Each power takes 32-bit float arguments, computes in double precision and
// returns a 32-bit float.
float SuperFormula(float angle, float a, float b, float m, float n1, float n2, float n3);

// Rows (or columns) of a grid spanning `from` .. `to` degrees in 4-degree
// steps: (to - from) / 4 + 1, truncating toward zero. Never below 0.
int32_t ShapeStepCount(int32_t from, int32_t to);

// Fills a zero-initialised grid for longitude lonFrom..lonTo (equatorial curve
// `lon`) and latitude latFrom..latTo (meridian curve `lat`), both in 4-degree
// steps. Pure: no GL.
ShapeGrid GenerateShapeGrid(int32_t lonFrom, int32_t lonTo, const SuperFormulaSet& lon,
                            int32_t latFrom, int32_t latTo, const SuperFormulaSet& lat);

// Generates the grid and emits it into whatever GL is doing (at start-up:
// compiling a display list) as rows - 1 triangle strips of 2 * columns
// vertices each; no colour, normal or texture coordinate. PrimitiveMode 0 is
// GL_TRIANGLE_STRIP, the only mode used.
void EmitSuperShape(int32_t lonFrom, int32_t lonTo, float lonA, float lonB, float lonM,
                    float lonN1, float lonN2, float lonN3, int32_t latFrom, int32_t latTo,
                    float latA, float latB, float latM, float latN1, float latN2, float latN3,
                    uint8_t PrimitiveMode);

// Symmetry parameter of morph list i: 10 * sin(i * 3.1415927 / 50), as float.
float MorphSymmetry(int32_t i);

