// A 2D driver that accepts every call and draws nothing, with a platform context that is only
// a size: benchmarks use it to time the 2D front end and the sprite generator without a
// renderer. The line and point arguments are kept observable so nothing is optimised away.
#pragma once

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "draw2d/draw2d.h"
#include "graphics/graphics.h"

class TNullGraphics : public TGraphics {
 public:
  TNullGraphics(TGraphicsDriver* driver, int width, int height)
      : driver_(driver), width_(width), height_(height) {}
  TGraphicsDriver* Driver() override { return driver_; }
  int GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) override {
    width = width_;
    height = height_;
    depth = hertz = flags = 0;
    return 0;
  }
  int Close() override { return 0; }

 private:
  TGraphicsDriver* driver_;
  int width_, height_;
};

class TNullDriver : public TVex2DDriver {
 public:
  std::vector<TGraphicsMode> GraphicsModes() override { return {}; }
  Ref<TGraphics> AttachGraphics(int, int) override { return nullptr; }
  Ref<TGraphics> CreateGraphics(int width, int height, int, int, int) override {
    return TVex2DGraphics::Create(std::make_shared<TNullGraphics>(this, width, height), this);
  }
  int SetGraphics(const Ref<TGraphics>& g) override {
    if (g) {
      static_cast<TVex2DGraphics&>(*g).MakeCurrent();
    } else {
      TVex2DGraphics::ClearCurrent();
    }
    return 0;
  }
  int Flip(int) override { return 0; }
  Ref<TImageFrame> CreateFrameFromPixmap(const Ref<TPixmap>&, int) override { return nullptr; }
  void SetBlend(int) override {}
  void SetAlpha(float) override {}
  void SetColor(int, int, int) override {}
  void SetClsColor(int, int, int) override {}
  void SetViewport(int, int, int, int) override {}
  void SetTransform(float, float, float, float) override {}
  void SetLineWidth(float) override {}
  void Cls() override {}
  void Plot(float x, float y) override { benchmark::DoNotOptimize(x + y); }
  void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) override {
    benchmark::DoNotOptimize(x0 + y0 + x1 + y1 + tx + ty);
  }
  void DrawLineAndPlot(float x0, float y0, float x1, float y1, float tx, float ty, float px,
                       float py) override {
    benchmark::DoNotOptimize(x0 + y0 + x1 + y1 + tx + ty + px + py);
  }
  void DrawRect(float, float, float, float, float, float) override {}
  void DrawOval(float, float, float, float, float, float) override {}
  void DrawPoly(const std::vector<float>&, float, float, float, float) override {}
  void DrawPixmap(const Ref<TPixmap>&, int, int) override {}
  Ref<TPixmap> GrabPixmap(int, int, int, int) override { return nullptr; }
  void SetResolution(float, float) override {}
};
