// The echo program's privileges: CAP_NET_RAW for one call, then nothing, then a system-call
// filter that leaves only what serving echoes needs.
#pragma once

#include <cstdint>

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

// Installs the system-call filter: reads from 0, writes to 1 and 2, recvmsg on socket, sendto
// on socket from sendBuffer only (at least an ICMP header's 8 bytes, no flags), waiting, the
// clock and exiting; any other call kills the process (mapping or protecting memory too, so a
// read-only page stays so). False when socket is open and sendBuffer is null.
bool Confine(int socket, const std::uint8_t* sendBuffer);

} // namespace tarnwick::echo
