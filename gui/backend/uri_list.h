// text/uri-list, the form in which X11 programs exchange file lists: one
// URI per line (CR LF ends a line; LF alone is accepted), lines starting
// with '#' are comments. Only file: URIs name files here; their path is
// percent-decoded, and a host name before the path is dropped.
#pragma once

#include <string>
#include <vector>

namespace kiv::gui::uri_list {

// The paths of the list's file: URIs, in list order (other lines skipped).
std::vector<std::string> decode(const std::string& text);
// The list of the paths (each "file://" and the percent-encoded path).
std::string encode(const std::vector<std::string>& paths);

}  // namespace kiv::gui::uri_list
