#include "ansi_text.h"

#include <windows.h>

bool IsAnsiLeadByte(unsigned char c) {
    return IsDBCSLeadByte(c) != FALSE;
}
