#pragma once

// Makes the engine executables available at their tool paths beside the program.
// Returns 1 when all of them are in place.
int ProvisionEngines();
