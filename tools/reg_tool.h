// quillon-reg: the settings store's command-line editor, with the syntax and
// output of the Windows registry's own `reg` tool:
//   quillon-reg query KEY [/v NAME]
//   quillon-reg add KEY /v NAME [/t REG_SZ|REG_EXPAND_SZ|REG_DWORD|REG_BINARY] [/d DATA] [/f]
//   quillon-reg delete KEY /v NAME [/f]
// KEY starts with HKLM\ or HKCU\ (or HKEY_LOCAL_MACHINE\, HKEY_CURRENT_USER\).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "registry_store_linux.h"

// Runs one command; `in` answers the overwrite and delete questions that /f
// skips. Returns the process exit code: 0 on success, 1 otherwise.
int RunRegTool(const std::vector<std::string>& args, SqliteRegistryStore& store, std::istream& in,
               std::ostream& out, std::ostream& err);
