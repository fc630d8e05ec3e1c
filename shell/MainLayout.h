#pragma once

namespace Ui {
class TF_KORUMain;
}

// Lays out the button bar and the Settings, MIME, Plugins and Client pages, so that the pages
// follow the window's size and every control gets the room its caption needs with the font and
// style in use: the designed sizes are kept where they suffice. Controls keep their places
// relative to one another and their order; the window's minimum size follows from the layouts.
// Call once the window's font is set, before the Client page is docked.
void LayOutMainWindow(Ui::TF_KORUMain& ui);
