// A receive pane's text, wrapped lines, trim, caret, selection and scrolling
// (see RxPaneModel.h).
//
// Sections:
//   The wrapped lines         the wrap rule, wrapping on demand, line lookups
//   Size, text and the trim   columns and rows, appending, the one-second trim,
//                             Clear, cutting and replacing text
//   Editing                   typing, deleting, the caret and its moves
//   Scrolling                 the top line, scroll steps
//   Drawing                   a row's text, selection and caret; what a repaint
//                             must draw
//   Selection                 positions under the mouse, press and drag,
//                             select all, the selected text

#include "station/RxPaneModel.h"

#include <algorithm>
#include <cmath>

namespace kestrel {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// What a word move skips: blanks and line breaks.
bool IsSpace(char c) { return IsBlank(c) || c == '\n'; }

}  // namespace

std::size_t NextLineStart(std::string_view t, std::size_t start, std::size_t columns) {
    const std::size_t n = t.size();
    columns = std::max<std::size_t>(columns, 1);
    std::size_t lastBreak = start;
    for (std::size_t at = start; at < n;) {
        // Only as far as the edge: a word that reaches past it no longer fits,
        // however long it is.
        std::size_t wordEnd = at;
        while (wordEnd < n && wordEnd - start <= columns && !IsBlank(t[wordEnd]))
            ++wordEnd;
        if (wordEnd - start > columns)
            break;
        std::size_t next = wordEnd;
        while (next < n && IsBlank(t[next]))
            ++next;
        if (next == n)
            return n;
        lastBreak = at = next;
    }
    if (lastBreak > start)
        return lastBreak;
    return std::min(n, start + columns);  // a word longer than a line
}

// ---- The wrapped lines --------------------------------------------------------

RxPaneModel::Pos RxPaneModel::paragraphStart(Pos pos) const {
    const std::size_t br = pos == 0 ? std::string::npos : text_.rfind('\n', pos - 1);
    return br == std::string::npos ? 0 : br + 1;
}

std::size_t RxPaneModel::tailLines() const { return std::size_t(std::max(rows_, kTrimLines)) + 2; }

void RxPaneModel::resetWrap() {
    const Pos last = paragraphStart(text_.size());
    starts_.assign(1, last);
    wrappedTo_ = last;
}

void RxPaneModel::wrapForward(Pos from) const {
    const std::size_t columns = std::size_t(columns_);
    starts_.push_back(from);
    for (Pos at = from;;) {
        const Pos end = std::min(text_.find('\n', at), text_.size());
        const std::string_view paragraph(text_.data(), end);
        for (Pos s = at; (s = NextLineStart(paragraph, s, columns)) < end;)
            starts_.push_back(s);
        if (end == text_.size())
            return;
        at = end + 1;
        starts_.push_back(at);
    }
}

void RxPaneModel::wrapParagraphs(Pos from, Pos to, std::vector<Pos>& out) const {
    const std::size_t columns = std::size_t(columns_);
    for (Pos at = from; at < to;) {
        const Pos end = text_.find('\n', at);
        const std::string_view paragraph(text_.data(), end);
        out.push_back(at);
        for (Pos s = at; (s = NextLineStart(paragraph, s, columns)) < end;)
            out.push_back(s);
        at = end + 1;
    }
}

// Brings the wrapped lines to the end of the text. Only the paragraphs the
// last `lastLines` lines can lie in are wrapped (a paragraph is at least one
// line): when new text holds more breaks than that, the lines before them are
// dropped, unwrapped, and wrapped again only if something asks for them.
void RxPaneModel::settle(std::size_t lastLines) const {
    if (wrappedTo_ == text_.size())
        return;
    const Pos from = starts_.back();  // its line may still grow
    Pos restart = from;
    if (lastLines != kNone) {
        const std::string_view fresh = std::string_view(text_).substr(wrappedTo_);
        std::size_t breaks = 0;
        for (std::size_t at = fresh.size(); at > 0;) {
            const std::size_t br = fresh.rfind('\n', at - 1);
            if (br == std::string_view::npos)
                break;
            if (++breaks == lastLines) {
                restart = wrappedTo_ + br + 1;
                break;
            }
            at = br;
        }
    }
    if (restart == from)
        starts_.pop_back();
    else
        starts_.clear();
    wrapForward(restart);
    wrappedTo_ = text_.size();
}

void RxPaneModel::settleAll() const { settle(kNone); }

// Wraps paragraphs before the wrapped lines until they begin at or before
// `pos`'s line.
void RxPaneModel::coverFrom(Pos pos) const {
    if (starts_.front() <= pos)
        return;
    std::vector<Pos> lines;
    wrapParagraphs(paragraphStart(pos), starts_.front(), lines);
    starts_.insert(starts_.begin(), lines.begin(), lines.end());
}

// Wraps paragraphs before the wrapped lines until there are `count` lines or
// the text's start is reached.
void RxPaneModel::coverLines(std::size_t count) const {
    std::vector<Pos> lines;
    while (starts_.size() < count && starts_.front() > 0) {
        const Pos front = starts_.front();
        lines.clear();
        wrapParagraphs(paragraphStart(front - 1), front, lines);
        starts_.insert(starts_.begin(), lines.begin(), lines.end());
    }
}

std::size_t RxPaneModel::lineIndexOf(Pos pos) const {
    return std::size_t(std::upper_bound(starts_.begin(), starts_.end(), pos) - starts_.begin()) - 1;
}

std::string_view RxPaneModel::cachedLine(std::size_t index) const {
    const Pos from = starts_[index];
    Pos to = index + 1 < starts_.size() ? starts_[index + 1] : text_.size();
    if (to > from && text_[to - 1] == '\n')
        --to;
    return std::string_view(text_).substr(from, to - from);
}

RxPaneModel::Pos RxPaneModel::lineEndOf(std::size_t index) const { return starts_[index] + cachedLine(index).size(); }

// The line goes on in the next displayed line (a wrap, not a line break).
bool RxPaneModel::wrapsAfter(std::size_t index) const {
    return index + 1 < starts_.size() && text_[starts_[index + 1] - 1] != '\n';
}

// ---- Size, text and the trim ---------------------------------------------------

void RxPaneModel::setColumns(int columns) {
    columns = std::max(1, columns);
    if (columns == columns_)
        return;
    columns_ = columns;
    resetWrap();
    allChanged_ = true;
}

void RxPaneModel::setRows(int rows) {
    rows = std::max(1, rows);
    allChanged_ = allChanged_ || rows != rows_;
    rows_ = rows;
}

void RxPaneModel::append(std::string_view text) {
    if (text.empty())
        return;
    const Pos end = text_.size();
    text_.append(text);
    // The old last line may grow; every line before it stays as it was.
    changedFrom_ = std::min(changedFrom_, end > 0 ? end - 1 : 0);
    keepWithinLimit();
}

void RxPaneModel::keepWithinLimit() {
    if (text_.size() <= charLimit_)
        return;
    const Pos keepFrom = text_.size() - charLimit_ / 2;
    const std::size_t br = text_.find('\n', keepFrom);
    Pos at = br + 1;
    if (br == std::string::npos || at == text_.size()) {  // one long paragraph: cut where one of its lines starts
        settleAll();
        coverFrom(keepFrom);
        const auto it = std::lower_bound(starts_.begin(), starts_.end(), keepFrom);
        at = it == starts_.end() ? starts_.back() : *it;
    }
    cutFront(at);
}

int RxPaneModel::lineCount() const {
    settleAll();
    coverFrom(0);
    return int(starts_.size());
}

int RxPaneModel::countedLines() const {
    const bool emptyLast = text_.empty() || text_.back() == '\n';
    return lineCount() - (emptyLast ? 1 : 0);
}

std::string_view RxPaneModel::line(int index) const {
    if (index < 0 || index >= lineCount())
        return {};
    return cachedLine(std::size_t(index));
}

void RxPaneModel::trim(int maxLines) {
    const std::size_t keep = std::size_t(std::max(0, maxLines));
    following_ ? settle(std::max(tailLines(), keep + 2)) : settleAll();
    coverLines(keep + 1);
    const bool emptyLast = text_.empty() || text_.back() == '\n';
    const std::size_t counted = starts_.size() - (emptyLast ? 1 : 0);
    if (counted < keep || (counted == keep && starts_.front() == 0))
        return;
    const std::size_t first = counted - keep;
    cutFront(first < starts_.size() ? starts_[first] : text_.size());
}

void RxPaneModel::clear() {
    text_.clear();
    starts_.assign(1, 0);
    wrappedTo_ = 0;
    following_ = true;
    topPos_ = anchor_ = caret_ = 0;
    caretAtLineEnd_ = false;
    goalColumn_ = -1;
    allChanged_ = true;
    shownTop_ = changedFrom_ = kNone;
    shownCut_ = 0;
}

// Removes the text before `at`, the start of a wrapped line (or the end).
void RxPaneModel::cutFront(Pos at) {
    if (at == 0)
        return;
    // The lines of the last picture that go, for the next repaint's scroll.
    if (shownTop_ != kNone && shownTop_ < at) {
        const auto kept = std::lower_bound(starts_.begin(), starts_.end(), at);
        const bool known = shownCut_ != kNone && shownTop_ >= starts_.front() && kept != starts_.end() && *kept == at;
        shownCut_ = known ? shownCut_ + std::size_t(kept - starts_.begin()) - lineIndexOf(shownTop_) : kNone;
    }
    text_.erase(0, at);
    starts_.erase(starts_.begin(), std::lower_bound(starts_.begin(), starts_.end(), at));
    for (Pos& s : starts_)
        s -= at;
    if (starts_.empty()) {
        starts_.assign(1, 0);
        wrappedTo_ = 0;
    } else {
        wrappedTo_ -= at;
    }
    const auto shift = [at](Pos& p) { p = p > at ? p - at : 0; };
    shift(anchor_);
    shift(caret_);
    shift(topPos_);  // its line gone: the first line left
    if (shownTop_ != kNone)
        shownTop_ = shownTop_ >= at ? shownTop_ - at : 0;
    if (changedFrom_ != kNone)
        shift(changedFrom_);
    caretAtLineEnd_ = caretAtLineEnd_ && caret_ > 0;
}

// The one way the operator's keys change the text: [from, to) becomes `with`.
void RxPaneModel::replace(Pos from, Pos to, std::string_view with) {
    text_.replace(from, to - from, with);
    const Pos added = with.size(), removed = to - from;
    const auto moved = [&](Pos p) { return p + added - removed; };
    const Pos front = starts_.front();
    if (from >= front) {
        // Its paragraph wraps afresh (a word may now fit on the line before).
        const Pos p = std::min(paragraphStart(from), starts_.back());
        starts_.erase(std::lower_bound(starts_.begin(), starts_.end(), p), starts_.end());
        starts_.push_back(p);
        wrappedTo_ = p;
    } else if (to < front) {
        for (Pos& s : starts_)
            s = moved(s);
        wrappedTo_ = moved(wrappedTo_);
    } else {
        resetWrap();
    }
    if (topPos_ > from)
        topPos_ = topPos_ >= to ? moved(topPos_) : from;
    allChanged_ = true;
}

// ---- Editing -----------------------------------------------------------------

void RxPaneModel::insert(std::string_view text) {
    std::string clean;
    clean.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\0')
            continue;
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        clean += c == '\r' ? '\n' : c;
    }
    if (clean.empty())
        return;  // an empty paste leaves the selection
    const Pos from = std::min(anchor_, caret_), to = std::max(anchor_, caret_);
    replace(from, to, clean);
    anchor_ = caret_ = from + clean.size();
    caretAtLineEnd_ = false;
    goalColumn_ = -1;
    keepWithinLimit();  // a huge paste is cut like a burst
    showCaret();
}

void RxPaneModel::erase(bool forward) {
    Pos from = std::min(anchor_, caret_), to = std::max(anchor_, caret_);
    if (from == to) {
        if (forward ? to == text_.size() : from == 0)
            return;
        forward ? ++to : --from;
    }
    replace(from, to, {});
    anchor_ = caret_ = from;
    caretAtLineEnd_ = false;
    goalColumn_ = -1;
    showCaret();
}

std::string RxPaneModel::cut() {
    std::string taken = selectedText();
    if (!taken.empty())
        erase(false);
    return taken;
}

void RxPaneModel::caretToEnd() {
    setCaret({text_.size(), false}, false);
    goalColumn_ = -1;
    showCaret();
}

std::size_t RxPaneModel::caretLine() const {
    coverFrom(caret_);
    std::size_t line = lineIndexOf(caret_);
    if (caretAtLineEnd_ && line > 0 && starts_[line] == caret_ && wrapsAfter(line - 1))
        --line;
    return line;
}

RxPaneModel::Place RxPaneModel::placeAt(std::size_t line, int column) const {
    const int length = int(cachedLine(line).size());
    const int c = std::clamp(column, 0, length);
    return {starts_[line] + std::size_t(c), c == length && wrapsAfter(line)};
}

void RxPaneModel::setCaret(Place place, bool extend) {
    place.pos = std::min(place.pos, text_.size());
    allChanged_ =
        allChanged_ || place.pos != caret_ || place.lineEnd != caretAtLineEnd_ || (!extend && anchor_ != caret_);
    caret_ = place.pos;
    caretAtLineEnd_ = place.lineEnd;
    if (!extend)
        anchor_ = caret_;
}

void RxPaneModel::move(Move m, bool extend) {
    settleAll();
    const Pos n = text_.size();
    const bool collapse = !extend && hasSelection();
    Place to{caret_, caretAtLineEnd_};
    int goal = -1;
    switch (m) {
    case Move::CharLeft: to = {collapse ? std::min(anchor_, caret_) : caret_ - (caret_ > 0)}; break;
    case Move::CharRight: to = {collapse ? std::max(anchor_, caret_) : caret_ + (caret_ < n)}; break;
    case Move::WordLeft: {
        Pos p = caret_;
        while (p > 0 && IsSpace(text_[p - 1]))
            --p;
        while (p > 0 && !IsSpace(text_[p - 1]))
            --p;
        to = {p};
        break;
    }
    case Move::WordRight: {
        Pos p = caret_;
        while (p < n && !IsSpace(text_[p]))
            ++p;
        while (p < n && IsSpace(text_[p]))
            ++p;
        to = {p};
        break;
    }
    case Move::LineStart: to = {starts_[caretLine()]}; break;
    case Move::LineEnd: {
        const std::size_t line = caretLine();
        to = {lineEndOf(line), wrapsAfter(line)};
        break;
    }
    case Move::LineUp:
    case Move::LineDown:
    case Move::PageUp:
    case Move::PageDown: {
        const bool up = m == Move::LineUp || m == Move::PageUp;
        const bool page = m == Move::PageUp || m == Move::PageDown;
        const std::size_t step = page ? std::size_t(std::max(1, rows_ - 1)) : 1;
        if (page)
            scrollBy(up ? -int(step) : int(step));
        if (up) {
            const std::size_t at = caretLine();
            coverLines(starts_.size() - at + step);  // the lines above it
        }
        const std::size_t line = caretLine();
        goal = goalColumn_ >= 0 ? goalColumn_ : int(caret_ - starts_[line]);
        const std::size_t target = up ? (line >= step ? line - step : 0) : std::min(line + step, starts_.size() - 1);
        to = placeAt(target, goal);
        break;
    }
    case Move::TextStart: to = {0}; break;
    case Move::TextEnd: to = {n}; break;
    }
    setCaret(to, extend);
    goalColumn_ = goal;
    showCaret();
}

// Scrolls as little as keeps the caret's line in view.
void RxPaneModel::showCaret() {
    topIndex();  // what the view needs wrapped, before the indexes below
    const std::size_t line = caretLine();
    const std::size_t top = topIndex();
    if (line < top) {
        following_ = false;
        topPos_ = starts_[line];
    } else if (line >= top + std::size_t(rows_)) {
        settleAll();
        const std::size_t at = caretLine();
        following_ = at + 1 >= starts_.size();
        if (!following_)
            topPos_ = starts_[at + 1 - std::size_t(rows_)];
    }
}

// ---- Scrolling ----------------------------------------------------------------

// The index among the wrapped lines of the first line in view.
std::size_t RxPaneModel::topIndex() const {
    if (following_) {
        settle(tailLines());
        coverLines(std::size_t(rows_));
        return starts_.size() > std::size_t(rows_) ? starts_.size() - std::size_t(rows_) : 0;
    }
    settleAll();
    coverFrom(topPos_);
    return lineIndexOf(topPos_);
}

int RxPaneModel::top() const {
    const int count = lineCount();
    return following_ ? std::max(0, count - rows_) : int(topIndex());
}

// Scrolled back after a trim, the view may begin below the last full page.
int RxPaneModel::maxTop() const { return std::max({0, lineCount() - rows_, top()}); }

void RxPaneModel::scrollTo(int top) {
    const int last = std::max(0, lineCount() - rows_);
    const int to = std::clamp(top, 0, std::max(last, this->top()));
    following_ = to == last;
    if (!following_)
        topPos_ = starts_[std::size_t(to)];
}

void RxPaneModel::scrollBy(int lines) {
    if (lines == 0)
        return;
    scrollTo(top() + lines);
    if (lines < 0 && following_) {  // all of it in view: hold it there
        following_ = false;
        topPos_ = starts_[std::size_t(std::max(0, lineCount() - rows_))];
    }
}

void RxPaneModel::wheel(int delta, int linesPerNotch) {
    wheelRest_ += delta * std::max(1, linesPerNotch);
    const int lines = wheelRest_ / kWheelNotch;
    wheelRest_ -= lines * kWheelNotch;
    scrollBy(-lines);  // the wheel turned away from the user scrolls up
}

void RxPaneModel::scroll(Step step) {
    const int page = std::max(1, rows_ - 1);
    switch (step) {
    case Step::LineUp: scrollBy(-1); break;
    case Step::LineDown: scrollBy(1); break;
    case Step::PageUp: scrollBy(-page); break;
    case Step::PageDown: scrollBy(page); break;
    case Step::Top: scrollTo(0); break;
    case Step::End: following_ = true; break;
    }
}

// ---- Drawing ------------------------------------------------------------------

std::string_view RxPaneModel::rowText(int row) const {
    const std::size_t at = topIndex() + std::size_t(std::max(0, row));
    return row >= 0 && at < starts_.size() ? cachedLine(at) : std::string_view();
}

RxPaneModel::Columns RxPaneModel::rowSelection(int row) const {
    if (row < 0 || !hasSelection())
        return {};
    const std::size_t at = topIndex() + std::size_t(row);
    if (at >= starts_.size())
        return {};
    const Pos start = starts_[at];
    const Pos length = cachedLine(at).size();
    const auto column = [&](Pos p) { return p <= start ? 0 : int(std::min(p - start, length)); };
    const Columns c{column(std::min(anchor_, caret_)), column(std::max(anchor_, caret_))};
    return c.first < c.last ? c : Columns{};
}

std::optional<RxPaneModel::Cell> RxPaneModel::caretCell() const {
    const std::size_t top = topIndex();
    if (caret_ < starts_[top])
        return std::nullopt;
    const std::size_t line = caretLine();
    if (line < top || line >= top + std::size_t(rows_))
        return std::nullopt;
    return Cell{int(line - top), int(caret_ - starts_[line])};
}

RxPaneModel::Repaint RxPaneModel::takeRepaint() {
    const std::size_t top = topIndex();
    const Pos topStart = starts_[top];
    Repaint r;
    if (!allChanged_ && shownTop_ != kNone && shownCut_ != kNone && shownTop_ >= starts_.front() &&
        shownTop_ <= topStart) {
        const std::size_t scroll = top - lineIndexOf(shownTop_) + shownCut_;
        if (scroll < std::size_t(rows_)) {
            r.all = false;
            r.scrollLines = int(scroll);
            std::size_t first = std::size_t(rows_);
            if (changedFrom_ != kNone) {
                const std::size_t line = lineIndexOf(std::max(changedFrom_, starts_.front()));
                first = line <= top ? 0 : std::min(line - top, first);
            }
            r.firstRow = std::min(int(first), rows_ - r.scrollLines);
        }
    }
    shownTop_ = topStart;
    shownCut_ = 0;
    changedFrom_ = kNone;
    allChanged_ = false;
    return r;
}

// ---- For assistive technology -------------------------------------------------

int RxPaneModel::lineOf(Pos pos) const {
    lineCount();
    return int(lineIndexOf(std::min(pos, text_.size())));
}

std::optional<RxPaneModel::Cell> RxPaneModel::cellOf(Pos pos) const {
    const int line = lineOf(pos), row = line - top();
    if (row < 0 || row >= rows_)
        return std::nullopt;
    return Cell{row, int(std::min(pos, text_.size()) - starts_[std::size_t(line)])};
}

// ---- Selection ----------------------------------------------------------------

RxPaneModel::Pos RxPaneModel::positionAt(int line, int column) const {
    const int count = lineCount();
    return placeAt(std::size_t(std::clamp(line, 0, count - 1)), column).pos;
}

RxPaneModel::Place RxPaneModel::placeAtPoint(double x, double y, double cellWidth, double lineHeight) const {
    const int row = lineHeight > 0 ? int(std::floor(y / lineHeight)) : 0;
    const int column = cellWidth > 0 ? int(std::lround(x / cellWidth)) : 0;
    const std::size_t top = topIndex();
    const long line = std::clamp(long(top) + row, 0L, long(starts_.size()) - 1);
    return placeAt(std::size_t(line), column);
}

RxPaneModel::Pos RxPaneModel::positionAtPoint(double x, double y, double cellWidth, double lineHeight) const {
    return placeAtPoint(x, y, cellWidth, lineHeight).pos;
}

void RxPaneModel::select(Pos anchor, Pos caret) {
    anchor = std::min(anchor, text_.size());
    caret = std::min(caret, text_.size());
    allChanged_ = allChanged_ || anchor != anchor_ || caret != caret_;
    anchor_ = anchor;
    caret_ = caret;
    caretAtLineEnd_ = false;
    goalColumn_ = -1;
}

void RxPaneModel::press(double x, double y, double cellWidth, double lineHeight, bool extend) {
    setCaret(placeAtPoint(x, y, cellWidth, lineHeight), extend);
    goalColumn_ = -1;
}

void RxPaneModel::drag(double x, double y, double cellWidth, double lineHeight, double viewHeight) {
    if (y < 0)
        scrollBy(-1);
    else if (y > viewHeight)
        scrollBy(1);
    setCaret(placeAtPoint(x, y, cellWidth, lineHeight), true);
    goalColumn_ = -1;
}

void RxPaneModel::selectAll() { select(0, text_.size()); }

std::string RxPaneModel::selectedText() const {
    const Pos from = std::min(anchor_, caret_), to = std::max(anchor_, caret_);
    return text_.substr(from, to - from);
}

}  // namespace kestrel
