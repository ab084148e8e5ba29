// How the patch notes text splits into paragraphs: lines, bullets and
// blank lines. Pure: the painter measures and draws what this yields.
#pragma once

#include <cstddef>

constexpr size_t kNoteLineUnits = 2047;  // the rest of a longer line is dropped

// Shown, and read to screen readers, while the server has sent no notes.
constexpr wchar_t kNoNotes[] = L"No patch notes yet.";

struct NoteLine {
    const wchar_t* text = nullptr;  // into the notes; not terminated
    size_t length = 0;
    bool blank = false;   // nothing but spaces: a gap, never the heading
    bool bullet = false;  // "* ", "- " or "• " came first and is not drawn
};

// The line that starts at *pos in `text` (of `size` units); advances *pos
// past its line end. CR, LF and CR LF end a line; LF CR ends two. False
// at the end of the text.
bool nextNoteLine(const wchar_t* text, size_t size, size_t* pos, NoteLine* line);
