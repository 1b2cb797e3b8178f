#pragma once
// Living within a limit on the process's address space (ulimit -v).

// How many engines may run at once under the address-space limit: `wanted` when there is no
// limit, else as many as the limit leaves room for (at least 1). Under a limit, fewer
// allocation arenas are kept too, as each one reserves address space of its own.
int WorkersWithinMemoryLimit(int wanted);
