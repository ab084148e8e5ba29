#include "render/patch_notes.h"

bool nextNoteLine(const wchar_t* text, size_t size, size_t* pos, NoteLine* line) {
    size_t start = *pos;
    if (start >= size) return false;
    size_t end = start;
    while (end < size && text[end] != L'\r' && text[end] != L'\n') ++end;
    size_t next = end;
    if (next < size) next += (text[next] == L'\r' && next + 1 < size && text[next + 1] == L'\n') ? 2 : 1;
    *pos = next;

    size_t length = end - start;
    if (length > kNoteLineUnits) length = kNoteLineUnits;
    const wchar_t* p = text + start;
    while (length > 0 && *p == L' ') {  // spaces only, not tabs
        ++p;
        --length;
    }
    line->blank = length == 0;
    line->bullet = length >= 2 && (p[0] == L'*' || p[0] == L'-' || p[0] == L'\u2022') && p[1] == L' ';
    if (line->bullet) {
        p += 2;
        length -= 2;
    }
    line->text = p;
    line->length = length;
    return true;
}
