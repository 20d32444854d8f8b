// Presentation of a software window's pixels with GDI: a rectangle of RGBA bytes is
// converted to the device's BGR order a band at a time and handed to SetDIBitsToDevice,
// only the part that changed. Used by the software windows of glcontext.cpp. State: the
// staging band.
#pragma once

#include <cstdint>

struct HDC__;

// Shows a rectangle of RGBA pixels (row 0 on top, `pitch` bytes a row) at the same place
// in the window of `device_context`. False when GDI refuses it.
bool GDIShowPixels(HDC__* device_context, const uint8_t* rgba, int pitch, int x, int y,
                   int width, int height);
