// Byte-level facts about the system's ANSI code page.
#pragma once

// True when c starts a double-byte character, whose second byte may then
// look like a backslash.
bool IsAnsiLeadByte(unsigned char c);
