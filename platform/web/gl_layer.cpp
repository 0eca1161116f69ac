// Display lists and OpenGL 1.1 mends over a table of real GL entry points
// (see gl_layer.h).
#include "platform/web/gl_layer.h"

#include <cmath>
#include <cstring>
#include <map>

namespace {

// Entry points of later GL versions, by value, so no extension header is needed.
constexpr GLenum kArrayBuffer = 0x8892;
constexpr GLenum kStaticDraw = 0x88E4;
constexpr GLenum kStreamDraw = 0x88E0;
constexpr GLenum kClampToEdge = 0x812F;
constexpr GLenum kGenerateMipmapHint = 0x8192;
constexpr int kMaxNesting = 64;  // GL_MAX_LIST_NESTING's least value

// Vertices of one glBegin/glEnd, already in a primitive the GL below draws.
struct Batch {
  GLenum mode = GL_TRIANGLES;
  std::vector<float> positions;  // x y z
  std::vector<float> texCoords;  // s t, when hasTex
  std::vector<float> colours;    // r g b a, when hasColour
  bool hasTex = false;
  bool hasColour = false;
  GLuint buffer = 0;  // in a list: positions, then texture coordinates, then colours
  size_t count = 0;   // vertices in the buffer
  float lastTex[2] = {0, 0};
  float lastColour[4] = {1, 1, 1, 1};
};

enum class OpKind { Draw, TexCoord, Colour, TexParameter, BindTexture, LineWidth, CallList };

struct Op {
  OpKind kind;
  GLenum target = 0, pname = 0;
  GLint value = 0;   // parameter, texture or list name, batch index
  float f[4] = {};
};

struct List {
  std::vector<Op> ops;
  std::vector<Batch> batches;
};

struct LayerState {
  GlBackTable back{};
  std::map<GLuint, List> lists;
  GLuint nextName = 1;
  // The list being recorded (0: none) and how.
  GLuint recording = 0;
  GLenum recordMode = GL_COMPILE;
  List pending;
  // glBegin .. glEnd in progress.
  bool inBegin = false;
  GLenum beginMode = 0;
  Batch batch;
  // Current values as the layer last set them.
  float texCoord[2] = {0, 0};
  float colour[4] = {1, 1, 1, 1};
  float lineWidth = 1.0f;
  int depth = 0;  // glCallList nesting
  GLuint streamBuffer = 0;       // refilled for geometry drawn at once
  std::vector<float> streamData;
};

LayerState S;

// ---- primitives -------------------------------------------------------------

// Every vertex carries its texture coordinate and colour (given in the
// batch or current at glVertex); hasTex and hasColour say which were given.
void CopyVertex(const Batch& from, size_t i, Batch& to) {
  to.positions.insert(to.positions.end(), &from.positions[3 * i], &from.positions[3 * i] + 3);
  to.texCoords.insert(to.texCoords.end(), &from.texCoords[2 * i], &from.texCoords[2 * i] + 2);
  to.colours.insert(to.colours.end(), &from.colours[4 * i], &from.colours[4 * i] + 4);
}

// Rewrites modes the GL below lacks into triangles or separate lines.
Batch Convert(const Batch& in) {
  const size_t n = in.positions.size() / 3;
  Batch out;
  out.hasTex = in.hasTex;
  out.hasColour = in.hasColour;
  auto take = [&](std::initializer_list<size_t> idx) {
    for (size_t i : idx) CopyVertex(in, i, out);
  };
  switch (in.mode) {
    case GL_QUADS:
      out.mode = GL_TRIANGLES;
      for (size_t q = 0; q + 3 < n; q += 4) take({q, q + 1, q + 2, q, q + 2, q + 3});
      return out;
    case GL_QUAD_STRIP:
      out.mode = GL_TRIANGLES;
      for (size_t q = 0; q + 3 < n; q += 2) take({q, q + 1, q + 3, q, q + 3, q + 2});
      return out;
    case GL_POLYGON:
      out.mode = GL_TRIANGLES;
      for (size_t i = 1; i + 1 < n; ++i) take({0, i, i + 1});
      return out;
    case GL_LINE_STRIP:
    case GL_LINE_LOOP:
      out.mode = GL_LINES;
      for (size_t i = 0; i + 1 < n; ++i) take({i, i + 1});
      if (in.mode == GL_LINE_LOOP && n > 2) take({n - 1, 0});
      return out;
    case GL_LINES:
      out.mode = GL_LINES;
      for (size_t i = 0; i + 1 < n; i += 2) take({i, i + 1});
      return out;
    default:
      out.mode = in.mode;
      for (size_t i = 0; i < n; ++i) CopyVertex(in, i, out);
      return out;
  }
}

// ---- wide lines ---------------------------------------------------------------

void Multiply(const float m[16], const float v[4], float out[4]) {
  for (int r = 0; r < 4; ++r) out[r] = m[r] * v[0] + m[4 + r] * v[1] + m[8 + r] * v[2] + m[12 + r] * v[3];
}

// Column-major a * b.
void MultiplyMatrices(const float a[16], const float b[16], float out[16]) {
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) {
      double sum = 0;
      for (int k = 0; k < 4; ++k) sum += double(a[k * 4 + r]) * double(b[c * 4 + k]);
      out[c * 4 + r] = static_cast<float>(sum);
    }
}

// Inverse of a 4 x 4 matrix by cofactors; false when singular.
bool Invert(const float m[16], double inv[16]) {
  double a[16];
  for (int i = 0; i < 16; ++i) a[i] = m[i];
  inv[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] + a[9] * a[7] * a[14] + a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
  inv[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] - a[8] * a[7] * a[14] - a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
  inv[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] + a[8] * a[7] * a[13] + a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
  inv[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] - a[8] * a[6] * a[13] - a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
  inv[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] - a[9] * a[3] * a[14] - a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
  inv[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] + a[8] * a[3] * a[14] + a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
  inv[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] - a[8] * a[3] * a[13] - a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
  inv[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] + a[8] * a[2] * a[13] + a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
  inv[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] + a[13] * a[2] * a[7] - a[13] * a[3] * a[6];
  inv[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] - a[4] * a[3] * a[14] - a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
  inv[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] + a[4] * a[3] * a[13] + a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
  inv[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] - a[4] * a[2] * a[13] - a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
  inv[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] - a[5] * a[3] * a[10] - a[9] * a[2] * a[7] + a[9] * a[3] * a[6];
  inv[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] + a[8] * a[2] * a[7] - a[8] * a[3] * a[6];
  inv[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] - a[8] * a[1] * a[7] + a[8] * a[3] * a[5];
  inv[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] + a[8] * a[1] * a[6] - a[8] * a[2] * a[5];
  double det = a[0] * inv[0] + a[1] * inv[4] + a[2] * inv[8] + a[3] * inv[12];
  if (det == 0.0 || !std::isfinite(det)) return false;
  for (int i = 0; i < 16; ++i) inv[i] /= det;
  return true;
}

void DrawStreamed(GLenum mode, const std::vector<float>& positions, GLint positionSize,
                  const std::vector<float>& texCoords, const std::vector<float>& colours);

// Draws the separate lines of `lines` as triangles `width` pixels wide. The
// corners are worked out in clip space and taken back to object space
// through the inverse of projection x modelview, so the matrices in force
// stay untouched.
void DrawWideLines(const Batch& lines, float width) {
  float modelview[16], projection[16], pm[16];
  S.back.GetFloatv(GL_MODELVIEW_MATRIX, modelview);
  S.back.GetFloatv(GL_PROJECTION_MATRIX, projection);
  GLint viewport[4] = {0, 0, 0, 0};
  S.back.GetIntegerv(GL_VIEWPORT, viewport);
  MultiplyMatrices(projection, modelview, pm);
  double inverse[16];
  if (!Invert(pm, inverse) || viewport[2] <= 0 || viewport[3] <= 0) return;
  static constexpr int kCorner[6] = {0, 1, 2, 0, 2, 3};  // which end each corner widens
  const size_t n = lines.positions.size() / 3;
  std::vector<float> positions, texCoords, colours;
  for (size_t i = 0; i + 1 < n; i += 2) {
    float a[4] = {lines.positions[3 * i], lines.positions[3 * i + 1], lines.positions[3 * i + 2], 1};
    float b[4] = {lines.positions[3 * i + 3], lines.positions[3 * i + 4], lines.positions[3 * i + 5], 1};
    float ca[4], cb[4], quad[6][4];
    Multiply(pm, a, ca);
    Multiply(pm, b, cb);
    if (!GlLayerWideLine(ca, cb, width, float(viewport[2]), float(viewport[3]), quad)) continue;
    for (int k = 0; k < 6; ++k) {
      const size_t end = kCorner[k] < 2 ? i : i + 1;
      if (lines.hasColour) colours.insert(colours.end(), &lines.colours[4 * end], &lines.colours[4 * end] + 4);
      texCoords.insert(texCoords.end(), &lines.texCoords[2 * end], &lines.texCoords[2 * end] + 2);
      for (int r = 0; r < 4; ++r)
        positions.push_back(float(inverse[r] * quad[k][0] + inverse[4 + r] * quad[k][1] + inverse[8 + r] * quad[k][2] +
                                  inverse[12 + r] * quad[k][3]));
    }
  }
  DrawStreamed(GL_TRIANGLES, positions, 4, texCoords, colours);
}

// ---- drawing a batch ------------------------------------------------------------

// Draws from vertex arrays in buffer `buffer`: positions (positionSize
// floats a vertex), then texture coordinates, then colours.
void DrawArraysFrom(GLuint buffer, GLenum mode, size_t count, GLint positionSize, bool hasTex, bool hasColour) {
  const auto offset = [](size_t floats) { return reinterpret_cast<const void*>(floats * sizeof(float)); };
  S.back.BindBuffer(kArrayBuffer, buffer);
  S.back.EnableClientState(GL_VERTEX_ARRAY);
  S.back.VertexPointer(positionSize, GL_FLOAT, 0, offset(0));
  if (hasTex) {
    S.back.EnableClientState(GL_TEXTURE_COORD_ARRAY);
    S.back.TexCoordPointer(2, GL_FLOAT, 0, offset(size_t(positionSize) * count));
  }
  if (hasColour) {
    S.back.EnableClientState(GL_COLOR_ARRAY);
    S.back.ColorPointer(4, GL_FLOAT, 0, offset((size_t(positionSize) + (hasTex ? 2 : 0)) * count));
  }
  S.back.DrawArrays(mode, 0, static_cast<GLsizei>(count));
  if (hasColour) S.back.DisableClientState(GL_COLOR_ARRAY);
  if (hasTex) S.back.DisableClientState(GL_TEXTURE_COORD_ARRAY);
  S.back.DisableClientState(GL_VERTEX_ARRAY);
  S.back.BindBuffer(kArrayBuffer, 0);
}

// Geometry drawn at once (outside lists, and wide lines) also goes through a
// vertex buffer, refilled for each draw: the GL below then takes one path
// for all geometry.
void DrawStreamed(GLenum mode, const std::vector<float>& positions, GLint positionSize,
                  const std::vector<float>& texCoords, const std::vector<float>& colours) {
  const size_t count = positions.size() / size_t(positionSize);
  if (count == 0) return;
  if (S.streamBuffer == 0) S.back.GenBuffers(1, &S.streamBuffer);
  S.streamData.assign(positions.begin(), positions.end());
  S.streamData.insert(S.streamData.end(), texCoords.begin(), texCoords.end());
  S.streamData.insert(S.streamData.end(), colours.begin(), colours.end());
  S.back.BindBuffer(kArrayBuffer, S.streamBuffer);
  S.back.BufferData(kArrayBuffer, static_cast<intptr_t>(S.streamData.size() * sizeof(float)), S.streamData.data(), kStreamDraw);
  DrawArraysFrom(S.streamBuffer, mode, count, positionSize, !texCoords.empty(), !colours.empty());
}

void Immediate(const Batch& b) {
  if (b.positions.empty()) return;
  if (b.mode == GL_LINES && S.lineWidth > 1.0f) {
    DrawWideLines(b, S.lineWidth);
    return;
  }
  // Texture coordinates always go along: the GL below keeps no current one.
  static const std::vector<float> none;
  DrawStreamed(b.mode, b.positions, 3, b.texCoords, b.hasColour ? b.colours : none);
  // The last colour given stays current, as after glEnd.
  if (b.hasColour) {
    const float* c = &b.colours[b.colours.size() - 4];
    S.back.Color4f(c[0], c[1], c[2], c[3]);
  }
}

// A list's batch into its vertex buffer. Texture coordinates and colours
// are stored only when the batch gave them; without them the current ones
// at the call apply (the current colour exactly; the GL below keeps no
// current texture coordinate, so an untextured batch drawn with texturing on
// samples the texture's corner there).
void Upload(Batch& b) {
  b.count = b.positions.size() / 3;
  if (b.count == 0) return;
  if (!b.hasTex) b.texCoords.clear();
  if (!b.hasColour) b.colours.clear();
  if (b.hasTex) std::memcpy(b.lastTex, &b.texCoords[b.texCoords.size() - 2], sizeof b.lastTex);
  if (b.hasColour) std::memcpy(b.lastColour, &b.colours[b.colours.size() - 4], sizeof b.lastColour);
  std::vector<float> data(b.positions);
  data.insert(data.end(), b.texCoords.begin(), b.texCoords.end());
  data.insert(data.end(), b.colours.begin(), b.colours.end());
  S.back.GenBuffers(1, &b.buffer);
  S.back.BindBuffer(kArrayBuffer, b.buffer);
  S.back.BufferData(kArrayBuffer, static_cast<intptr_t>(data.size() * sizeof(float)), data.data(), kStaticDraw);
  S.back.BindBuffer(kArrayBuffer, 0);
  // Only lines keep their vertices on this side, for drawing them wide.
  if (b.mode != GL_LINES) {
    b.positions = {};
    b.texCoords = {};
    b.colours = {};
  }
}

void DrawStored(const Batch& b) {
  if (b.count == 0) return;
  if (b.mode == GL_LINES && S.lineWidth > 1.0f) {
    DrawWideLines(b, S.lineWidth);
    return;
  }
  DrawArraysFrom(b.buffer, b.mode, b.count, 3, b.hasTex, b.hasColour);
}

// ---- state calls, executed or recorded ---------------------------------------------

bool Compiling() { return S.recording != 0; }
bool Executing() { return S.recording == 0 || S.recordMode == GL_COMPILE_AND_EXECUTE; }

// The current texture coordinate is the layer's own: every vertex it sends
// carries one.
void SetTexCoord(float s, float t) {
  S.texCoord[0] = s;
  S.texCoord[1] = t;
}

void SetColour(const float c[4]) {
  std::memcpy(S.colour, c, sizeof S.colour);
  S.back.Color4f(c[0], c[1], c[2], c[3]);
}

void SetTexParameter(GLenum target, GLenum pname, GLint param) {
  S.back.TexParameteri(target, pname, GlLayerTexParameter(pname, param));
}

void Record(Op op) { S.pending.ops.push_back(op); }

void RunList(GLuint name);

void RunOp(const List& list, const Op& op) {
  switch (op.kind) {
    case OpKind::Draw: {
      const Batch& b = list.batches[static_cast<size_t>(op.value)];
      DrawStored(b);
      // The batch's last texture coordinate and colour are current afterwards.
      if (b.hasTex) SetTexCoord(b.lastTex[0], b.lastTex[1]);
      if (b.hasColour) SetColour(b.lastColour);
      break;
    }
    case OpKind::TexCoord: SetTexCoord(op.f[0], op.f[1]); break;
    case OpKind::Colour: SetColour(op.f); break;
    case OpKind::TexParameter: SetTexParameter(op.target, op.pname, op.value); break;
    case OpKind::BindTexture: S.back.BindTexture(op.target, static_cast<GLuint>(op.value)); break;
    case OpKind::LineWidth: S.lineWidth = op.f[0]; break;
    case OpKind::CallList: RunList(static_cast<GLuint>(op.value)); break;
  }
}

void RunList(GLuint name) {
  auto it = S.lists.find(name);
  if (it == S.lists.end() || S.depth >= kMaxNesting) return;
  ++S.depth;
  for (const Op& op : it->second.ops) RunOp(it->second, op);
  --S.depth;
}

void DeleteBuffersOf(List& list) {
  for (Batch& b : list.batches)
    if (b.buffer != 0) S.back.DeleteBuffers(1, &b.buffer);
}

// The batch's last vertex once more.
void RepeatLast(Batch& b) {
  const size_t i = b.positions.size() / 3 - 1;
  const float p[3] = {b.positions[3 * i], b.positions[3 * i + 1], b.positions[3 * i + 2]};
  const float t[2] = {b.texCoords[2 * i], b.texCoords[2 * i + 1]};
  float c[4];
  std::memcpy(c, &b.colours[4 * i], sizeof c);
  b.positions.insert(b.positions.end(), p, p + 3);
  b.texCoords.insert(b.texCoords.end(), t, t + 2);
  b.colours.insert(b.colours.end(), c, c + 4);
}

// Appends `next` to `to` when one draw can do both: the same separate
// primitives, or triangle strips joined by degenerate triangles (which draw
// nothing; one more when the first strip is odd, so the second keeps its
// winding). Texture coordinates and colours must be given alike.
bool Append(Batch& to, const Batch& next) {
  if (to.mode != next.mode || to.hasTex != next.hasTex || to.hasColour != next.hasColour) return false;
  if (to.mode != GL_TRIANGLES && to.mode != GL_TRIANGLE_STRIP && to.mode != GL_LINES && to.mode != GL_POINTS)
    return false;
  if (to.mode == GL_TRIANGLE_STRIP) {
    const size_t count = to.positions.size() / 3;
    RepeatLast(to);
    if (count % 2 == 1) RepeatLast(to);
    CopyVertex(next, 0, to);
  }
  for (size_t i = 0; i < next.positions.size() / 3; ++i) CopyVertex(next, i, to);
  return true;
}

// ---- the front calls -------------------------------------------------------------------

GLuint LayerGenLists(GLsizei range) {
  if (range <= 0) return 0;
  const GLuint first = S.nextName;
  for (GLsizei i = 0; i < range; ++i) S.lists[first + static_cast<GLuint>(i)];  // empty lists
  S.nextName += static_cast<GLuint>(range);
  return first;
}

void LayerDeleteLists(GLuint list, GLsizei range) {
  for (GLsizei i = 0; i < range; ++i) {
    auto it = S.lists.find(list + static_cast<GLuint>(i));
    if (it == S.lists.end()) continue;
    DeleteBuffersOf(it->second);
    S.lists.erase(it);
  }
}

void LayerNewList(GLuint list, GLenum mode) {
  // As GL: list 0, another list open or an unknown mode are refused.
  if (list == 0 || Compiling() || S.inBegin || (mode != GL_COMPILE && mode != GL_COMPILE_AND_EXECUTE)) return;
  S.recording = list;
  S.recordMode = mode;
  S.pending = List{};
  if (list >= S.nextName) S.nextName = list + 1;
}

void LayerEndList() {
  if (!Compiling() || S.inBegin) return;
  for (Batch& b : S.pending.batches) Upload(b);
  List& slot = S.lists[S.recording];
  DeleteBuffersOf(slot);
  slot = std::move(S.pending);
  S.pending = List{};
  S.recording = 0;
}

void LayerCallList(GLuint list) {
  if (Compiling()) {
    Op op{OpKind::CallList};
    op.value = static_cast<GLint>(list);
    Record(op);
  }
  if (Executing()) RunList(list);
}

void LayerBegin(GLenum mode) {
  if (S.inBegin) return;
  S.inBegin = true;
  S.beginMode = mode;
  S.batch = Batch{};
  S.batch.mode = mode;
}

void LayerEnd() {
  if (!S.inBegin) return;
  S.inBegin = false;
  Batch drawn = Convert(S.batch);
  S.batch = Batch{};
  if (Executing()) Immediate(drawn);
  if (Compiling()) {
    if (drawn.positions.empty()) return;
    // Geometry that follows geometry with nothing between them is drawn
    // as one: the browser's GL spends far more on each draw call than on
    // each vertex (a morph shape is 45 strips).
    if (!S.pending.ops.empty() && S.pending.ops.back().kind == OpKind::Draw &&
        Append(S.pending.batches[static_cast<size_t>(S.pending.ops.back().value)], drawn))
      return;
    Op op{OpKind::Draw};
    op.value = static_cast<GLint>(S.pending.batches.size());
    S.pending.batches.push_back(std::move(drawn));
    Record(op);
  }
}

void LayerVertex3f(GLfloat x, GLfloat y, GLfloat z) {
  if (!S.inBegin) return;  // outside glBegin/glEnd a vertex means nothing
  Batch& b = S.batch;
  b.positions.insert(b.positions.end(), {x, y, z});
  b.texCoords.insert(b.texCoords.end(), {S.texCoord[0], S.texCoord[1]});
  b.colours.insert(b.colours.end(), S.colour, S.colour + 4);
}

void LayerVertex3fv(const GLfloat* v) { LayerVertex3f(v[0], v[1], v[2]); }

void LayerTexCoord2f(GLfloat s, GLfloat t) {
  if (S.inBegin) {
    S.batch.hasTex = true;
    S.texCoord[0] = s;
    S.texCoord[1] = t;
    return;
  }
  if (Compiling()) {
    Op op{OpKind::TexCoord};
    op.f[0] = s;
    op.f[1] = t;
    Record(op);
  }
  if (Executing()) SetTexCoord(s, t);
}

void LayerColor4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a) {
  const float c[4] = {r, g, b, a};
  if (S.inBegin) {
    S.batch.hasColour = true;
    std::memcpy(S.colour, c, sizeof c);
    return;
  }
  if (Compiling()) {
    Op op{OpKind::Colour};
    std::memcpy(op.f, c, sizeof c);
    Record(op);
  }
  if (Executing()) SetColour(c);
}

void LayerLineWidth(GLfloat width) {
  if (!(width > 0.0f)) return;  // GL_INVALID_VALUE: nothing changes
  if (Compiling()) {
    Op op{OpKind::LineWidth};
    op.f[0] = width;
    Record(op);
  }
  if (Executing()) S.lineWidth = width;
}

void LayerTexParameteri(GLenum target, GLenum pname, GLint param) {
  if (Compiling()) {
    Op op{OpKind::TexParameter};
    op.target = target;
    op.pname = pname;
    op.value = param;
    Record(op);
  }
  if (Executing()) SetTexParameter(target, pname, param);
}

void LayerBindTexture(GLenum target, GLuint texture) {
  if (Compiling()) {
    Op op{OpKind::BindTexture};
    op.target = target;
    op.value = static_cast<GLint>(texture);
    Record(op);
  }
  if (Executing()) S.back.BindTexture(target, texture);
}

void LayerTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                     GLint border, GLenum format, GLenum type, const void* pixels) {
  GLint alignment = 4;
  S.back.GetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
  GlUpload up = GlLayerTextureUpload(internalFormat, width, height, format, type, pixels, alignment);
  S.back.TexImage2D(target, level, static_cast<GLint>(up.format), width, height, border, up.format, type, up.pixels);
}

void LayerHint(GLenum target, GLenum mode) {
  if (GlLayerPassesHint(target)) S.back.Hint(target, mode);
}

// ---- texture formats ------------------------------------------------------------------

// What a base format keeps of a texel: grey, full colour, alpha.
struct Channels {
  bool grey, colour, alpha;
};

bool BaseOf(GLint f, GLenum* base) {
  switch (f) {
    case 1: case GL_LUMINANCE: case GL_LUMINANCE8: *base = GL_LUMINANCE; return true;
    case 2: case GL_LUMINANCE_ALPHA: case GL_LUMINANCE8_ALPHA8: *base = GL_LUMINANCE_ALPHA; return true;
    case GL_ALPHA: case GL_ALPHA8: *base = GL_ALPHA; return true;
    case 3: case GL_RGB: case GL_RGB8: case GL_RGB5: case GL_R3_G3_B2: case GL_RGB4: *base = GL_RGB; return true;
    case 4: case GL_RGBA: case GL_RGBA8: case GL_RGBA4: case GL_RGB5_A1: *base = GL_RGBA; return true;
    default: return false;
  }
}

Channels ChannelsOf(GLenum base) {
  switch (base) {
    case GL_LUMINANCE: return {true, false, false};
    case GL_LUMINANCE_ALPHA: return {true, false, true};
    case GL_ALPHA: return {false, false, true};
    case GL_RGB: return {false, true, false};
    default: return {false, true, true};  // GL_RGBA
  }
}

int ComponentsOf(GLenum base) {
  switch (base) {
    case GL_LUMINANCE: case GL_ALPHA: return 1;
    case GL_LUMINANCE_ALPHA: return 2;
    case GL_RGB: return 3;
    default: return 4;
  }
}

// One source texel as RGBA, the way OpenGL expands a format.
void ToRgba(GLenum format, const uint8_t* p, uint8_t out[4]) {
  switch (format) {
    case GL_LUMINANCE: out[0] = out[1] = out[2] = p[0]; out[3] = 255; break;
    case GL_LUMINANCE_ALPHA: out[0] = out[1] = out[2] = p[0]; out[3] = p[1]; break;
    case GL_ALPHA: out[0] = out[1] = out[2] = 0; out[3] = p[0]; break;
    case GL_RGB: out[0] = p[0]; out[1] = p[1]; out[2] = p[2]; out[3] = 255; break;
    default: std::memcpy(out, p, 4); break;
  }
}

void FromRgba(GLenum base, const uint8_t rgba[4], uint8_t* out) {
  switch (base) {
    case GL_LUMINANCE: out[0] = rgba[0]; break;
    case GL_LUMINANCE_ALPHA: out[0] = rgba[0]; out[1] = rgba[3]; break;
    case GL_ALPHA: out[0] = rgba[3]; break;
    case GL_RGB: std::memcpy(out, rgba, 3); break;
    default: std::memcpy(out, rgba, 4); break;
  }
}

size_t RowBytes(size_t width, int components, GLint alignment) {
  const size_t a = alignment > 0 ? static_cast<size_t>(alignment) : 1;
  const size_t raw = width * static_cast<size_t>(components);
  return (raw + a - 1) / a * a;
}

}  // namespace

// ---- public --------------------------------------------------------------------------

GlFrontTable GlLayerFront() {
  return {LayerGenLists, LayerDeleteLists, LayerNewList, LayerEndList, LayerCallList,
          LayerBegin,    LayerEnd,         LayerVertex3f, LayerVertex3fv, LayerTexCoord2f,
          LayerColor4f,  LayerLineWidth,   LayerTexParameteri, LayerBindTexture, LayerTexImage2D,
          LayerHint};
}

GlFrontTable ZephyraGl = GlLayerFront();

void GlLayerInstall(const GlBackTable& back) {
  S = LayerState{};
  S.back = back;
}

GLint GlLayerTexParameter(GLenum pname, GLint param) {
  if ((pname == GL_TEXTURE_WRAP_S || pname == GL_TEXTURE_WRAP_T) && param == GL_CLAMP)
    return static_cast<GLint>(kClampToEdge);
  return param;
}

bool GlLayerPassesHint(GLenum target) { return target == kGenerateMipmapHint; }

GlUpload GlLayerTextureUpload(GLint internalFormat, GLsizei width, GLsizei height, GLenum format,
                              GLenum type, const void* pixels, GLint unpackAlignment) {
  GlUpload up{format, pixels, {}};
  GLenum internalBase, sourceBase;
  if (!BaseOf(internalFormat, &internalBase) || !BaseOf(static_cast<GLint>(format), &sourceBase)) return up;
  const Channels keep = ChannelsOf(internalBase);
  const Channels has = ChannelsOf(sourceBase);
  const bool keepsAll = (!has.alpha || keep.alpha) && (!has.colour || keep.colour) &&
                        (!has.grey || keep.grey || keep.colour);
  if (keepsAll || type != GL_UNSIGNED_BYTE) return up;
  // The internal format drops something the data carries: convert.
  up.format = internalBase;
  if (pixels == nullptr || width <= 0 || height <= 0) {
    up.pixels = nullptr;
    return up;
  }
  const int inComponents = ComponentsOf(sourceBase);
  const int outComponents = ComponentsOf(internalBase);
  const size_t inRow = RowBytes(static_cast<size_t>(width), inComponents, unpackAlignment);
  const size_t outRow = RowBytes(static_cast<size_t>(width), outComponents, unpackAlignment);
  up.converted.assign(outRow * static_cast<size_t>(height), 0);
  const auto* src = static_cast<const uint8_t*>(pixels);
  for (GLsizei y = 0; y < height; ++y)
    for (GLsizei x = 0; x < width; ++x) {
      uint8_t rgba[4];
      ToRgba(sourceBase, src + static_cast<size_t>(y) * inRow + static_cast<size_t>(x) * inComponents, rgba);
      FromRgba(internalBase, rgba, &up.converted[static_cast<size_t>(y) * outRow + static_cast<size_t>(x) * outComponents]);
    }
  up.pixels = up.converted.data();
  return up;
}

bool GlLayerWideLine(const float a[4], const float b[4], float width, float viewportWidth,
                     float viewportHeight, float out[6][4]) {
  if (!(a[3] > 0.0f) || !(b[3] > 0.0f) || viewportWidth <= 0 || viewportHeight <= 0) return false;
  const float dx = (b[0] / b[3] - a[0] / a[3]) * viewportWidth;
  const float dy = (b[1] / b[3] - a[1] / a[3]) * viewportHeight;
  // Half the width in normalised device coordinates (2 units span the viewport).
  float ox = 0, oy = 0;
  if (std::fabs(dx) >= std::fabs(dy)) oy = width / viewportHeight;
  else ox = width / viewportWidth;
  // Corners: a-, a+, b+, b- (scaled by w, so the offset survives the division).
  const float corners[4][4] = {
      {a[0] - ox * a[3], a[1] - oy * a[3], a[2], a[3]},
      {a[0] + ox * a[3], a[1] + oy * a[3], a[2], a[3]},
      {b[0] + ox * b[3], b[1] + oy * b[3], b[2], b[3]},
      {b[0] - ox * b[3], b[1] - oy * b[3], b[2], b[3]},
  };
  static constexpr int kOrder[6] = {0, 1, 2, 0, 2, 3};
  for (int k = 0; k < 6; ++k) std::memcpy(out[k], corners[kOrder[k]], sizeof out[k]);
  return true;
}
