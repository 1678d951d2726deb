#pragma once

namespace platform {

// Gives the pages the allocator holds free back to the system once the event loop turns again,
// after whatever is being let go (a window and its children, its model) is gone. glibc keeps
// freed memory for reuse, so what a closed phone book of 100,000 entries held (some 77 MiB)
// would otherwise stay the program's for as long as it runs.
void returnFreedMemoryLater();

// The same once the program has been quiet for a while. What a call used is not all free when it
// ends: the SIP stack keeps each finished transaction 32 s (64 times T1, over UDP), and a trim
// then finds their pages still in use. Called again before the wait is over, the wait starts
// again, so a run of calls is trimmed once, after the last.
void returnFreedMemoryWhenSettled();

// Set first thing in main: has the allocator keep little of what is freed, so that the trims
// above reach all of it. Left to itself, glibc never gives back the free top of a thread's own
// arena in a trim, and small blocks freed sit in its fast lists where they cannot join that top;
// the 100,000 entries a phone book's reading thread made stayed as 23 MiB after the window closed.
void keepLittleFreedMemory();

} // namespace platform
