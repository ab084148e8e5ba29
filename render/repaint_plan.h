// What a change of the shared state must repaint. A download changes the
// counters up to 30 times a second; repainting the whole window for that
// cost a handheld most of a core. The plan compares what the painters read
// as of the last repaint with what they would read now. Pure: no <windows.h>.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/layout.h"
#include "render/ui_state.h"

// Every input of the painters that other threads change.
struct PaintInputs {
    bool valid = false;  // false: nothing is known to be on screen
    int32_t phase = 0, gameInstalled = 0, serverOnline = 0, lobbies = 0, players = 0, serverVersion = 0;
    std::wstring status;
    int64_t bytesDone = 0, bytesTotal = 0;
    double downloadSpeed = 0.0;
    uint32_t bannerSerial = 0;
    uintptr_t banner = 0, avatar = 0, background = 0, logo = 0;  // the pictures, by identity
    std::string steam;  // the Steam block, byte for byte
};

enum RepaintScope : uint32_t {
    kRepaintNothing = 0,
    kRepaintProgress = 1,  // the action bar's progress area
    kRepaintStatus = 2,    // the server card's status text
    kRepaintAll = 4,
};

// Does the action bar show a download in this state?
bool showsProgress(int32_t phase, int64_t bytesDone);

// The least that brings a picture of `shown` to `now`.
uint32_t repaintScope(const PaintInputs& shown, const PaintInputs& now);

// The client areas a scope without kRepaintAll covers.
std::vector<Rect> repaintAreas(uint32_t scope, const WindowLayout& layout, int32_t dpi);

// What a change of hover or press on `item` repaints: the item with its glow.
Rect itemArea(const WindowLayout& layout, int32_t item, int32_t dpi);
