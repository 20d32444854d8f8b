// 2D front end against the recording driver: stored values, what reaches the driver and in
// which order, the transform, the viewport through the virtual resolution, the primitives'
// driver arguments, and text measured and laid out with the built-in font.
#include <gtest/gtest.h>

#include <cmath>

#include "draw2d/draw2d.h"
#include "draw2d/font.h"
#include "draw2d/recording_driver.h"
#include "graphics/event.h"
#include "graphics/graphics.h"
#include "graphics/input.h"
#include "graphics/system.h"
#include "support/environment.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

TRecordingDriver& Recorder() {
  static TRecordingDriver recorder;
  return recorder;
}

class FrontEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    UnsetEnvironment("DISPLAY");  // the graphics module may start SDL: never on a real display
    StartDraw2D();
    SelectGraphicsDriver(&Recorder(), 2);
    context = OpenGraphics(kWidth, kHeight, 0, 0, 0);
    ASSERT_NE(context, nullptr);
    Recorder().Clear();
  }
  TRecordingDriver& rec = Recorder();
  Ref<TGraphics> context;
};

TEST_F(FrontEnd, NewContextStartsWhiteOpaqueMaskedOverTheWholeContext) {
  TVex2DGraphics* g = CurrentGraphics;
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g, TVex2DGraphics::Current());
  EXPECT_EQ(CurrentDriver, &rec);
  int r, gr, b;
  GetColor(r, gr, b);
  EXPECT_EQ(r, 255);
  EXPECT_EQ(gr, 255);
  EXPECT_EQ(b, 255);
  EXPECT_EQ(GetAlpha(), 1.0f);
  GetClsColor(r, gr, b);
  EXPECT_EQ(r + gr + b, 0);
  EXPECT_EQ(GetBlend(), BLEND_MASK);
  EXPECT_EQ(GetLineWidth(), 1.0f);
  int x, y, w, h;
  GetViewport(x, y, w, h);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(w, kWidth);
  EXPECT_EQ(h, kHeight);
  EXPECT_EQ(g->vres_width, 640.0f);
  EXPECT_EQ(g->vres_height, 480.0f);
  EXPECT_EQ(g->g_width, kWidth);
  EXPECT_NE(GetImageFont(), nullptr);
  // The identity carries a negative zero in tform_iy.
  EXPECT_EQ(g->tform_ix, 1.0f);
  EXPECT_EQ(g->tform_iy, 0.0f);
  EXPECT_TRUE(std::signbit(g->tform_iy));
  EXPECT_EQ(g->tform_jx, 0.0f);
  EXPECT_FALSE(std::signbit(g->tform_jx));
  EXPECT_EQ(g->tform_jy, 1.0f);
}

TEST_F(FrontEnd, FirstMakeCurrentReplaysStateThenClearsAndPresentsTwice) {
  Ref<TGraphics> second = CreateGraphics(200, 100, 0, 0, 0);
  ASSERT_NE(second, nullptr);
  rec.Clear();
  SetGraphics(second);
  std::vector<DrawOp> expected = {
      DrawOp::SetGraphics,  DrawOp::SetResolution, DrawOp::SetBlend,    DrawOp::SetColor,
      DrawOp::SetAlpha,     DrawOp::SetClsColor,   DrawOp::SetLineWidth, DrawOp::SetTransform,
      DrawOp::SetTransform, DrawOp::SetViewport,   DrawOp::Cls,         DrawOp::Flip,
      DrawOp::Cls,          DrawOp::Flip};
  EXPECT_EQ(rec.Ops(), expected);
  for (const DrawRecord& flip : rec.All(DrawOp::Flip)) EXPECT_EQ(flip.a[0], 0.0f);
  const DrawRecord* viewport = rec.Last(DrawOp::SetViewport);
  EXPECT_EQ(viewport->a[2], 200.0f);
  EXPECT_EQ(viewport->a[3], 100.0f);

  // Back to the first context and again to the second: no more clearing.
  SetGraphics(context);
  rec.Clear();
  SetGraphics(second);
  EXPECT_EQ(rec.Count(DrawOp::Cls), 0u);
  EXPECT_EQ(rec.Count(DrawOp::Flip), 0u);
  EXPECT_EQ(rec.Count(DrawOp::SetViewport), 1u);
  CloseGraphics(second);
}

TEST_F(FrontEnd, SwitchingContextsReplaysEachContextsOwnState) {
  SetColor(10, 20, 30);
  SetAlpha(0.25f);
  SetBlend(BLEND_ALPHA);
  SetLineWidth(3.0f);
  SetClsColor(1, 2, 3);
  SetOrigin(5, 6);
  SetHandle(7, 8);
  Ref<TGraphics> other = CreateGraphics(100, 100, 0, 0, 0);
  SetGraphics(other);
  EXPECT_EQ(GetBlend(), BLEND_MASK);  // the other context's own default
  SetGraphics(context);
  rec.Clear();
  SetGraphics(other);
  SetGraphics(context);
  const DrawRecord* color = rec.Last(DrawOp::SetColor);
  EXPECT_EQ(color->a[0], 10.0f);
  EXPECT_EQ(color->a[1], 20.0f);
  EXPECT_EQ(color->a[2], 30.0f);
  EXPECT_EQ(rec.Last(DrawOp::SetAlpha)->a[0], 0.25f);
  EXPECT_EQ(rec.Last(DrawOp::SetBlend)->a[0], 3.0f);
  EXPECT_EQ(rec.Last(DrawOp::SetLineWidth)->a[0], 3.0f);
  EXPECT_EQ(rec.Last(DrawOp::SetClsColor)->a[2], 3.0f);
  float x, y;
  GetOrigin(x, y);
  EXPECT_EQ(x, 5.0f);
  EXPECT_EQ(y, 6.0f);
  GetHandle(x, y);
  EXPECT_EQ(x, 7.0f);
  EXPECT_EQ(y, 8.0f);
  CloseGraphics(other);
}

TEST_F(FrontEnd, SettersStoreValuesUnclampedAndForwardThemAtOnce) {
  SetColor(300, -5, 0);
  int r, g, b;
  GetColor(r, g, b);
  EXPECT_EQ(r, 300);
  EXPECT_EQ(g, -5);
  EXPECT_EQ(b, 0);
  const DrawRecord* color = rec.Last(DrawOp::SetColor);
  ASSERT_NE(color, nullptr);
  EXPECT_EQ(color->a[0], 300.0f);
  EXPECT_EQ(color->a[1], -5.0f);

  SetAlpha(1.5f);
  EXPECT_EQ(GetAlpha(), 1.5f);
  SetAlpha(GetAlpha() * 0.5f);
  EXPECT_EQ(GetAlpha(), 0.75f);
  EXPECT_EQ(rec.Last(DrawOp::SetAlpha)->a[0], 0.75f);

  SetBlend(17);
  EXPECT_EQ(GetBlend(), 17);
  EXPECT_EQ(rec.Last(DrawOp::SetBlend)->a[0], 17.0f);

  SetLineWidth(2.5f);
  EXPECT_EQ(GetLineWidth(), 2.5f);
  EXPECT_EQ(rec.Last(DrawOp::SetLineWidth)->a[0], 2.5f);

  SetClsColor(-1, 256, 7);
  GetClsColor(r, g, b);
  EXPECT_EQ(r, -1);
  EXPECT_EQ(g, 256);
  EXPECT_EQ(b, 7);

  SetMaskColor(1, 2, 3);
  GetMaskColor(r, g, b);
  EXPECT_EQ(r * 100 + g * 10 + b, 123);
}

TEST_F(FrontEnd, HandleIsStoredNegatedAndOriginAndHandleReachNoDriverCall) {
  rec.Clear();
  SetHandle(4, 2);
  SetOrigin(100, 50);
  EXPECT_TRUE(rec.records.empty());
  EXPECT_EQ(CurrentGraphics->handle_x, -4.0f);
  EXPECT_EQ(CurrentGraphics->handle_y, -2.0f);
  float x, y;
  GetHandle(x, y);
  EXPECT_EQ(x, 4.0f);
  EXPECT_EQ(y, 2.0f);
}

TEST_F(FrontEnd, RotationAndScaleBuildTheMatrix) {
  SetRotation(90);
  TVex2DGraphics* g = CurrentGraphics;
  EXPECT_NEAR(g->tform_ix, 0.0f, 1e-7f);
  EXPECT_NE(g->tform_ix, 0.0f);  // the cosine of 90 degrees is not exactly 0
  EXPECT_EQ(g->tform_iy, -1.0f);
  EXPECT_EQ(g->tform_jx, 1.0f);
  EXPECT_NEAR(g->tform_jy, 0.0f, 1e-7f);
  EXPECT_EQ(GetRotation(), 90.0f);
  const DrawRecord* t = rec.Last(DrawOp::SetTransform);
  EXPECT_EQ(t->a[1], -1.0f);
  EXPECT_EQ(t->a[2], 1.0f);

  rec.Clear();
  SetRotationScale(30, 2, 3);
  EXPECT_EQ(rec.Count(DrawOp::SetTransform), 1u);
  EXPECT_FLOAT_EQ(g->tform_ix, 1.7320508f);
  EXPECT_FLOAT_EQ(g->tform_iy, -1.5f);
  EXPECT_FLOAT_EQ(g->tform_jx, 1.0f);
  EXPECT_FLOAT_EQ(g->tform_jy, 2.5980762f);
  float sx, sy;
  GetScale(sx, sy);
  EXPECT_EQ(sx, 2.0f);
  EXPECT_EQ(sy, 3.0f);

  SetScale(1, 1);
  SetRotation(0);
  EXPECT_EQ(g->tform_ix, 1.0f);
  EXPECT_TRUE(std::signbit(g->tform_iy));
}

TEST_F(FrontEnd, ViewportIsConvertedThroughTheVirtualResolution) {
  SetViewport(0, 0, 640, 479);
  const DrawRecord* v = rec.Last(DrawOp::SetViewport);
  EXPECT_EQ(v->a[3], 479.0f);

  SetVirtualResolution(320, 240);
  const DrawRecord* res = rec.Last(DrawOp::SetResolution);
  EXPECT_EQ(res->a[0], 320.0f);
  EXPECT_EQ(res->a[1], 240.0f);
  EXPECT_EQ(CurrentGraphics->vres_mousexscale, 0.5f);
  EXPECT_EQ(CurrentGraphics->vres_mouseyscale, 0.5f);
  SetViewport(10, 10, 100, 100);
  v = rec.Last(DrawOp::SetViewport);
  EXPECT_EQ(v->a[0], 20.0f);
  EXPECT_EQ(v->a[1], 20.0f);
  EXPECT_EQ(v->a[2], 200.0f);
  EXPECT_EQ(v->a[3], 200.0f);
  int x, y, w, h;
  GetViewport(x, y, w, h);
  EXPECT_EQ(x, 10);
  EXPECT_EQ(w, 100);

  // A scale that does not divide evenly floors each edge, not the width.
  SetVirtualResolution(1280, 960);  // 2 virtual units per pixel
  SetViewport(3, 5, 6, 6);
  v = rec.Last(DrawOp::SetViewport);
  EXPECT_EQ(v->a[0], 1.0f);  // floor(1.5)
  EXPECT_EQ(v->a[1], 2.0f);  // floor(2.5)
  EXPECT_EQ(v->a[2], 3.0f);  // floor(4.5) - 1
  EXPECT_EQ(v->a[3], 3.0f);  // floor(5.5) - 2
}

// A system driver that pumps nothing and remembers where the pointer was sent.
class TPointerSystem : public TSystemDriver {
 public:
  void Poll() override {}
  void Wait() override {}
  void MoveMouse(int x, int y) override {
    moved_x = x;
    moved_y = y;
  }
  void SetMouseVisible(int) override {}
  void Notify(const String&, int) override {}
  int Confirm(const String&, int) override { return 0; }
  int Proceed(const String&, int) override { return 0; }
  String RequestFile(const String&, const String&, int, const String&) override { return {}; }
  String RequestDir(const String&, const String&) override { return {}; }
  int OpenURL(const String&) override { return 0; }
  int moved_x = -1, moved_y = -1;
};

TEST_F(FrontEnd, VirtualMouseIsScaledByTheVirtualResolution) {
  Ref<TSystemDriver> platform = CurrentSystemDriver;
  auto pointer = std::make_shared<TPointerSystem>();
  CurrentSystemDriver = pointer;
  SetVirtualResolution(320, 960);  // half as many units across, twice as many down
  EmitEvent(CreateEvent(EVENT_MOUSEMOVE, nullptr, 0, 0, 0, 0, nullptr));
  MouseDeltaX();
  MouseDeltaY();
  EmitEvent(CreateEvent(EVENT_MOUSEMOVE, nullptr, 0, 0, 101, 33, nullptr));
  EXPECT_EQ(VirtualMouseX(), 50.5f);
  EXPECT_EQ(VirtualMouseY(), 66.0f);
  EXPECT_EQ(VirtualMouseDeltaX(), 50.5f);
  EXPECT_EQ(VirtualMouseDeltaY(), 66.0f);
  MoveVirtualMouse(25.9f, 7.0f);
  EXPECT_EQ(pointer->moved_x, 51);  // 51.8 truncated
  EXPECT_EQ(pointer->moved_y, 3);   // 3.5 truncated
  CurrentSystemDriver = platform;
}

TEST_F(FrontEnd, ResizedContextLosesItsVirtualResolutionOnValidate) {
  SetVirtualResolution(320, 240);
  rec.contexts.back()->Resize(800, 600);
  SetGraphics(context);  // the graphics module reads the new size, then the state replays
  EXPECT_EQ(CurrentGraphics->g_width, 800);
  EXPECT_EQ(CurrentGraphics->vres_width, 800.0f);
  EXPECT_EQ(CurrentGraphics->vres_mousexscale, 1.0f);
  const DrawRecord* res = rec.Last(DrawOp::SetResolution);
  EXPECT_EQ(res->a[0], 800.0f);
  EXPECT_EQ(res->a[1], 600.0f);
}

TEST_F(FrontEnd, RectOvalAndLineGiveLocalShapeFromHandleAndTranslationFromOrigin) {
  SetOrigin(100, 50);
  SetHandle(2, 3);
  DrawRect(10, 20, 4, 5);
  const DrawRecord* r = rec.Last(DrawOp::DrawRect);
  float expected_rect[6] = {-2, -3, 2, 2, 110, 70};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(r->a[i], expected_rect[i]) << i;

  DrawOval(1, 2, -8, 6);
  const DrawRecord* o = rec.Last(DrawOp::DrawOval);
  float expected_oval[6] = {-2, -3, -10, 3, 101, 52};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(o->a[i], expected_oval[i]) << i;

  DrawLine(1, 2, 5, 9, 0);
  const DrawRecord* l = rec.Last(DrawOp::DrawLine);
  float expected_line[6] = {-2, -3, 2, 4, 101, 52};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(l->a[i], expected_line[i]) << i;
  EXPECT_EQ(rec.Count(DrawOp::Plot), 0u);
}

TEST_F(FrontEnd, ClosingPixelIsTheTransformedLineEnd) {
  SetOrigin(100, 50);
  DrawLine(1, 2, 5, 9, 1);
  const DrawRecord* p = rec.Last(DrawOp::Plot);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->a[0], 105.0f);
  EXPECT_EQ(p->a[1], 59.0f);

  // Turned clockwise by 90 degrees about the start: local end (4, 7) lands at (-7, 4).
  SetRotation(90);
  DrawLine(1, 2, 5, 9, 1);
  p = rec.Last(DrawOp::Plot);
  EXPECT_NEAR(p->a[0], 101 - 7, 1e-4);
  EXPECT_NEAR(p->a[1], 52 + 4, 1e-4);

  // Zero length: the line and its closing pixel at the start.
  SetRotation(0);
  rec.Clear();
  DrawLine(2, 2, 2, 2, 1);
  EXPECT_EQ(rec.Count(DrawOp::DrawLine), 1u);
  p = rec.Last(DrawOp::Plot);
  EXPECT_EQ(p->a[0], 102.0f);
  EXPECT_EQ(p->a[1], 52.0f);
}

TEST_F(FrontEnd, PlotPolyPixmapAndGrabIgnoreWhatDoesNotApplyToThem) {
  SetOrigin(100, 50);
  SetHandle(2, 2);
  SetRotation(45);
  Plot(10, 10);
  const DrawRecord* p = rec.Last(DrawOp::Plot);
  EXPECT_EQ(p->a[0], 110.0f);
  EXPECT_EQ(p->a[1], 60.0f);

  std::vector<float> points = {0, 0, 10, 0, 10, 10, 0, 10};
  DrawPoly(points);
  const DrawRecord* poly = rec.Last(DrawOp::DrawPoly);
  EXPECT_EQ(poly->a[0], 8.0f);
  EXPECT_EQ(poly->a[1], -2.0f);
  EXPECT_EQ(poly->a[2], -2.0f);
  EXPECT_EQ(poly->a[3], 100.0f);
  EXPECT_EQ(poly->a[4], 50.0f);
  std::vector<float> passed(rec.poly_values.begin() + static_cast<long>(poly->a[5]),
                            rec.poly_values.end());
  EXPECT_EQ(passed, points);

  Ref<TPixmap> pixmap = TPixmap::Create(3, 2, PIXFMT_RGBA32);
  DrawPixmap(pixmap, 4, 5);
  const DrawRecord* d = rec.Last(DrawOp::DrawPixmap);
  EXPECT_EQ(d->a[2], 4.0f);
  EXPECT_EQ(d->a[3], 5.0f);

  SetVirtualResolution(320, 240);
  Ref<TPixmap> grabbed = GrabPixmap(1, 2, 3, 4);
  const DrawRecord* g = rec.Last(DrawOp::GrabPixmap);
  EXPECT_EQ(g->a[0], 1.0f);
  EXPECT_EQ(g->a[1], 2.0f);
  EXPECT_EQ(g->a[2], 3.0f);
  EXPECT_EQ(g->a[3], 4.0f);
  ASSERT_NE(grabbed, nullptr);
  EXPECT_EQ(grabbed->width, 3);
  EXPECT_EQ(grabbed->height, 4);
}

TEST_F(FrontEnd, ClsAndCloseReachTheContext) {
  Cls();
  EXPECT_EQ(rec.Count(DrawOp::Cls), 1u);
  Ref<TGraphics> other = CreateGraphics(16, 16, 0, 0, 0);
  auto wrapper = std::static_pointer_cast<TVex2DGraphics>(other);
  Ref<TRecordingGraphics> platform = rec.contexts.back();
  EXPECT_EQ(wrapper->Driver(), &rec);
  wrapper->Close();
  EXPECT_TRUE(platform->closed);
  // A closed context has no driver and no size left.
  EXPECT_EQ(wrapper->Driver(), nullptr);
  int w = -1, h = -1, depth = -1, hertz = -1, flags = -1;
  wrapper->GetSettings(w, h, depth, hertz, flags);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  platform->closed = false;
  wrapper->Close();  // a second close reaches nothing
  EXPECT_FALSE(platform->closed);
}

// --- text

TEST_F(FrontEnd, TextWidthCountsEightPerCharacterItCanDraw) {
  EXPECT_EQ(TextWidth(u"Finished : Press any key to Quit"), 256);
  EXPECT_EQ(TextHeight(), 16);
  EXPECT_EQ(TextWidth(u""), 0);
  // A tab, a line feed and characters past 127 are absent.
  EXPECT_EQ(TextWidth(u"A\tB\n\u00e9\u20ac\x7f"), 24);
  SetScale(2, 2);
  EXPECT_EQ(TextWidth(u"AB"), 16);
  EXPECT_EQ(TextHeight(), 16);
}

TEST_F(FrontEnd, DrawTextPutsEachGlyphInItsCell) {
  DrawText(u"AB", 4, 10);
  std::vector<DrawRecord> quads = rec.All(DrawOp::FrameDraw);
  ASSERT_EQ(quads.size(), 2u);
  float first[6] = {0, 0, 8, 16, 4, 10};
  float second[6] = {0, 0, 8, 16, 12, 10};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(quads[0].a[i], first[i]) << i;
    EXPECT_EQ(quads[1].a[i], second[i]) << i;
  }
  const DrawRecord* source = rec.Last(DrawOp::FrameSource);
  EXPECT_EQ(source->a[2], 8.0f);
  EXPECT_EQ(source->a[3], 16.0f);
}

TEST_F(FrontEnd, DrawTextSkipsCharactersWithoutGlyphsWithoutMovingThePen) {
  DrawText(u"A\t\u00e9 B", 0, 0);
  std::vector<DrawRecord> quads = rec.All(DrawOp::FrameDraw);
  // "A", the space (an image of its own, all transparent) and "B".
  ASSERT_EQ(quads.size(), 3u);
  EXPECT_EQ(quads[1].a[4], 8.0f);
  EXPECT_EQ(quads[2].a[4], 16.0f);
}

TEST_F(FrontEnd, DrawTextFollowsScaleRotationHandleAndOrigin) {
  SetScale(2, 2);
  DrawText(u"AB", 4, 10);
  std::vector<DrawRecord> quads = rec.All(DrawOp::FrameDraw);
  ASSERT_EQ(quads.size(), 2u);
  EXPECT_EQ(quads[1].a[4], 20.0f);  // 16 pixels apart
  EXPECT_EQ(quads[1].a[5], 10.0f);

  SetScale(1, 1);
  SetRotation(90);
  rec.Clear();
  DrawText(u"AB", 4, 10);
  quads = rec.All(DrawOp::FrameDraw);
  ASSERT_EQ(quads.size(), 2u);
  EXPECT_NEAR(quads[0].a[5], 10.0f, 1e-5);
  EXPECT_NEAR(quads[1].a[5], 18.0f, 1e-5);  // stepping down the screen
  EXPECT_NEAR(quads[1].a[4], 4.0f, 1e-5);

  SetRotation(0);
  SetOrigin(100, 50);
  SetHandle(8, 4);
  rec.Clear();
  DrawText(u"A", 0, 0);
  const DrawRecord* q = rec.Last(DrawOp::FrameDraw);
  EXPECT_EQ(q->a[4], 92.0f);
  EXPECT_EQ(q->a[5], 46.0f);
}

TEST_F(FrontEnd, GlyphFramesAreMadeOncePerGraphicsGeneration) {
  DrawText(u"AAA", 0, 0);
  DrawText(u"A", 0, 20);
  EXPECT_EQ(rec.Count(DrawOp::CreateFrame), 1u);
  const DrawRecord* made = rec.Last(DrawOp::CreateFrame);
  EXPECT_EQ(made->a[0], 8.0f);
  EXPECT_EQ(made->a[1], 16.0f);
  EXPECT_EQ(made->a[2], 0.0f);  // no filtering, no mipmaps

  // A new context (generation) makes the frame again.
  OpenGraphics(kWidth, kHeight, 0, 0, 0);
  rec.Clear();
  DrawText(u"A", 0, 0);
  EXPECT_EQ(rec.Count(DrawOp::CreateFrame), 1u);
}

TEST_F(FrontEnd, NullImageFontSelectsTheBuiltInOne) {
  Ref<TImageFont> builtin = GetImageFont();
  auto other = std::make_shared<TImageFont>(*builtin);
  SetImageFont(other);
  EXPECT_EQ(GetImageFont(), other);
  SetImageFont(nullptr);
  EXPECT_EQ(GetImageFont(), builtin);
  EXPECT_EQ(LoadImageFont(std::make_shared<TStringObject>(u"nothing.ttf"), 12, 0), nullptr);
}

TEST_F(FrontEnd, DrawImageUsesTheImagesOwnHandle) {
  Ref<TPixmap> pixmap = TPixmap::Create(6, 4, PIXFMT_RGBA32);
  Ref<TImage> image = TImage::Load(pixmap, 0, 0, 0, 0);
  ASSERT_NE(image, nullptr);
  image->handle_x = 3;
  image->handle_y = 2;
  SetOrigin(10, 20);
  SetHandle(100, 100);  // not used by images
  DrawImage(image, 1, 1);
  const DrawRecord* q = rec.Last(DrawOp::FrameDraw);
  float expected[6] = {-3, -2, 3, 2, 11, 21};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(q->a[i], expected[i]) << i;
  DrawImageRect(image, 0, 0, 12, 8);
  q = rec.Last(DrawOp::FrameDraw);
  EXPECT_EQ(q->a[2], 9.0f);
  EXPECT_EQ(q->a[3], 6.0f);
  const DrawRecord* s = rec.Last(DrawOp::FrameSource);
  EXPECT_EQ(s->a[2], 6.0f);  // the whole frame, stretched
  EXPECT_EQ(s->a[3], 4.0f);

  // A frame the image does not have draws nothing.
  rec.Clear();
  DrawImage(image, 0, 0, 1);
  DrawImage(image, 0, 0, -1);
  EXPECT_EQ(rec.Count(DrawOp::FrameDraw), 0u);

  // A driver that makes no frame draws nothing, and asks again next time.
  rec.make_frames = false;
  Ref<TImage> again = TImage::Load(pixmap, 0, 0, 0, 0);
  rec.Clear();
  DrawImage(again, 0, 0);
  DrawImage(again, 0, 0);
  rec.make_frames = true;
  EXPECT_EQ(rec.Count(DrawOp::FrameDraw), 0u);
  EXPECT_EQ(rec.Count(DrawOp::CreateFrame), 2u);
}

}  // namespace
