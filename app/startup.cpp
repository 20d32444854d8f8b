// Start-up sequence. Each Start function also starts the modules it depends on, so the
// order below only has to put the graphics drivers after the graphics module; the software
// 2D driver starts last so that its registration is the one in force.
#include "app/startup.h"

#include <cfenv>      // for std::fesetround
#include <cstdio>
#include <cstdlib>    // for std::abort
#include <exception>  // for std::set_terminate

#include "app/settings.h"  // for TRenderer
#include "draw2d/draw2d.h"
#include "draw2d/gl/glvex2d.h"
#include "draw2d/soft/softvex2d.h"
#include "graphics/glgraphics.h"
#include "graphics/graphics.h"
#include "pixmap/pixmap.h"
#include "pixmap/png/png.h"
#include "random/random.h"
#include "runtime/runtime.h"
#include "runtime/text.h"
#include "stream/stream.h"

namespace {

// An exception nobody caught ends the program with one readable line instead of a bare abort.
[[noreturn]] void UnhandledFailure() {
  std::string what = "unknown failure";
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& error) {
      what = error.what();
    } catch (const Object& object) {
      what = TextToUtf8(object.ToString());
    } catch (...) {
    }
  }
  std::fprintf(stderr, "Fatal error: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

bool started = false;

}  // namespace

void StartSheetBuilder(int argc, char** argv) {
  if (started) return;
  started = true;
  std::fesetround(FE_TONEAREST);
  std::set_terminate(UnhandledFailure);
  StartRuntime(argc, argv);
  StartStream();
  StartPixmap();
  StartPNG();
  StartRandom();
  StartGraphics();
  StartGLGraphics();
  StartDraw2D();
  StartGLVex2D();
  StartSoftVex2D();
}

void SelectRenderer(TRenderer renderer) {
  if (renderer != TRenderer::OpenGL) return;
  TVex2DDriver* driver = GLVex2DDriver();
  if (driver && CurrentGraphicsDriver() != driver) {
    SelectGraphicsDriver(driver, GRAPHICS_BACKBUFFER);
  }
}
