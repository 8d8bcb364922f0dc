// Compiled as a 32-bit translation unit by the test suite: the static
// assertions in the boundary headers check every record's offsets.
#include "plugin/host_api.h"
#include "remoting/api_description.h"
#include "remoting/host_records.h"

static_assert(sizeof(void*) == 4, "this check must be compiled with -m32");
