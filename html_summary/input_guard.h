// Keeps the page from replacing a file the run reads.
#pragma once

#include <string>
#include <vector>

// Throws page_error when page_path is one of inputs: the same file by device
// and inode when both exist, or the same path (made absolute, links of the
// existing part resolved) when the page does not exist yet.
void refuse_input_as_output(const std::string& page_path, const std::vector<std::string>& inputs);
