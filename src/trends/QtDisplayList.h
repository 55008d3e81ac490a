#pragma once
// Draws a plot display list (plot/DisplayList.h) with QPainter: the Linux
// program's only part in what the trend window shows.

#include "plot/DisplayList.h"

class QPainter;

namespace kestrel {

// Draws what may show inside clip (the part of the canvas being repainted).
void DrawDisplayList(QPainter& painter, const plot::DisplayList& list, const plot::RectF& clip);

}  // namespace kestrel
