#include "provision/provision.h"

// The engines are not embedded yet: the build places them beside the program.
int ProvisionEngines() { return 1; }
