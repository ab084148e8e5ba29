// Pictures as GDI+ bitmaps: GDI+ start-up, decoding from bytes with the
// header check in front, and the three pictures built into the program.
#pragma once

#include <cstddef>

#include "core/graphics_handles_win.h"

// Starts GDI+ once for the process; the token is not kept.
void startGdiplus();

// Decodes image bytes into a GDI+ bitmap, or nothing. Bytes that are not an
// image of a known format, or that declare absurd sides, never reach GDI+.
ImageHandle decodeImage(const char* data, size_t size);

// False (sizes untouched) for no image.
bool imageSize(const ImageHandle& image, unsigned* width, unsigned* height);

// One of the pictures in the program's resources (resources/resource_ids.h).
ImageHandle decodeBuiltInImage(int resourceId);

// The background and the logo, and the default banner unless a banner is
// already there. Start-up only: no other thread runs yet.
void loadBuiltInImages();
