// Windows start-up of the process: nothing to prepare.
#include "platform/process.h"

// The list and the files hashed are opened as kernel handles, which are
// never given the number of a closed standard stream, so console output
// cannot land in them; and Windows has no signal for the file size limit.
void PrepareProcess() {}
