// The echo program's privileges: CAP_NET_RAW for one call, then nothing, then a system-call
// filter that leaves only what serving echoes needs.
#pragma once

namespace tarnwick::echo {

// Raises CAP_NET_RAW into the effective set where it is permitted and not yet effective; true
// when it did, and then LowerNetRaw takes it out again.
bool RaiseNetRaw();
void LowerNetRaw();

// Clears every capability set (bounding where this process may, ambient, inheritable,
// permitted, effective), sets no-new-privileges and keeps the process non-dumpable. True only
// when every set reads back empty.
bool DropEverything();

// Closes every descriptor but standard input, output and error, and keep (-1 for none).
bool CloseOtherDescriptors(int keep);

// Installs the system-call filter: reads from 0, writes to 1 and 2, sendto and recvmsg on
// socket (and its TTL and TOS), waiting, the clock and exiting; any other call kills the
// process.
bool Confine(int socket);

} // namespace tarnwick::echo
