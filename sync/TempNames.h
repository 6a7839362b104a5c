// Where downloads are written before they are moved into place: a hidden
// folder inside the sync folder (same file system, so the final move is one
// atomic rename) and the names of the files in it. Called by the download
// path on the sync thread; the functions are thread safe.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

namespace varnelo {

using Signature = std::array<uint8_t, 16>;

// Name of the temporary folder below the sync folder. It starts with a dot,
// so the sync filter never lets it take part in synchronisation.
inline constexpr const char* kTempFolderName = ".varnelo-temp";

// "<root>/.varnelo-temp/" (with the trailing separator).
std::string tempFolderPath(const std::string& localRoot);

// Makes sure the temporary folder exists; never creates the sync folder
// itself (ENOENT when it is gone).
std::error_code ensureTempFolder(const std::string& localRoot);

// Name of the resumable part file of one version of one file:
// "<name>.<md5>.v<partVersion>.part", the MD5 taken over the 16 signature
// bytes followed by the UTF-16LE bytes of the local path, in URL-safe base64
// with its pad. The same file at the same version always gets the same name.
// The file's own name is shortened (at a character boundary) when the whole
// name would exceed the file system's 255-byte limit.
std::string partFileName(const std::string& localPath, const Signature& signature, int partVersion);

// True when `name` is the part file of some version of a file named like
// `localPath` (its own name, any digest, this part version). Used to remove
// the part files of superseded versions once a download is in place; a file
// of the same name in another folder matches too (it then only loses its
// resumed bytes).
bool isPartFileOf(const std::string& name, const std::string& localPath, int partVersion);

// Where a synced file waits between being taken aside and being deleted for
// a remote deletion: "<folder>/.<name>.varnelo-removing", hidden in its own
// folder (a dot name never takes part in synchronisation).
std::string removingPath(const std::string& localPath);

// The name of the file that `removingPath` took aside under `name` (a name
// in a folder, not a path), or empty when `name` is no such hidden name.
std::string removedNameOf(const std::string& name);

// Name for a download without a signature:
// "~$YYYY-MM-DD-hh_mm_ss_mmm_nnnn.tmp" from the current UTC time and a
// per-process counter, so every call gives a new name.
std::string scratchFileName();

}  // namespace varnelo
