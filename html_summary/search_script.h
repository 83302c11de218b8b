// The script of the summary page's search box: a file of its own beside
// the page ("search.js"), so that the page holds no inline script and works
// under a policy that allows only the site's own scripts. Without it (no
// JavaScript) the search box stays hidden and the ranking remains.
#pragma once

extern const char* const SEARCH_SCRIPT;
