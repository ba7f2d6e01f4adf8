#pragma once

#include <cstddef>

namespace smf {

// Asks the kernel to back the page-aligned interior of a large, not yet touched block with huge
// pages. A big song otherwise costs one page fault per 4 KiB of its events, which takes longer
// than reading them. Does nothing for small blocks or where the kernel cannot.
void AdviseHugePages(void* data, std::size_t bytes);

}  // namespace smf
