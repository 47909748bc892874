// How the process's allocator serves large blocks.
#pragma once

namespace tarnwick::platform {

// Serves large blocks from memory maps of their own, so that a buffer which grows by doubling
// (a text document's, a long answer's) is remapped instead of copied into fresh pages, and its
// memory goes back to the system when it is freed. A setting of the whole process, made once by
// the program's start (RunTarnwick); a test or benchmark that shows answers without that start
// makes it in its main. Calling it again changes nothing.
void MapLargeBlocks();

} // namespace tarnwick::platform
