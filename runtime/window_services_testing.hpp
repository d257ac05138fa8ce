// Seams that only tests use. The program never includes this header and reads
// no argument, variable or file that could switch a seam on, so nothing a user
// does reaches them.
#pragma once

namespace mirtolk::rt::testing {

// From now on every write of a box's text fails with `status` (one of the
// negative statuses) and leaves the box as it was; StatusOk ends the fault.
void SetTextWriteFault(int status);

}  // namespace mirtolk::rt::testing
