// GNOME's proxy settings (org.gnome.system.proxy), which Chromium on GNOME
// and Firefox everywhere follow, written through GSettings.
#pragma once

#include "desktop_proxy.h"

// Writes mode, the http and https host and port and ignore-hosts as one
// change; for direct access only the mode, keeping the rest. False when the
// schema is not installed or a value was refused.
bool ApplyGnomeProxy(const DesktopProxy& proxy);
