// Pictures drawn at another size than their own: the dialogs show their bitmaps at the size
// the screen's dots per inch give them, and the toolkits draw them from what this returns.
// A pure function; any thread may call it.
#pragma once

#include "framework/ResourceFile.h"

namespace ks {

// `image` resampled to `width` x `height`. Each axis is filtered on its own with a tent that
// spans one source pixel on either side of a destination pixel's centre when the picture
// grows (bilinear: smooth, never a pixel repeated in blocks) and as many as it covers when it
// shrinks (every source pixel counts). Colours are weighed with their alpha, so a transparent
// pixel lends no colour to its neighbours. Either side outside 1..kMaxDibSide, or an image
// whose pixels do not match its size, gives an empty image (width and height 0).
CImageRgba ScaleImage(const CImageRgba& image, int width, int height);

// The size in pixels of `pixels` at `dpi` dots per inch, for a size made for 96 (Windows'
// MulDiv rounding, at least 1).
int ScaleForDpi(int pixels, int dpi);

}  // namespace ks
