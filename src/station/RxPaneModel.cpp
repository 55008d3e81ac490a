// A receive pane's wrapped lines, trim, scrolling and selection (see RxPaneModel.h).

#include "station/RxPaneModel.h"

#include <algorithm>
#include <cmath>

namespace kestrel {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int Clamp(int v, int lo, int hi) { return std::max(lo, std::min(v, hi)); }

}  // namespace

std::size_t NextLineStart(std::string_view t, std::size_t start, std::size_t columns, WrapRule rule) {
    const std::size_t n = t.size();
    const bool hang = rule == WrapRule::BlanksHang;
    std::size_t lastBreak = start;
    for (std::size_t at = start; at < n;) {
        std::size_t wordEnd = at;
        while (wordEnd < n && !IsBlank(t[wordEnd]))
            ++wordEnd;
        std::size_t next = wordEnd;
        while (next < n && IsBlank(t[next]))
            ++next;
        if ((hang ? wordEnd : next) - start > columns)
            break;  // this word no longer fits
        if (next == n)
            return n;
        lastBreak = at = next;
    }
    if (lastBreak > start)
        return lastBreak;
    // A word longer than a line breaks anywhere; the edit control leaves the
    // last column free then.
    const std::size_t fits = hang || columns < 2 ? columns : columns - 1;
    return std::min(n, start + fits);
}

RxPaneModel::RxPaneModel(WrapRule rule) : paragraphs_(1), rule_(rule) {}

void RxPaneModel::setColumns(int columns) {
    columns = std::max(1, columns);
    if (columns == columns_)
        return;
    const int fromEnd = maxTop() - top_;
    columns_ = columns;
    allChanged_ = true;
    lines_ = 0;
    for (Paragraph& p : paragraphs_) {
        wrapFrom(p, 0);
        lines_ += int(p.starts.size());
    }
    top_ = Clamp(maxTop() - fromEnd, 0, maxTop());
}

void RxPaneModel::setRows(int rows) {
    rows = std::max(1, rows);
    allChanged_ = allChanged_ || rows != rows_;
    rows_ = rows;
}

int RxPaneModel::keepLines() const { return std::max(kTrimLines + 4, rows_ + 2); }

void RxPaneModel::wrapFrom(Paragraph& p, std::size_t line) {
    p.starts.resize(line + 1);
    const std::size_t columns = std::size_t(columns_);
    for (std::size_t at = p.starts.back(); (at = NextLineStart(p.text, at, columns, rule_)) < p.text.size();)
        p.starts.push_back(std::uint32_t(at));
}

void RxPaneModel::append(std::string_view text) {
    if (text.empty())
        return;
    // Whole paragraphs the cut below would remove at once are never wrapped:
    // a paragraph is at least one line, so when the new text alone holds more
    // than the cut allows, only its last keepLines() + 1 paragraphs can stay.
    const std::size_t keep = std::size_t(keepLines());
    std::size_t breaks = 0, firstKept = 0;
    for (std::size_t at = text.size(); at-- > 0;) {
        if (text[at] != '\n')
            continue;
        if (++breaks == keep + 1)
            firstKept = at + 1;
        if (breaks == keep + std::size_t(kCutSlack) + 2) {
            resetTo(endPosition() + firstKept);
            text.remove_prefix(firstKept);
            break;
        }
    }
    changedFrom_ = std::min<std::uint64_t>(changedFrom_, cutLines_ + std::uint64_t(lines_ - 1));
    for (;;) {
        const std::size_t cut = text.find('\n');
        Paragraph& p = paragraphs_.back();
        const std::size_t lastLine = p.starts.size() - 1;
        p.text.append(text.substr(0, cut));
        lines_ -= int(p.starts.size());
        wrapFrom(p, lastLine);  // earlier lines of the paragraph stay as they are
        lines_ += int(p.starts.size());
        if (cut == std::string_view::npos)
            break;
        paragraphs_.emplace_back();
        ++lines_;
        text.remove_prefix(cut + 1);
    }
    if (countedLines() > keepLines() + kCutSlack)
        cutLines(countedLines() - keepLines());
}

int RxPaneModel::countedLines() const {
    const bool emptyLast = paragraphs_.back().text.empty();
    return emptyLast ? lines_ - 1 : lines_;
}

void RxPaneModel::trim(int maxLines) {
    const int excess = countedLines() - std::max(0, maxLines);
    if (excess > 0)
        cutLines(excess);
}

void RxPaneModel::clear() {
    resetTo(endPosition());
    allChanged_ = true;
    following_ = true;
    anchor_ = caret_ = base_;
}

void RxPaneModel::resetTo(Pos base) {
    cutLines_ += std::uint64_t(lines_);
    allChanged_ = true;
    paragraphs_.assign(1, Paragraph{});
    base_ = base;
    lines_ = 1;
    top_ = 0;
}

// Cutting n first lines at once equals deleting the first line n times: the
// rest of a cut paragraph starts where a line started.
void RxPaneModel::cutLines(int count) {
    const int before = lines_;
    while (count > 0) {
        Paragraph& p = paragraphs_.front();
        const int n = int(p.starts.size());
        if (paragraphs_.size() > 1 && n <= count) {
            base_ += p.text.size() + 1;
            lines_ -= n;
            count -= n;
            paragraphs_.pop_front();
            continue;
        }
        const std::size_t cut = count < n ? p.starts[std::size_t(count)] : p.text.size();
        const std::size_t gone = std::min<std::size_t>(std::size_t(count), p.starts.size() - 1);
        p.text.erase(0, cut);
        p.starts.erase(p.starts.begin(), p.starts.begin() + std::ptrdiff_t(gone));
        for (std::uint32_t& s : p.starts)
            s -= std::uint32_t(cut);
        if (p.starts.empty() || p.text.empty()) {
            p.starts.assign(1, 0);
            allChanged_ = true;
        }
        base_ += cut;
        lines_ = lines_ - n + int(p.starts.size());
        break;
    }
    cutLines_ += std::uint64_t(before - lines_);
    if (!following_)
        top_ = Clamp(top_ - (before - lines_), 0, maxTop());
}

RxPaneModel::LineRef RxPaneModel::locate(int line) const {
    line = Clamp(line, 0, lines_ - 1);
    for (std::size_t i = 0; i < paragraphs_.size(); ++i) {
        const std::size_t n = paragraphs_[i].starts.size();
        if (std::size_t(line) < n)
            return {i, std::size_t(line)};
        line -= int(n);
    }
    return {paragraphs_.size() - 1, paragraphs_.back().starts.size() - 1};
}

std::string_view RxPaneModel::line(int index) const {
    if (index < 0 || index >= lines_)
        return {};
    const LineRef at = locate(index);
    const Paragraph& p = paragraphs_[at.paragraph];
    const std::size_t from = p.starts[at.line];
    const std::size_t to = at.line + 1 < p.starts.size() ? p.starts[at.line + 1] : p.text.size();
    return std::string_view(p.text).substr(from, to - from);
}

std::string RxPaneModel::text() const {
    std::string all;
    for (const Paragraph& p : paragraphs_) {
        if (&p != &paragraphs_.front())
            all += '\n';
        all += p.text;
    }
    return all;
}

RxPaneModel::Pos RxPaneModel::paragraphStart(std::size_t paragraph) const {
    Pos at = base_;
    for (std::size_t i = 0; i < paragraph; ++i)
        at += paragraphs_[i].text.size() + 1;
    return at;
}

RxPaneModel::Pos RxPaneModel::endPosition() const {
    return paragraphStart(paragraphs_.size() - 1) + paragraphs_.back().text.size();
}

void RxPaneModel::scrollTo(int top) {
    top_ = Clamp(top, 0, maxTop());
    following_ = top_ == maxTop();
}

void RxPaneModel::scroll(Step step) {
    const int page = std::max(1, rows_ - 1);
    switch (step) {
    case Step::LineUp: scrollBy(-1); break;
    case Step::LineDown: scrollBy(1); break;
    case Step::PageUp: scrollBy(-page); break;
    case Step::PageDown: scrollBy(page); break;
    case Step::Top: scrollTo(0); break;
    case Step::End: scrollTo(maxTop()); break;
    }
}

void RxPaneModel::drag(double x, double y, double cellWidth, double lineHeight, double viewHeight) {
    if (y < 0)
        scrollBy(-1);
    else if (y > viewHeight)
        scrollBy(1);
    extendTo(positionAtPoint(x, y, cellWidth, lineHeight));
}

RxPaneModel::Pos RxPaneModel::positionAt(int line, int column) const {
    const LineRef at = locate(line);
    const Paragraph& p = paragraphs_[at.paragraph];
    const int length = int(this->line(Clamp(line, 0, lines_ - 1)).size());
    return paragraphStart(at.paragraph) + p.starts[at.line] + std::size_t(Clamp(column, 0, length));
}

RxPaneModel::Pos RxPaneModel::positionAtPoint(double x, double y, double cellWidth, double lineHeight) const {
    const int row = lineHeight > 0 ? int(std::floor(y / lineHeight)) : 0;
    const int column = cellWidth > 0 ? int(std::lround(x / cellWidth)) : 0;
    return positionAt(top() + row, column);
}

void RxPaneModel::select(Pos anchor, Pos caret) {
    allChanged_ = allChanged_ || anchor != anchor_ || caret != caret_;
    anchor_ = anchor;
    caret_ = caret;
}

RxPaneModel::Repaint RxPaneModel::takeRepaint() {
    const std::uint64_t top = cutLines_ + std::uint64_t(this->top());
    Repaint r;
    if (!allChanged_ && top >= shownTop_ && top - shownTop_ < std::uint64_t(rows_)) {
        r.all = false;
        r.scrollLines = int(top - shownTop_);
        const std::uint64_t first = std::max(changedFrom_, top);
        r.firstRow = first - top < std::uint64_t(rows_) ? int(first - top) : rows_;
        r.firstRow = std::min(r.firstRow, rows_ - r.scrollLines);
    }
    shownTop_ = top;
    changedFrom_ = UINT64_MAX;
    allChanged_ = false;
    return r;
}

void RxPaneModel::selectAll() { select(base_, endPosition()); }

bool RxPaneModel::hasSelection() const {
    const Pos from = std::max(std::min(anchor_, caret_), base_);
    return std::max(anchor_, caret_) > from;
}

std::string RxPaneModel::selectedText() const {
    const Pos from = std::max(std::min(anchor_, caret_), base_);
    const Pos to = std::min(std::max(anchor_, caret_), endPosition());
    if (to <= from)
        return {};
    std::string all = text();
    return all.substr(std::size_t(from - base_), std::size_t(to - from));
}

RxPaneModel::Columns RxPaneModel::selectedColumns(int line) const {
    if (line < 0 || line >= lines_)
        return {};
    const Pos start = positionAt(line, 0);
    const int length = int(this->line(line).size());
    const Pos from = std::min(anchor_, caret_), to = std::max(anchor_, caret_);
    const auto column = [&](Pos p) { return p <= start ? 0 : int(std::min<Pos>(p - start, Pos(length))); };
    const Columns c{column(from), column(to)};
    return c.first < c.last ? c : Columns{};
}

}  // namespace kestrel
