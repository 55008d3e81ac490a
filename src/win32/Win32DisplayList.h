#pragma once
// Draws a plot display list (plot/DisplayList.h) with GDI: the Windows
// program's only part in what the trend window shows.

#include "plot/DisplayList.h"

#include <windows.h>

namespace kestrel {

// Draws into dc, whose units are the list's pixels (the caller scales for
// the screen's DPI), what may show inside clip (the part being repainted).
void DrawDisplayList(HDC dc, const plot::DisplayList& list, const plot::RectF& clip);

}  // namespace kestrel
