// The browser build's display-list layer and GL mends, run on the system's
// OpenGL (Mesa, offscreen EGL): render/'s own lists and frames drawn through
// native display lists and through the layer must match, and each mend is
// checked on its own, against the real GL and against a recording back table.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/demo_globals.h"
#include "image/image.h"
#include "image/jpeg_decoder.h"
#include "image/surface.h"
#include "platform/heap.h"
#include "platform/offscreen_gl.h"
#include "platform/pixels.h"
#include "platform/web/gl_layer.h"
#include "render/render.h"

namespace {

constexpr int W = 640, H = 480;
using Frame = std::vector<uint8_t>;

// The system GL's own entry points as a front table: native display lists.
GlFrontTable NativeFront() {
  return {glGenLists, glDeleteLists, glNewList, glEndList, glCallList, glBegin, glEnd, glVertex3f,
          glVertex3fv, glTexCoord2f, glColor4f, glLineWidth, glTexParameteri, glBindTexture,
          glTexImage2D, glHint};
}

// How far two frames differ: pixels whose largest channel difference
// exceeds `threshold`, and the mean absolute difference over all channels.
struct Difference {
  int pixels = 0;
  double mean = 0;
};

Difference Compare(const Frame& a, const Frame& b, int threshold) {
  Difference d;
  double sum = 0;
  for (size_t p = 0; p < a.size(); p += 4) {
    int worst = 0;
    for (int c = 0; c < 3; ++c) {
      const int diff = std::abs(int(a[p + c]) - int(b[p + c]));
      worst = std::max(worst, diff);
      sum += diff;
    }
    if (worst > threshold) ++d.pixels;
  }
  d.mean = sum / (double(a.size()) / 4 * 3);
  return d;
}

int LitPixels(const Frame& f) {
  int n = 0;
  for (size_t p = 0; p < f.size(); p += 4)
    if (f[p] + f[p + 1] + f[p + 2] > 30) ++n;
  return n;
}

// A context set up as the window set-up leaves it, with start-up's arrays
// and image layer, for one front table (native or the layer).
class Context {
 public:
  explicit Context(bool layered) {
    ClearDemoGlobals();
    gl_ = CreateOffscreenGL(W, H, &whyNot_);
    if (!gl_) return;
    if (layered) {
      GlLayerInstall(GlSystemTable());
      ZephyraGl = GlLayerFront();
    } else {
      ZephyraGl = NativeFront();
    }
    morph_.assign(MorphListCount, 0);
    textures_.assign(ObjectTextureCount, 0);
    pixels_.assign(256 * 256 * 3, 0);
    DemoGlobals.MorphLists = morph_.data();
    DemoGlobals.ObjectTextures = textures_.data();
    DemoGlobals.TexturePixelBuffer = pixels_.data();
    DemoGlobals.MainHeap = PlatformHeapCreate(4000);
    glViewport(0, 0, W, H);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, double(float(W) / float(H)), double(0.1f), double(1000.0f));
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glShadeModel(GL_SMOOTH);
    glClearColor(0, 0, 0, 0);
    glClearDepth(1.0);
    ZephyraGl.Hint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  }
  ~Context() {
    ReleaseAllImages();
    if (gl_) DestroyOffscreenGL(gl_);
    if (DemoGlobals.MainHeap) PlatformHeapDestroy(DemoGlobals.MainHeap);
    ClearDemoGlobals();
    ZephyraGl = GlLayerFront();
  }
  bool ok() const { return gl_ != nullptr; }
  const char* whyNot() const { return whyNot_; }

  // Start-up's scene data: every list and the ten textures from the assets.
  void BuildScene() {
    PixelStoreSetDisplayDepth(32);
    if (!DefaultBrush) CreateDrawingDefaults();
    ResetImageDecoders();
    InitImageRegistry(DemoGlobals.MainHeap);
    RegisterImageDecoder(&JpegImageDecoder);
    BuildMorphLists();
    BuildCubeLists();
    BuildTextureSet();
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
  }

  Frame Read() {
    Frame f(size_t(W) * H * 4);
    ReadOffscreenPixels(gl_, f.data());
    return f;
  }

 private:
  OffscreenGL* gl_ = nullptr;
  const char* whyNot_ = "";
  std::vector<uint32_t> morph_, textures_;
  std::vector<uint8_t> pixels_;
};

// One step of the frame sequence both contexts draw.
struct Shot {
  const char* name;
  int8_t mode;
  int morphFrame;
  bool captionB;
};

constexpr Shot kShots[] = {
    {"caption A", SceneModeCaptionIn, 0, false},   {"morph frame 0", SceneModeMorphRising, 0, false},
    {"morph frame 12", SceneModeMorphRising, 12, false}, {"morph frame 25", SceneModeMorphFalling, 25, false},
    {"morph frame 37", SceneModeMorphFalling, 37, false}, {"caption B", SceneModeCaptionOut, 0, true},
    {"cube over the floor", SceneModeCube, 0, false},   {"cube turned", SceneModeCube, 0, false},
};

// Draws the sequence: the same values in both contexts, frame after frame
// (each frame relies on the state the frames before it left).
std::vector<Frame> DrawSequence(bool layered, std::string* whyNot) {
  Context c(layered);
  if (!c.ok()) {
    *whyNot = c.whyNot();
    return {};
  }
  c.BuildScene();
  std::vector<Frame> frames;
  float spin = 35.0f;
  for (const Shot& s : kShots) {
    DemoGlobals.SceneMode = s.mode;
    DemoGlobals.MorphFrame = s.morphFrame;
    DemoGlobals.MorphAngle = 30.0f + float(s.morphFrame);
    DemoGlobals.MorphRed = 1.0f;
    DemoGlobals.MorphGreen = 0.4f;
    DemoGlobals.MorphBlue = 1.0f;
    DemoGlobals.UseCaptionB = s.captionB ? 1 : 0;
    DemoGlobals.CaptionFade = 1.0f;
    DemoGlobals.CubeSpin = spin;
    DemoGlobals.BeatZoom = 0.8f;
    DemoGlobals.FloorSpin = spin * 2;
    DemoGlobals.FloorDepth = -20.0f;
    DemoGlobals.ObjectTextureIndex = 2;
    spin += 47.0f;
    RenderFrame();
    frames.push_back(c.Read());
  }
  return frames;
}

// Every scene through the layer against native display lists. Triangles
// carry the same vertices both ways, so fills match to the pixel but for
// rounding at shared edges; the cube's thick edges are triangles here and
// Mesa's own wide-line rasteriser there, which differ by up to a pixel at
// their ends and corners. Tolerance: a pixel counts as different when a
// channel is off by more than 24 (of 255); at most 0.25 % of the frame's
// pixels (768) may differ, and the mean difference must stay below 0.3. A
// wrong scene, a missing list or a texture in the wrong format breaks
// both by far (the test below shows it for a swapped frame).
TEST(GlLayerFrames, EveryListAndSceneMatchesNativeDisplayLists) {
  std::string whyNot;
  const std::vector<Frame> native = DrawSequence(false, &whyNot);
  ASSERT_FALSE(native.empty()) << "offscreen GL: " << whyNot;
  const std::vector<Frame> layered = DrawSequence(true, &whyNot);
  ASSERT_EQ(layered.size(), native.size());
  for (size_t i = 0; i < native.size(); ++i) {
    SCOPED_TRACE(kShots[i].name);
    EXPECT_GT(LitPixels(native[i]), 2000) << "the native frame shows nothing";
    const Difference d = Compare(native[i], layered[i], 24);
    std::printf("%-20s %4d pixels differ, mean difference %.4f\n", kShots[i].name, d.pixels, d.mean);
    EXPECT_LE(d.pixels, W * H / 400) << "mean " << d.mean;
    EXPECT_LT(d.mean, 0.3) << d.pixels << " pixels differ";
  }
  // The tolerance tells scenes apart: a neighbouring morph frame, caption A
  // for caption B, the cube at another angle all fail it.
  for (auto [a, b] : {std::pair{2, 3}, std::pair{0, 5}, std::pair{6, 7}}) {
    const Difference d = Compare(native[size_t(a)], layered[size_t(b)], 24);
    EXPECT_TRUE(d.pixels > W * H / 400 || d.mean >= 0.3) << kShots[a].name << " vs " << kShots[b].name;
  }
}

// ---- mends on the real GL ------------------------------------------------------------

class GlLayerOnMesa : public ::testing::Test {
 protected:
  void SetUp() override {
    gl_ = CreateOffscreenGL(W, H, &whyNot_);
    ASSERT_NE(gl_, nullptr) << whyNot_;
    GlLayerInstall(GlSystemTable());
    ZephyraGl = GlLayerFront();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
  }
  void TearDown() override { DestroyOffscreenGL(gl_); }
  Frame Read() {
    Frame f(size_t(W) * H * 4);
    ReadOffscreenPixels(gl_, f.data());
    return f;
  }
  // Lit pixels in column x (top row first) / row y.
  static int Column(const Frame& f, int x) {
    int n = 0;
    for (int y = 0; y < H; ++y) n += f[(size_t(y) * W + x) * 4] > 128;
    return n;
  }
  static int Row(const Frame& f, int y) {
    int n = 0;
    for (int x = 0; x < W; ++x) n += f[(size_t(y) * W + x) * 4] > 128;
    return n;
  }
  void Line(float width, float x0, float y0, float x1, float y1) {
    ZephyraGl.Color4f(1, 1, 1, 1);
    ZephyraGl.LineWidth(width);
    ZephyraGl.Begin(GL_LINES);
    ZephyraGl.Vertex3f(x0, y0, 0);
    ZephyraGl.Vertex3f(x1, y1, 0);
    ZephyraGl.End();
  }
  OffscreenGL* gl_ = nullptr;
  const char* whyNot_ = "";
};

// 5.5-pixel lines come out 5 or 6 pixels thick across their minor axis, in
// a list and directly, horizontal and vertical; 1-pixel lines stay 1 pixel.
TEST_F(GlLayerOnMesa, WideLinesAreTrianglesOfTheirWidth) {
  Line(5.5f, -0.5f, 0.1f, 0.5f, 0.1f);
  Frame f = Read();
  const int across = Column(f, W / 2);
  EXPECT_GE(across, 5);
  EXPECT_LE(across, 6);
  glClear(GL_COLOR_BUFFER_BIT);
  const GLuint list = ZephyraGl.GenLists(1);
  ZephyraGl.NewList(list, GL_COMPILE);
  Line(5.5f, 0.2f, -0.5f, 0.25f, 0.5f);  // steep: widened along x
  ZephyraGl.EndList();
  EXPECT_EQ(LitPixels(Read()), 0) << "GL_COMPILE drew";
  ZephyraGl.CallList(list);
  f = Read();
  const int row = Row(f, H / 2);
  EXPECT_GE(row, 5);
  EXPECT_LE(row, 6);
  glClear(GL_COLOR_BUFFER_BIT);
  Line(1.0f, -0.5f, 0.0f, 0.5f, 0.0f);
  EXPECT_EQ(Column(Read(), W / 2), 1);
}

// QUAD_STRIP and POLYGON, which the browser's GL refuses, fill what they
// fill natively.
TEST_F(GlLayerOnMesa, QuadStripAndPolygonFillAsNatively) {
  auto draw = [](GLenum mode, bool layered) {
    const GlFrontTable f = layered ? GlLayerFront() : NativeFront();
    f.Color4f(1, 1, 1, 1);
    f.Begin(mode);
    const float strip[][2] = {{-0.8f, -0.5f}, {-0.8f, 0.5f}, {-0.2f, -0.4f}, {-0.1f, 0.6f}, {0.7f, -0.5f}, {0.6f, 0.3f}};
    const float polygon[][2] = {{-0.6f, -0.6f}, {0.5f, -0.7f}, {0.8f, 0.1f}, {0.1f, 0.7f}, {-0.7f, 0.3f}};
    if (mode == GL_QUAD_STRIP)
      for (auto& v : strip) f.Vertex3f(v[0], v[1], 0);
    else
      for (auto& v : polygon) f.Vertex3f(v[0], v[1], 0);
    f.End();
  };
  for (GLenum mode : {GLenum(GL_QUAD_STRIP), GLenum(GL_POLYGON)}) {
    glClear(GL_COLOR_BUFFER_BIT);
    draw(mode, false);
    const Frame native = Read();
    glClear(GL_COLOR_BUFFER_BIT);
    draw(mode, true);
    const Frame layered = Read();
    EXPECT_GT(LitPixels(native), 50000);
    EXPECT_LE(Compare(native, layered, 24).pixels, 40) << "mode " << mode;
  }
}

// A grey caption uploaded with internal format 3 samples as it does
// natively, and a GL_CLAMP texture ends up clamped to its edge.
TEST_F(GlLayerOnMesa, TextureUploadsAndClampMatchNative) {
  std::vector<uint8_t> grey(64 * 8);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = uint8_t(i * 7);
  GLuint t[2];
  glGenTextures(2, t);
  glBindTexture(GL_TEXTURE_2D, t[0]);
  glTexImage2D(GL_TEXTURE_2D, 0, 3, 64, 8, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, grey.data());
  glBindTexture(GL_TEXTURE_2D, t[1]);
  ZephyraGl.TexImage2D(GL_TEXTURE_2D, 0, 3, 64, 8, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, grey.data());
  GLint internal = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &internal);
  EXPECT_EQ(internal, GL_LUMINANCE);
  // Sampled as drawn (read-backs of grey textures fill red only).
  auto drawWith = [this](GLuint texture) {
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glColor4f(1, 1, 1, 1);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex3f(-1, -1, 0);
    glTexCoord2f(1, 0);
    glVertex3f(1, -1, 0);
    glTexCoord2f(1, 1);
    glVertex3f(1, 1, 0);
    glTexCoord2f(0, 1);
    glVertex3f(-1, 1, 0);
    glEnd();
    glDisable(GL_TEXTURE_2D);
    return Read();
  };
  const Frame native = drawWith(t[0]);
  const Frame layered = drawWith(t[1]);
  EXPECT_GT(LitPixels(native), W * H / 2);
  EXPECT_EQ(Compare(native, layered, 0).pixels, 0);
  glBindTexture(GL_TEXTURE_2D, t[1]);
  ZephyraGl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  GLint wrap = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
  EXPECT_EQ(wrap, GL_CLAMP_TO_EDGE);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
  glDeleteTextures(2, t);
}

// ---- the layer against a recording back table -----------------------------------------

std::vector<std::string> Calls;

void Log(std::string s) { Calls.push_back(std::move(s)); }
std::string N(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%g", v);
  return b;
}

GlBackTable Recorder() {
  GlBackTable t{};
  t.Color4f = [](GLfloat r, GLfloat, GLfloat, GLfloat) { Log("Color " + N(r)); };
  t.TexParameteri = [](GLenum, GLenum p, GLint v) { Log("TexParameter " + N(p) + " " + N(v)); };
  t.BindTexture = [](GLenum, GLuint n) { Log("BindTexture " + N(n)); };
  t.TexImage2D = [](GLenum, GLint, GLint i, GLsizei, GLsizei, GLint, GLenum f, GLenum, const void*) {
    Log("TexImage " + N(i) + " " + N(f));
  };
  t.Hint = [](GLenum target, GLenum) { Log("Hint " + N(target)); };
  t.GenBuffers = [](GLsizei, GLuint* b) {
    static GLuint next = 100;
    *b = next++;
    Log("GenBuffer " + N(*b));
  };
  t.DeleteBuffers = [](GLsizei, const GLuint* b) { Log("DeleteBuffer " + N(*b)); };
  t.BindBuffer = [](GLenum, GLuint b) { Log("BindBuffer " + N(b)); };
  t.BufferData = [](GLenum, intptr_t size, const void*, GLenum) { Log("BufferData " + N(double(size))); };
  t.EnableClientState = [](GLenum) {};
  t.DisableClientState = [](GLenum) {};
  t.VertexPointer = [](GLint size, GLenum, GLsizei, const void*) { Log("VertexPointer " + N(size)); };
  t.TexCoordPointer = [](GLint, GLenum, GLsizei, const void*) { Log("TexCoordPointer"); };
  t.ColorPointer = [](GLint, GLenum, GLsizei, const void*) { Log("ColorPointer"); };
  t.DrawArrays = [](GLenum m, GLint, GLsizei n) { Log("DrawArrays " + N(m) + " " + N(n)); };
  t.GetFloatv = [](GLenum, GLfloat* v) {
    for (int i = 0; i < 16; ++i) v[i] = (i % 5 == 0) ? 1.0f : 0.0f;  // identity
  };
  t.GetIntegerv = [](GLenum p, GLint* v) {
    if (p == GL_VIEWPORT) {
      v[0] = v[1] = 0;
      v[2] = W;
      v[3] = H;
    } else {
      v[0] = 4;
    }
  };
  return t;
}

class GlLayerRecorded : public ::testing::Test {
 protected:
  void SetUp() override {
    GlLayerInstall(Recorder());
    f_ = GlLayerFront();
    Calls.clear();
  }
  bool Has(const std::string& call) const { return std::find(Calls.begin(), Calls.end(), call) != Calls.end(); }
  int Count(const std::string& prefix) const {
    return int(std::count_if(Calls.begin(), Calls.end(), [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
  }
  GlFrontTable f_;
};

// A list holds its state calls and its geometry in one vertex buffer; only
// glCallList runs them, in their order, as often as called.
TEST_F(GlLayerRecorded, ListsRecordStateAndGeometryAndRunOnlyWhenCalled) {
  const GLuint list = f_.GenLists(1);
  ASSERT_NE(list, 0u);
  f_.NewList(list, GL_COMPILE);
  f_.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  f_.BindTexture(GL_TEXTURE_2D, 9);
  f_.Begin(GL_QUADS);
  for (int i = 0; i < 8; ++i) {
    f_.TexCoord2f(float(i), 0);
    f_.Vertex3f(float(i), 0, 0);
  }
  f_.End();
  f_.EndList();
  EXPECT_EQ(Count("BindTexture"), 0) << "recorded calls ran at compile time";
  EXPECT_EQ(Count("DrawArrays"), 0);
  EXPECT_EQ(Count("GenBuffer"), 1);
  EXPECT_TRUE(Has("BufferData " + N(12 * 5 * sizeof(float)))) << "two quads are 12 triangle vertices";
  Calls.clear();
  f_.CallList(list);
  f_.CallList(list);
  const std::vector<std::string> once = {"TexParameter " + N(GL_TEXTURE_WRAP_S) + " " + N(GL_REPEAT),
                                         "BindTexture 9", "BindBuffer 100", "VertexPointer 3", "TexCoordPointer",
                                         "DrawArrays " + N(GL_TRIANGLES) + " 12", "BindBuffer 0"};
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(Calls, twice);
  Calls.clear();
  f_.DeleteLists(list, 1);
  EXPECT_EQ(Calls, std::vector<std::string>{"DeleteBuffer 100"});
  Calls.clear();
  f_.CallList(list);  // deleted: nothing
  EXPECT_TRUE(Calls.empty());
}

// Strips recorded one after another become one strip joined by degenerate
// triangles (two vertices, three after an odd strip); a state call between
// them keeps them apart.
TEST_F(GlLayerRecorded, NeighbouringGeometryInAListIsOneDraw) {
  const GLuint list = f_.GenLists(1);
  auto strip = [this](int n) {
    f_.Begin(GL_TRIANGLE_STRIP);
    for (int i = 0; i < n; ++i) f_.Vertex3f(float(i), float(i % 2), 0);
    f_.End();
  };
  f_.NewList(list, GL_COMPILE);
  strip(4);
  strip(5);
  strip(4);
  f_.BindTexture(GL_TEXTURE_2D, 2);
  strip(4);
  f_.EndList();
  EXPECT_EQ(Count("GenBuffer"), 2);
  Calls.clear();
  f_.CallList(list);
  std::vector<std::string> draws;
  for (const std::string& c : Calls)
    if (c.rfind("DrawArrays", 0) == 0 || c.rfind("BindTexture", 0) == 0) draws.push_back(c);
  EXPECT_EQ(draws, (std::vector<std::string>{"DrawArrays " + N(GL_TRIANGLE_STRIP) + " " + N(4 + 2 + 5 + 3 + 4),
                                             "BindTexture 2", "DrawArrays " + N(GL_TRIANGLE_STRIP) + " 4"}));
}

TEST_F(GlLayerRecorded, CompileAndExecuteNestingAndRefusals) {
  EXPECT_EQ(f_.GenLists(0), 0u);
  const GLuint a = f_.GenLists(2), b = a + 1;
  f_.NewList(a, GL_COMPILE_AND_EXECUTE);
  f_.BindTexture(GL_TEXTURE_2D, 3);
  f_.NewList(b, GL_COMPILE);  // refused: a list is open
  f_.CallList(a);             // a calls itself: bounded by the nesting limit
  f_.EndList();
  EXPECT_EQ(Count("BindTexture 3"), 1) << "compile-and-execute runs once while compiling";
  Calls.clear();
  f_.CallList(a);
  EXPECT_EQ(Count("BindTexture 3"), 64) << "self-call stops at 64 levels";
  f_.NewList(0, GL_COMPILE);  // refused
  Calls.clear();
  f_.BindTexture(GL_TEXTURE_2D, 4);
  EXPECT_TRUE(Has("BindTexture 4")) << "no list open: calls run";
}

// Modes the browser's GL refuses never reach it, and lines wider than one
// pixel reach it as triangles; thin lines stay lines.
TEST_F(GlLayerRecorded, ModesAndWideLinesReachTheGlAsItTakesThem) {
  const GLenum modes[] = {GL_QUADS, GL_QUAD_STRIP, GL_POLYGON, GL_LINE_STRIP, GL_LINE_LOOP};
  for (GLenum mode : modes) {
    f_.Begin(mode);
    for (int i = 0; i < 6; ++i) f_.Vertex3f(float(i) * 0.1f, float(i % 2) * 0.1f, 0);
    f_.End();
  }
  // quads: 6 vertices make one whole quad; strip: 2 quads; polygon: 4
  // triangles; strip of lines: 5 lines; loop: 6.
  const std::vector<std::string> draws = {
      "DrawArrays " + N(GL_TRIANGLES) + " 6", "DrawArrays " + N(GL_TRIANGLES) + " 12",
      "DrawArrays " + N(GL_TRIANGLES) + " 12", "DrawArrays " + N(GL_LINES) + " 10",
      "DrawArrays " + N(GL_LINES) + " 12"};
  std::vector<std::string> seen;
  for (const std::string& c : Calls)
    if (c.rfind("DrawArrays", 0) == 0) seen.push_back(c);
  EXPECT_EQ(seen, draws);
  EXPECT_EQ(Count("GenBuffer"), 1) << "one buffer refilled for every draw outside lists";
  Calls.clear();
  f_.LineWidth(5.5f);
  f_.Begin(GL_LINES);
  f_.Vertex3f(0, 0, 0);
  f_.Vertex3f(0.5f, 0, 0);
  f_.End();
  EXPECT_TRUE(Has("DrawArrays " + N(GL_TRIANGLES) + " 6")) << "a wide line is two triangles";
  EXPECT_TRUE(Has("VertexPointer 4")) << "corners come homogeneous";
  Calls.clear();
  f_.LineWidth(1.0f);
  f_.Begin(GL_LINES);
  f_.Vertex3f(0, 0, 0);
  f_.Vertex3f(0.5f, 0, 0);
  f_.End();
  EXPECT_TRUE(Has("DrawArrays " + N(GL_LINES) + " 2"));
}

TEST_F(GlLayerRecorded, HintsClampAndFormatsAreMended) {
  f_.Hint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
  EXPECT_EQ(Count("Hint"), 0);
  f_.Hint(0x8192, GL_NICEST);  // GL_GENERATE_MIPMAP_HINT passes
  EXPECT_EQ(Count("Hint"), 1);
  f_.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
  EXPECT_TRUE(Has("TexParameter " + N(GL_TEXTURE_WRAP_T) + " " + N(0x812F)));
  f_.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_CLAMP);  // not a wrap: as given
  EXPECT_TRUE(Has("TexParameter " + N(GL_TEXTURE_MIN_FILTER) + " " + N(GL_CLAMP)));
  const uint8_t rgb[3] = {1, 2, 3};
  f_.TexImage2D(GL_TEXTURE_2D, 0, 3, 1, 1, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb);
  f_.TexImage2D(GL_TEXTURE_2D, 0, 3, 1, 1, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, rgb);
  EXPECT_TRUE(Has("TexImage " + N(GL_RGB) + " " + N(GL_RGB)));
  EXPECT_TRUE(Has("TexImage " + N(GL_LUMINANCE) + " " + N(GL_LUMINANCE)));
}

// Conversions where the internal format drops channels: as OpenGL stores them.
TEST(GlLayerUpload, FormatsConvertOnlyWhereChannelsWouldBeDropped) {
  const uint8_t rgba[2 * 2 * 4] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160};
  GlUpload same = GlLayerTextureUpload(GL_RGBA, 2, 2, GL_RGB, GL_UNSIGNED_BYTE, rgba, 4);
  EXPECT_EQ(same.format, GLenum(GL_RGB));
  EXPECT_EQ(same.pixels, rgba);
  GlUpload noAlpha = GlLayerTextureUpload(3, 2, 2, GL_RGBA, GL_UNSIGNED_BYTE, rgba, 4);
  EXPECT_EQ(noAlpha.format, GLenum(GL_RGB));
  ASSERT_EQ(noAlpha.converted.size(), 16u) << "rows of 6 bytes padded to 8";
  EXPECT_EQ(noAlpha.pixels, noAlpha.converted.data());
  EXPECT_EQ(std::vector<uint8_t>(noAlpha.converted.begin(), noAlpha.converted.begin() + 6),
            (std::vector<uint8_t>{10, 20, 30, 50, 60, 70}));
  EXPECT_EQ(std::vector<uint8_t>(noAlpha.converted.begin() + 8, noAlpha.converted.begin() + 14),
            (std::vector<uint8_t>{90, 100, 110, 130, 140, 150}));
  GlUpload grey = GlLayerTextureUpload(1, 2, 2, GL_RGBA, GL_UNSIGNED_BYTE, rgba, 1);
  EXPECT_EQ(grey.format, GLenum(GL_LUMINANCE));
  EXPECT_EQ(grey.converted, (std::vector<uint8_t>{10, 50, 90, 130})) << "grey takes red";
  GlUpload alphaOnly = GlLayerTextureUpload(GL_ALPHA, 2, 2, GL_LUMINANCE_ALPHA, GL_UNSIGNED_BYTE, rgba, 1);
  EXPECT_EQ(alphaOnly.format, GLenum(GL_ALPHA));
  EXPECT_EQ(alphaOnly.converted, (std::vector<uint8_t>{20, 40, 60, 80}));
  GlUpload greyIntoRgb = GlLayerTextureUpload(3, 2, 2, GL_LUMINANCE, GL_UNSIGNED_BYTE, rgba, 4);
  EXPECT_EQ(greyIntoRgb.format, GLenum(GL_LUMINANCE));
  EXPECT_TRUE(greyIntoRgb.converted.empty());
}

TEST(GlLayerWideLine, CornersWidenAcrossTheMinorAxisInPixels) {
  const float a[4] = {-0.5f, 0.0f, 0.2f, 1.0f}, b[4] = {1.0f, 0.2f, 0.4f, 2.0f};
  float out[6][4];
  ASSERT_TRUE(GlLayerWideLine(a, b, 6.0f, 640, 480, out));
  // x-major: corners differ from their end in y only, by 3 pixels (3 / 240 in
  // device coordinates) after the division by w.
  EXPECT_FLOAT_EQ(out[0][1] / out[0][3], -3.0f / 240);
  EXPECT_FLOAT_EQ(out[1][1] / out[1][3], 3.0f / 240);
  EXPECT_FLOAT_EQ(out[2][1] / out[2][3], 0.1f + 3.0f / 240);
  EXPECT_FLOAT_EQ(out[2][0], 1.0f);
  EXPECT_FLOAT_EQ(out[2][2], 0.4f);
  const float c[4] = {0, -0.5f, 0, 1}, d[4] = {0.1f, 0.5f, 0, 1};
  ASSERT_TRUE(GlLayerWideLine(c, d, 4.0f, 640, 480, out));
  EXPECT_FLOAT_EQ(out[0][0], -2.0f / 320) << "y-major: widened along x";
  EXPECT_FLOAT_EQ(out[0][1], -0.5f);
  const float behind[4] = {0, 0, 0, -1};
  EXPECT_FALSE(GlLayerWideLine(a, behind, 4.0f, 640, 480, out));
}

}  // namespace
