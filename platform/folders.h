// The folders and files the Windows system would look up, on Linux.
//
//   application data   $XDG_CONFIG_HOME, else ~/.config
//   Windows directory  $LUMARC_WINDOWS_DIR, else $XDG_DATA_HOME/lumarc/windows
//                      ($XDG_DATA_HOME defaults to ~/.local/share)
//   system directory   <Windows directory>/system32
//   user profile       <Windows directory>/win.ini
//   program folder     the folder of /proc/self/exe
//   runtime folder     $XDG_RUNTIME_DIR/lumarc, else /tmp/lumarc-<uid> (0700)
//
// The variables are read at each call, so tests can point them at temporary
// folders. Only the runtime folder is created here; the others are created by
// whoever writes into them (see ensureFolder).
#pragma once

#include "result.h"

#include <filesystem>

namespace lumarc::platform {

std::filesystem::path appDataFolder();
std::filesystem::path windowsFolder();
std::filesystem::path systemFolder();
std::filesystem::path userProfileFile();
std::filesystem::path programFolder();

// The per-user folder of named objects; created with mode 0700 when missing.
// Fails when it exists but belongs to another user or others may write it.
Result<std::filesystem::path> runtimeFolder();

// Creates a folder and its missing parents.
Status ensureFolder(const std::filesystem::path& folder);

} // namespace lumarc::platform
