// The system clipboard behind `read-clipboard` and `write-clipboard`.
//
// Content is text (UTF-8, lines ended by LF) or a list of file paths (POSIX
// form). Where no display is open the clipboard is a store inside the
// process, so that what a script writes it can read back; the GUI layer
// installs a backend over the X11 selection when it opens a display, and
// removes it (install(nullptr)) when the display closes.
#pragma once

#include <string>
#include <vector>

namespace kiv::platform::clipboard {

struct Content {
    enum Kind { EMPTY, TEXT, FILES } kind = EMPTY;
    std::string text;                // TEXT
    std::vector<std::string> files;  // FILES, in list order
};

struct Backend {
    // Fills `out`; false when the clipboard cannot be used.
    bool (*read)(Content& out);
    // Replaces the clipboard's content (EMPTY empties it); false on failure.
    bool (*write)(const Content& in);
};

// The backend in use from now on; null returns to the in-process store.
void install(const Backend* backend);

bool read(Content& out);
bool write(const Content& in);

}  // namespace kiv::platform::clipboard
