#pragma once

namespace platform {

// Gives the pages the allocator holds free back to the system once the event loop turns again,
// after whatever is being let go (a window and its children, its model) is gone. glibc keeps
// freed memory for reuse, so what a closed phone book of 100,000 entries held (some 77 MiB)
// would otherwise stay the program's for as long as it runs.
void returnFreedMemoryLater();

} // namespace platform
