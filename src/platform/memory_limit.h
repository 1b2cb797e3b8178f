#pragma once
// Living within a limit on the process's address space (ulimit -v), and fresh memory.
#include <cstddef>

// How many engines may run at once under the address-space limit: `wanted` when there is no
// limit, else as many as the limit leaves room for (at least 1). Under a limit, fewer
// allocation arenas are kept too, as each one reserves address space of its own.
int WorkersWithinMemoryLimit(int wanted);

// Makes the pages of a fresh block ready for writing in one call, where the system offers
// it (Linux 5.14 and later): cheaper than taking a fault on each page as it is first written,
// which on virtual machines costs about as much as writing the page many times over. Does
// nothing for small blocks or where the system does not offer it; the block stays usable
// either way.
void PrepareForWriting(void* block, std::size_t size);
