#include "ansi_text.h"

// Our texts are UTF-8, where no byte of a multi-byte sequence is ASCII.
bool IsAnsiLeadByte(unsigned char) {
    return false;
}
