// How the program's heap treats the large blocks that photos are decoded into.
#pragma once

namespace redim {

// Called first thing in main(), before any thread exists. Photos are decoded into blocks of
// tens of megabytes, one after the other and several at a time. By default each such block is
// mapped afresh and handed back to the system when freed, and every 4 KiB of it then costs a
// page fault when it is first written: on a virtual machine nearly as much as decoding the
// photo. One heap for every thread, keeping what is freed, lets the next photo reuse it.
void keepFreedMemoryForTheNextPhoto();

// Hands the memory kept that way back to the system, at the end of a run.
void releaseKeptMemory();

}  // namespace redim
