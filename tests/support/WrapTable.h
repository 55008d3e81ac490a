#pragma once
// The receive panes' wrap rule as a table: a text, the pane's width in
// columns and the lines it displays. The model's test and both programs'
// pane tests (which compare what the pane draws) run the same table.

#include <string>
#include <vector>

namespace kestrel::test {

struct WrapCase {
    const char* what;
    std::string text;
    int columns;
    std::vector<std::string> lines;  // an empty last line included
};

inline const std::vector<WrapCase>& WrapTable() {
    static const std::vector<WrapCase> table = {
        {"a word that fills the line stays whole",
         "KESTREL-TELEMETRY-DOWNLINK-BEACON-00001",
         39,
         {"KESTREL-TELEMETRY-DOWNLINK-BEACON-00001"}},
        {"a word one longer than the line breaks where it is full",
         "KESTREL-TELEMETRY-DOWNLINK-BEACON-00001",
         38,
         {"KESTREL-TELEMETRY-DOWNLINK-BEACON-0000", "1"}},
        {"a word that would cross the edge starts the next line; the blank before it hangs",
         "ab cd ef",
         5,
         {"ab cd ", "ef"}},
        {"blanks after the last word hang past the edge however many", "ab cde    f", 6, {"ab cde    ", "f"}},
        {"a word longer than a line starts a line of its own", "ab cdefghij", 5, {"ab ", "cdefg", "hij"}},
        {"a long word fills each line whole", "abcdefghijk lm", 5, {"abcde", "fghij", "k lm"}},
        {"ten hex cells in 29 columns: the tenth cell's blank hangs",
         "00 01 02 03 04 05 06 07 08 09 0A ",
         29,
         {"00 01 02 03 04 05 06 07 08 09 ", "0A "}},
        {"line breaks end lines; an empty paragraph is an empty line", "ab\n\ncd\n", 5, {"ab", "", "cd", ""}},
        {"leading blanks stay on the first line", "   abc", 4, {"   ", "abc"}},
        {"a line of blanks alone never wraps", "     ", 3, {"     "}},
        {"a tab is one blank cell", "a\tb\tc", 3, {"a\tb\t", "c"}},
        {"control characters are one cell each and no blanks", "\x01\x02\x03 x", 3, {"\x01\x02\x03 ", "x"}},
        {"hyphens and punctuation never break a line", "ab-cd,ef.gh", 8, {"ab-cd,ef", ".gh"}},
    };
    return table;
}

}  // namespace kestrel::test
