// The loaded machine's settings: one machine at a time, read by every
// service and replaced whole when a machine is loaded or unloaded.
#include "core/core.h"

namespace {

SimSettings g_machine;

}  // namespace

SimSettings &SimMachine()
{
    return g_machine;
}
