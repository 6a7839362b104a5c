// The private per-user folder that holds our sockets and lock files (the
// pipe and named-lock facilities, local_pipe.h and instance_lock.h, both
// live there), and the mapping from the system's object names to file names.
// Thread safe (no shared state).
//
//   std::string dir;
//   if (auto ec = platform::runtimeFolder(dir)) { ... }  // e.g. /run/user/1000/varnelo
#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace platform {

// Finds (creating it when missing) "varnelo" inside $XDG_RUNTIME_DIR, mode
// 0700. Without a usable $XDG_RUNTIME_DIR (unset, relative, not a folder,
// or another user's, as under sudo) the folder is "/tmp/varnelo-<uid>";
// when another user (or a link) has taken that name first, or it is a
// folder of ours that group or others may enter, it is "~/.cache/varnelo/run"
// instead (the home from the password database, so that every process of
// the user agrees on it whatever its environment), and once that folder
// exists it stays the choice. The folder must be a real folder (not a
// symbolic link) owned by this user, else EPERM: another user could
// otherwise watch or replace our sockets. Nothing of another user's is
// ever changed; a folder of ours in a private place with a wider mode is
// narrowed to 0700.
std::error_code runtimeFolder(std::string& out);

// Where runtimeFolder looks: its own process's places, or a test's.
struct RuntimePlaces {
  std::string runtimeDir;    // $XDG_RUNTIME_DIR, "" when unset
  std::string tmp = "/tmp";  // the shared temporary folder
  std::string home;          // the user's home, "" when unknown
};
RuntimePlaces currentRuntimePlaces();
std::error_code runtimeFolderAt(const RuntimePlaces& places, std::string& out);

// File name for an object name such as "{C27A6189-DF1C-467b-9E40-233BF6A2BF67}-3"
// or "Global\VarneloAppInstance": a leading "Global\" or "Local\" is dropped
// (every name is per user here), braces are dropped, letters, digits, '-',
// '_' and '.' are kept and anything else becomes '_'. Empty when nothing is
// left or the name is longer than 200 bytes.
std::string objectFileName(std::string_view objectName);

}  // namespace platform
