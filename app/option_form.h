#pragma once

#include "app/window_settings.h"

struct MainWindowUi;

// The run options of the window's form and what it shows beside them. A new
// option is one widget in the form, one field in WindowOptions, and a line
// in each function here.

// The options as the form holds them, with the sticker colour preset chosen.
WindowOptions options_in_form(const MainWindowUi& ui, StickerColor preset);
// Puts kept options into the form; the sliders clamp values out of their range
// and an unknown video size keeps the default.
void show_options_in_form(MainWindowUi& ui, const WindowOptions& kept);
// The frame rate, and how long the video of `frames` photos lasts at it, with
// the form's in-between frames, pause and length.
void show_frame_rate(MainWindowUi& ui, int frames);
void show_compression(MainWindowUi& ui);
void show_preset(MainWindowUi& ui, StickerColor preset);
