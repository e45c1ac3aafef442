// Resource ids of the program's pictures; shared by the resource script and the code.
#pragma once

// State icons of the tray, in the order of the tray states (index = state).
#define IDI_STATE_ALLUP 101
#define IDI_STATE_SITESDOWN 102
#define IDI_STATE_CHECKING 103
#define IDI_STATE_DISCONNECTED 104
// The companion's own state: the monitor is not running or cannot be reached.
#define IDI_STATE_NOTRUNNING 105
// Every site up, some with a warning (a certificate near its end, a slow answer).
#define IDI_STATE_WARNINGS 106

// Glyphs of the tray menu.
#define IDI_GLYPH_CHECKNOW 111
#define IDI_GLYPH_SETTINGS 112
#define IDI_GLYPH_EXIT 113
#define IDI_GLYPH_WEBSITE 114
#define IDI_GLYPH_HISTORY 115

// Buttons of the settings dialog.
#define IDI_BUTTON_ADD 121
#define IDI_BUTTON_DELETE 122
#define IDI_BUTTON_GO 123
#define IDI_BUTTON_OK 124
#define IDI_BUTTON_CANCEL 125
