// The English performance-counter names with the indices Windows gives them.
//
// The program finds every counter by index, the way it must on a Windows system in another
// language; on Linux the local name of an index is its English name.
#pragma once

#include <cstdint>
#include <string>

namespace platform::linux_counters {

// "index" NUL "name" NUL ... NUL NUL, in index order, as the registry keeps the list.
std::string englishNameList();
// The English name of an index; empty when the index names no counter known here.
std::string englishName(uint32_t index);

} // namespace platform::linux_counters
