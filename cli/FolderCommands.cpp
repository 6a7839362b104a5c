// status, exclude and link: what the engine records about the sync folder.
#include <strings.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>

#include "ClientState.h"
#include "Commands.h"
#include "HeldText.h"
#include "Messages.h"
#include "RemotePaths.h"
#include "ServiceAddress.h"
#include "SignedIn.h"
#include "varnelo/meta.h"

namespace varnelo::cli {
namespace {

struct LinkIdRelease {
  void operator()(char* id) const { varnelo_meta_destroy_linkid(id); }
};

bool sameFolder(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::string timeText(int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm local {};
  char text[64] = "?";
  if (localtime_r(&t, &local)) strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace

int runStatus(const std::string& dataFolder) {
  ClientState state = loadClientState(dataFolder);
  SignedIn signedIn = signInSaved(dataFolder, /*quiet=*/true);
  if (!signedIn.engine) {
    fprintf(stderr, "varnelocmd: %s\n", failure("opening the engine", signedIn.code).c_str());
    return 1;
  }
  printf("Data folder: %s\n", dataFolder.c_str());
  if (isNotSignedIn(signedIn.code)) {
    printf("Account:     not signed in\n");
    return 0;
  }
  printf("Account:     %s", state.user.empty() ? "(signed in)" : state.user.c_str());
  if (signedIn.code == 200) {
    printf(" (token accepted)\n");
  } else {
    printf(" (%s)\n", reason(signedIn.code).c_str());
  }
  if (!state.deviceId.empty()) {
    printf("Device:      %s %s\n", state.deviceName.c_str(), state.deviceId.c_str());
  }
  std::string folder = mountedFolder(*signedIn.engine);
  printf("Folder:      %s\n",
         folder.empty() ? "(none; run `varnelocmd sync --folder DIR`)" : folder.c_str());
  int32_t mode = signedIn.engine->getSyncMode();
  printf("Mode:        %s\n", mode == 1 ? "upload only" : mode == 2 ? "download only" : "two-way");
  std::vector<std::string> excluded = excludedFolders(*signedIn.engine);
  if (excluded.empty()) {
    printf("Excluded:    none\n");
  } else {
    for (size_t i = 0; i < excluded.size(); ++i) {
      printf("%s%s\n", i == 0 ? "Excluded:    " : "             ", excluded[i].c_str());
    }
  }
  const LastResult& last = state.last;
  if (last.finishedAt == 0) {
    printf("Last sync:   never\n");
  } else {
    printf("Last sync:   %s, %s: %llu uploaded, %llu downloaded, %zu failed%s%s\n",
           timeText(last.finishedAt).c_str(), last.inStep ? "in step" : "not in step",
           static_cast<unsigned long long>(last.uploaded),
           static_cast<unsigned long long>(last.downloaded), last.failed.size(),
           last.note.empty() ? "" : "; ", last.note.c_str());
    for (const std::string& f : last.failed) printf("  failed: %s\n", f.c_str());
  }
  const std::string where = folder.empty() ? "DIR" : "'" + folder + "'";
  if (last.folderUnavailable) {
    printf(
        "Unavailable: the sync folder was not the one synced before (not mounted?); nothing "
        "was synced or deleted. To take it as it is now, run `varnelocmd sync --folder %s "
        "--relink`\n",
        where.c_str());
  }
  if (last.heldDeletions > 0) {
    printf(
        "Held:        %llu deletions held back (they would remove a large part of the "
        "files); to carry them out, run `varnelocmd sync --folder %s --allow-deletes`; to "
        "bring them back, run `varnelocmd sync --folder %s --restore-held`\n",
        static_cast<unsigned long long>(last.heldDeletions), where.c_str(), where.c_str());
    // Every entry: status is where one looks before answering.
    for (const std::string& line : heldLines(last.held, last.held.size()))
      printf("             %s\n", line.c_str());
  }
  return 0;
}

int runExclude(const Command& command, const std::string& dataFolder) {
  SignedIn signedIn = signInSaved(dataFolder, /*quiet=*/true);
  if (!signedIn.engine || isNotSignedIn(signedIn.code)) {
    fprintf(stderr, "varnelocmd: not signed in; run `varnelocmd login` first\n");
    return 1;
  }
  // The list lives in the engine's store; a service that cannot be reached
  // right now does not keep it from being read or changed.
  std::vector<std::string> dirs = excludedFolders(*signedIn.engine);
  if (command.excludeAction == ExcludeAction::List) {
    for (const std::string& dir : dirs) printf("%s\n", dir.c_str());
    if (dirs.empty()) printf("No folders are excluded.\n");
    return 0;
  }
  std::string folder = normalizeRemoteFolder(command.remotePath);
  if (folder.empty()) {
    fprintf(stderr, "varnelocmd: '%s' names no folder below home\n", command.remotePath.c_str());
    return 2;
  }
  auto match = [&](const std::string& dir) {
    return sameFolder(normalizeRemoteFolder(dir), folder);
  };
  bool present = std::any_of(dirs.begin(), dirs.end(), match);
  if (command.excludeAction == ExcludeAction::Add) {
    if (present) {
      printf("%s is already excluded.\n", folder.c_str());
      return 0;
    }
    dirs.push_back(folder);
  } else {
    if (!present) {
      printf("%s was not excluded.\n", folder.c_str());
      return 0;
    }
    dirs.erase(std::remove_if(dirs.begin(), dirs.end(), match), dirs.end());
  }
  std::vector<const char*> texts;
  for (const std::string& dir : dirs) texts.push_back(dir.c_str());
  int32_t rc = signedIn.engine->setExcludeDirs(texts.data(), static_cast<uint32_t>(texts.size()));
  if (rc != 200) {
    fprintf(stderr, "varnelocmd: %s\n", failure("storing the excluded folders", rc).c_str());
    return 1;
  }
  printf("%s %s; the next sync %s.\n", folder.c_str(),
         command.excludeAction == ExcludeAction::Add ? "is excluded" : "is synced again",
         command.excludeAction == ExcludeAction::Add ? "leaves it alone (local files stay)"
                                                     : "fetches it");
  return 0;
}

int runLink(const Command& command, const std::string& dataFolder) {
  SignedIn signedIn = signInSaved(dataFolder);
  if (signedIn.code != 200) return 1;
  std::string root = mountedFolder(*signedIn.engine);
  if (root.empty()) {
    fprintf(stderr, "varnelocmd: no sync folder yet; run `varnelocmd sync --folder DIR` first\n");
    return 1;
  }
  std::error_code ec;
  std::string cwd = std::filesystem::current_path(ec).string();
  std::string remote = remotePathOf(root, command.localPath, cwd);
  if (remote.empty()) {
    fprintf(stderr, "varnelocmd: %s is not inside the sync folder %s\n", command.localPath.c_str(),
            root.c_str());
    return 1;
  }
  char* rawId = nullptr;
  int32_t rc = varnelo_meta_mklink(signedIn.session(), remote.c_str(), &rawId);
  std::unique_ptr<char, LinkIdRelease> id(rawId);
  if (rc != 200 || !id) {
    fprintf(stderr, "varnelocmd: %s\n",
            failure("making a share link for " + remote, rc == 200 ? -1 : rc).c_str());
    return 1;
  }
  std::string site = webSiteBase(std::getenv("VARNELO_SERVICE"));
  if (site.empty()) {
    fprintf(stderr, "varnelocmd: VARNELO_SERVICE is not host:httpPort:httpsPort; link id %s\n",
            id.get());
    return 1;
  }
  printf("%s/link?id=%s\n", site.c_str(), id.get());
  return 0;
}

}  // namespace varnelo::cli
