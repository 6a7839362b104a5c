// Where a downloaded installer waits and how it gets there: a private 0700
// folder of this user in the temporary folder ($TMPDIR, else /tmp; one of
// its own elsewhere when that name is taken), the
// name "Varnelo-x86-<version>-Setup.run", and a download that becomes that
// name only once it is complete and its SHA-256 is the signed one. Used on
// the host's only thread.
//
//   std::string why;
//   auto folder = private_download_folder(&why);
//   if (folder && download_installer(url, *folder + "/" + installer_file_name(v), digest, &why))
//   ...
#pragma once

#include <optional>
#include <string>

namespace varnelo::host {

// Creates the folder "varnelo-update-<uid>" in the temporary folder, or
// accepts it when it is a real folder (not a link) of this user that only
// this user can enter. When another user has taken that name, a folder
// made afresh (mkdtemp, 0700) in this user's cache folder, else runtime
// folder. Nothing (and `why`) when none can be had: another user could swap
// the installer in a folder they can write.
std::optional<std::string> private_download_folder(std::string* why);

// Deletes the downloaded installer of `version` at `path` when it is one of
// ours (our file name in a private folder of ours), and a folder made for
// it alone. Anything else a stored value names is left alone.
void remove_download(const std::string& path, const std::string& version);

std::string installer_file_name(const std::string& version);

// GETs `url` into "<path>.part" while hashing it; on status 200 with the
// digest `sha256` the file is made executable and renamed to `path`,
// replacing an earlier one. On any failure the partial file is removed and
// `why` says what happened.
bool download_installer(const std::string& url, const std::string& path, const std::string& sha256,
                        std::string* why);

}  // namespace varnelo::host
