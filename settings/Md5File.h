#pragma once
#include <windows.h>

#include "fw/String.h"

// Checksum text of a file already open for reading, from its first byte; empty on a read error.
CString ChecksumOfOpenFile(HANDLE file);
