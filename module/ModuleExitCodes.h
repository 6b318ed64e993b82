#pragma once
// Exit codes of UpdateModuleSetup.exe itself. Any other exit code is the started program's own.
// Bit 29 marks the application-defined range of Windows error codes, so none of these can be
// mistaken for an installer's code (0, 1603, 3010, ...) in a package's list of success codes.

// The parameter text is not a launch line: no "|", an empty program, or a kind other than
// exactly "Yes" or "No".
#define TESSEL_MODULE_EXIT_BAD_LAUNCH_LINE 0x20000001u

// The program could not be started (CreateProcessW failed: missing file, not an executable,
// access denied, ...).
#define TESSEL_MODULE_EXIT_CANNOT_START 0x20000002u

// The program was started but its end or its exit code could not be read; its outcome is
// unknown and must not pass for success.
#define TESSEL_MODULE_EXIT_LOST_PROGRAM 0x20000003u
