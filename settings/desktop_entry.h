// The XDG autostart file: encoding a program path for its Exec key and
// pointing an existing file's Exec at a new command.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The Exec value that runs exactly `program` with no arguments, with the
// quoting of the Desktop Entry format; nullopt for a path with control
// characters, which no Exec line can carry.
std::optional<std::string> EncodeDesktopExec(std::string_view program);

// The Exec value of the [Desktop Entry] group; empty when there is none.
std::string DesktopExecOf(std::string_view file);

// `file` with the Exec value of its [Desktop Entry] group set to `exec`;
// every other line stays as it was. A file without the group gets one.
std::string WithDesktopExec(std::string_view file, std::string_view exec);

// A new autostart file for the program.
std::string NewDesktopEntry(std::string_view exec);
