#include "UpdaterHost.h"

#include <unistd.h>

#include <ctime>

#include "ElevatedInstall.h"
#include "HostFetch.h"
#include "HostLog.h"
#include "InstallerDownload.h"
#include "UpdateManifest.h"
#include "Version.h"
#include "platform/files.h"
#include "platform/shell.h"

namespace varnelo::host {
namespace {

namespace files = platform::files;

constexpr size_t kMaxManifest = 64 * 1024;

std::string join(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& a : args) text += (text.empty() ? "" : " ") + a;
  return text;
}

}  // namespace

bool folder_writable(const std::string& folder) {
  return !folder.empty() && files::isDirectory(folder) &&
         access(folder.c_str(), R_OK | W_OK | X_OK) == 0;
}

UpdaterHost::UpdaterHost(HostValues& values, UpdateQuestion& question, TrustedKeys keys,
                         std::string ownFolder)
    : values_(values),
      question_(question),
      keys_(std::move(keys)),
      ownFolder_(std::move(ownFolder)) {}

int UpdaterHost::run(const std::vector<std::string>& args) {
  if (install_pending_update() > 0) return 0;
  if (is_scheduled(args)) {
    if (check_for_update()) install_pending_update();
  } else {
    start_application(args);
  }
  return 0;
}

bool UpdaterHost::is_scheduled(const std::vector<std::string>& args) {
  // A plain substring search over the whole command line, as the
  // application's scheduler writes it.
  return join(args).find("-scheduler") != std::string::npos;
}

int UpdaterHost::install_pending_update() {
  if (values_.number(kUpdaterIgnore) != 0) {
    values_.forgetPendingUpdate();
    return 0;
  }
  auto path = values_.text(kUpdaterPath);
  if (!path || !files::isRegularFile(*path)) {
    values_.forgetPendingUpdate();
    return 0;
  }
  auto pending = values_.text(kUpdaterVersion);
  auto installed = values_.text(kAppVersion);
  if (!pending || !installed) return 0;
  int r = compare_versions(*pending, *installed);
  if (r <= 0) {
    // Installed already (or not comparable): running it again on every
    // start would reinstall the same programs each time.
    host_log(kHostInfo, "pending version %s is not newer than %s; forgetting it", pending->c_str(),
             installed->c_str());
    discard_pending(*path, *pending);
    return 0;
  }
  auto facts = authentic_pending(*path, *pending);
  if (!facts) {
    discard_pending(*path, *pending);
    return 0;
  }
  auto appFolder = values_.text(kAppFolder);
  bool writable = appFolder && folder_writable(*appFolder);
  platform::ShellLauncher& launcher = platform::currentLauncher();
  if (writable && r != 1) {
    host_log(kHostInfo, "installing version %s silently", pending->c_str());
    if (auto ec = launcher.run(*path, installer_args(true))) {
      host_log(kHostError, "cannot start the installer %s: %s", path->c_str(),
               ec.message().c_str());
      return 0;
    }
    return r;
  }
  switch (question_.ask(*pending)) {
    case UpdateQuestion::Answer::kNotAsked:
      return 0;
    case UpdateQuestion::Answer::kCancel:
      host_log(kHostInfo, "the user declined version %s", pending->c_str());
      values_.setNumber(kUpdaterIgnore, 1);
      return 0;
    case UpdateQuestion::Answer::kOk:
      break;
  }
  std::vector<std::string> args = installer_args(false);
  std::error_code ec;
  if (writable) {
    ec = launcher.run(*path, args);
  } else {
    // The download is still the user's to change: the installed host copies
    // it where only root can write and checks it there before it runs.
    std::string folder = appFolder && files::isDirectory(*appFolder) ? *appFolder : ownFolder_;
    ec = launcher.runElevated(files::joinPath(folder, "varnelohost"),
                              elevated_args(*path, *facts, args));
  }
  if (ec) {
    host_log(kHostError, "cannot start the installer %s: %s", path->c_str(), ec.message().c_str());
    return 0;
  }
  return r;
}

bool UpdaterHost::check_for_update() {
  // Without an installed version nothing can be newer: no request at all.
  auto installed = values_.text(kAppVersion);
  if (!installed) return false;
  std::string url = manifest_url();
  http::StringSink body(kMaxManifest);  // a manifest is a few hundred bytes
  int status = host_fetch(url, body, kManifestTimeoutMs);
  if (status != 200) {
    host_log(kHostWarning, "update manifest %s answered %d", url.c_str(), status);
    return false;
  }
  std::string why;
  auto manifest = parse_update_manifest(body.bytes, &why);
  if (!manifest) {
    host_log(kHostWarning, "no update: %s", why.c_str());
    return false;
  }
  auto refused = verify_manifest(*manifest, keys_);
  const int64_t lastSequence = values_.bigNumber(kUpdateSequence, 0);
  if (!refused) refused = check_fresh(*manifest, static_cast<int64_t>(time(nullptr)), lastSequence);
  if (refused) {
    host_log(kHostWarning, "no update: version %s refused: %s", manifest->version.c_str(),
             refused->c_str());
    return false;
  }
  if (manifest->sequence > lastSequence)
    values_.setText(kUpdateSequence, std::to_string(manifest->sequence));
  if (compare_versions(manifest->version, *installed) <= 0) return false;
  auto pending = values_.text(kUpdaterVersion);
  if (pending && compare_versions(manifest->version, *pending) <= 0) return false;

  auto folder = private_download_folder(&why);
  if (!folder) {
    host_log(kHostError, "no update: %s", why.c_str());
    return false;
  }
  std::string path = *folder + "/" + installer_file_name(manifest->version);
  if (!download_installer(manifest->url, path, manifest->sha256, &why)) {
    host_log(kHostWarning, "no update: version %s: %s", manifest->version.c_str(), why.c_str());
    remove_download(path, manifest->version);  // the folder, when it was made for it
    return false;
  }
  // An older pending download (never run) is replaced by this one.
  auto oldPath = values_.text(kUpdaterPath);
  if (pending && oldPath && *oldPath != path) remove_download(*oldPath, *pending);
  host_log(kHostInfo, "downloaded version %s to %s", manifest->version.c_str(), path.c_str());
  // The signed facts go first: a pending path without them is refused.
  return values_.setText(kUpdaterUrl, manifest->url) &&
         values_.setText(kUpdaterDigest, manifest->sha256) &&
         values_.setText(kUpdaterSignature, manifest->signature) &&
         values_.setText(kUpdaterExpires, std::to_string(manifest->expires)) &&
         values_.setText(kUpdaterSequence, std::to_string(manifest->sequence)) &&
         values_.setText(kUpdaterPath, path) &&
         values_.setText(kUpdaterVersion, manifest->version) &&
         values_.setNumber(kUpdaterIgnore, 0);
}

void UpdaterHost::start_application(const std::vector<std::string>& args) {
  auto folder = values_.text(kAppFolder);
  std::string from = folder && files::isDirectory(*folder) ? *folder : ownFolder_;
  if (from.empty()) return;
  std::string program = files::joinPath(from, "varnelo");
  if (auto ec = platform::currentLauncher().run(program, args))
    host_log(kHostError, "cannot start %s: %s", program.c_str(), ec.message().c_str());
}

std::optional<UpdateManifest> UpdaterHost::authentic_pending(const std::string& path,
                                                             const std::string& version) {
  UpdateManifest signedFacts;
  signedFacts.version = version;
  signedFacts.url = values_.text(kUpdaterUrl).value_or("");
  signedFacts.sha256 = values_.text(kUpdaterDigest).value_or("");
  signedFacts.signature = values_.text(kUpdaterSignature).value_or("");
  // The expiry was checked when it was downloaded; a pending installer may
  // wait longer than a manifest lives.
  signedFacts.expires = values_.bigNumber(kUpdaterExpires, 0);
  signedFacts.sequence = values_.bigNumber(kUpdaterSequence, 0);
  auto refused = verify_manifest(signedFacts, keys_);
  if (!refused) refused = verify_installer(path, signedFacts.sha256);
  if (refused) {
    host_log(kHostError, "pending installer %s refused: %s", path.c_str(), refused->c_str());
    return std::nullopt;
  }
  return signedFacts;
}

std::vector<std::string> UpdaterHost::installer_args(bool silent) const {
  std::vector<std::string> args;
  if (silent) args = {"--silent", "--autoupdate"};
  // The installer puts the programs in <prefix>/bin; an update goes where
  // the installed ones are.
  auto folder = values_.text(kAppFolder);
  if (folder && files::fileName(*folder) == "bin")
    args.push_back("--prefix=" + files::parentPath(*folder));
  return args;
}

void UpdaterHost::discard_pending(const std::string& path, const std::string& version) {
  values_.forgetPendingUpdate();
  remove_download(path, version);
}

}  // namespace varnelo::host
