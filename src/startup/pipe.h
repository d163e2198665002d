// The channel from a parent program: in the silent mode the parent keeps the
// write end of a pipe on our standard input and writes "END" to cancel the run.
// The channel is one way; the parent learns of the end from the process ending.
#pragma once
#include <string>

namespace velmo {

// Takes standard input (descriptor 0) as the channel.
void OpenParentPipe();
// The text the parent has written since the last call (Shift_JIS decoded, ending
// in one NUL character), or the empty text when nothing waits, the channel is
// not open, or standard input is not a pipe. Never blocks.
std::string ReadParentPipe();
// Closes the channel when it is open and forgets it.
void CloseParentPipe();

}  // namespace velmo
