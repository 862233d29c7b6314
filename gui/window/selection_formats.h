// The byte forms of clipboard data on both sides of the X11 selection.
//
// The clipboard store (platform/clipboard.h) keeps text as UTF-16LE with
// CR LF line breaks and a NUL unit, and file lists as a dropped-file block
// (a 20-byte header, then NUL-terminated UTF-16LE paths, then one more NUL
// unit). X11 programs exchange UTF-8 text with LF line breaks and file
// lists as text/uri-list: one URI per line (CR LF ends a line; LF alone is
// accepted), '#' lines are comments; only file: URIs name files, their path
// percent-decoded, a host name before the path dropped.
//
// Everything read from another program is outside data: malformed UTF-8
// or UTF-16 becomes U+FFFD, short or inconsistent blocks give nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::gui::selection_formats {

// The paths of the list's file: URIs, in list order (other lines skipped).
std::vector<std::string> decode_uri_list(const std::string& text);
// The list of the paths (each "file://", the percent-encoded path, CR LF).
std::string encode_uri_list(const std::vector<std::string>& paths);

// UTF-8 (LF) to the store's text (UTF-16LE, CR LF, NUL), and back (up to
// the first NUL; CR before LF dropped).
std::vector<uint8_t> text_to_store(const std::string& utf8);
std::string text_from_store(const std::vector<uint8_t>& utf16);

// UTF-8 paths to the store's file-list block, and back (empty when the
// block is malformed).
std::vector<uint8_t> files_to_store(const std::vector<std::string>& paths);
std::vector<std::string> files_from_store(const std::vector<uint8_t>& block);

}  // namespace kiv::gui::selection_formats
