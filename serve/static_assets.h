// The style sheet and the script of the server's own pages, served under
// /static/ so that the pages need no inline style or script.
#pragma once

#include <string_view>

extern const std::string_view STYLE_SHEET;
extern const std::string_view SEARCH_SCRIPT;
