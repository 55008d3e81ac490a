#pragma once
// Draws a plot display list (plot/DisplayList.h) with QPainter: the Linux
// program's only part in what the trend window shows.

#include "plot/DisplayList.h"

class QPainter;

namespace kestrel {

void DrawDisplayList(QPainter& painter, const plot::DisplayList& list);

}  // namespace kestrel
