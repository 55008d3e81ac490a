// The main window's docking layout (see WindowDesign.h).

#include "station/WindowDesign.h"

#include <algorithm>

namespace kestrel::design {
namespace {

// What a parent's docked children share: its client area less the group
// box's caption line and frame.
Rect ClientOf(int parent, const Layout& layout, int width, int height) {
    if (parent == kWindow)
        return {0, 0, width, height};
    const Rect& r = layout[std::size_t(parent)];
    if (kControls[std::size_t(parent)].kind != Kind::GroupBox)
        return {0, 0, r.width, r.height};
    return {kGroupInset, kGroupInsetTop, std::max(0, r.width - 2 * kGroupInset),
            std::max(0, r.height - kGroupInsetTop - kGroupInset)};
}

}  // namespace

Layout LayoutWindow(int width, int height) {
    Layout layout{};
    // Parent by parent (a parent comes first): the top, then the bottom, then
    // the left, then what fills the rest; an undocked control stays where it
    // was designed.
    for (int parent = kWindow; parent < kControlCount; ++parent) {
        Rect free = ClientOf(parent, layout, width, height);
        for (Dock pass : {Dock::Top, Dock::Bottom, Dock::Left, Dock::Fill, Dock::None}) {
            for (std::size_t i = 0; i < kControls.size(); ++i) {
                const Control& c = kControls[i];
                if (c.parent != parent || c.dock != pass)
                    continue;
                Rect& r = layout[i];
                switch (pass) {
                case Dock::Top:
                    r = {free.left, free.top, free.width, c.rect.height};
                    free.top += c.rect.height;
                    free.height = std::max(0, free.height - c.rect.height);
                    break;
                case Dock::Bottom:
                    r = {free.left, free.top + free.height - c.rect.height, free.width, c.rect.height};
                    free.height = std::max(0, free.height - c.rect.height);
                    break;
                case Dock::Left:
                    r = {free.left, free.top, c.rect.width, free.height};
                    free.left += c.rect.width;
                    free.width = std::max(0, free.width - c.rect.width);
                    break;
                case Dock::Fill: r = free; break;
                case Dock::None: r = c.rect; break;
                }
            }
        }
    }
    return layout;
}

Rect InWindow(const Layout& layout, ControlId id) {
    Rect r = layout[std::size_t(id)];
    for (int p = kControls[std::size_t(id)].parent; p != kWindow; p = kControls[std::size_t(p)].parent) {
        r.left += layout[std::size_t(p)].left;
        r.top += layout[std::size_t(p)].top;
    }
    return r;
}

}  // namespace kestrel::design
