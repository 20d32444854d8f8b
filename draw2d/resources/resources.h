// Built-in data resources: blocks of bytes compiled into the program and looked up by name
// (the built-in font "corvanefont.bin").
// Depends on the runtime core. State: the resource table, in resources.cpp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "runtime/object.h"

// One block of bytes that lives for the whole process.
struct TResource {
  const uint8_t* bytes = nullptr;
  size_t size = 0;
};

// Adds (or replaces) the resource called name. The bytes are not copied.
void RegisterResource(const String& name, const uint8_t* bytes, size_t size);
// The resource called name, or null when none is registered under it.
const TResource* FindResource(const String& name);

// Registers every resource the 2D layer carries. Runs once, from StartDraw2D.
void RegisterBuiltinResources();

// The 1,536 bytes of the built-in 8 x 16 font: 16 rows of 96 glyph bytes, bit k = column k.
extern const std::array<uint8_t, 1536> corvanefont_bin;
