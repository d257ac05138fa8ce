// Seams that only tests use. The program never includes this header and reads
// no argument, variable or file that could switch a seam on, so nothing a user
// does reaches them.
#pragma once

namespace mirtolk::rt::testing {

// Of the writes of a box's text from now on, the first `writes_first` work
// and the next one fails with `status` (one of the negative statuses),
// leaving the box as it was; the writes after it work again. StatusOk drops
// a fault that has not struck yet.
void SetTextWriteFault(int status, int writes_first = 0);

// The next message box the program is about to build fails with
// std::bad_alloc, as with memory exhausted; on every platform, including those
// where no box would be shown. false drops a fault that has not struck yet.
// Returns whether one had not.
bool SetMessageBoxFault(bool fail);

}  // namespace mirtolk::rt::testing
