// Images: pixmaps and the per-generation drawable frames made from them.
#include "draw2d/image.h"

#include "draw2d/draw2d.h"

Ref<TImage> TImage::Load(const Ref<Object>& source, int flags, int maskRed, int maskGreen,
                         int maskBlue) {
  Ref<TPixmap> pixmap = std::dynamic_pointer_cast<TPixmap>(source);
  if (!pixmap && source) pixmap = PixmapLoad(source);
  if (!pixmap) return nullptr;
  if ((flags & IMAGEFLAG_MASKED) != 0 && AlphaBitsPerPixel[pixmap->format] == 0) {
    pixmap = PixmapKeyOut(pixmap, maskRed, maskGreen, maskBlue);
  }
  auto image = std::make_shared<TImage>();
  image->width = pixmap->width;
  image->height = pixmap->height;
  image->flags = flags;
  image->mask_r = maskRed;
  image->mask_g = maskGreen;
  image->mask_b = maskBlue;
  image->pixmaps.push_back(std::move(pixmap));
  image->frames.push_back(nullptr);
  image->seqs.push_back(0);
  return image;
}

Ref<TImageFrame> TImage::Frame(int index) {
  if (index < 0 || index >= static_cast<int>(pixmaps.size())) return nullptr;
  if (seqs[index] != graphicsGeneration) {
    frames[index] = CurrentDriver->CreateFrameFromPixmap(pixmaps[index], flags);
    seqs[index] = frames[index] ? graphicsGeneration : 0;
  }
  return frames[index];
}
