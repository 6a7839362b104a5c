// The engine's own settings database, config.db: stored tokens, sync mode,
// the excluded server folders and the mounted volumes. Owned by the engine
// object; the file syncer reads volumes and excludes through it. Not thread
// safe: the engine serialises calls.
#pragma once

#include <string>
#include <vector>

#include "sqlite/Sqlite.h"

namespace varnelo {

// A mounted volume: a server path synchronised with a local folder.
struct VolumeRecord {
  std::string serverPath;
  std::string localPath;
  std::string name;
};

// Holds one open connection, or none.
class ConfigInfo {
 public:
  ConfigInfo() = default;
  virtual ~ConfigInfo();
  ConfigInfo(const ConfigInfo&) = delete;
  ConfigInfo& operator=(const ConfigInfo&) = delete;

  bool isOpen() const { return db_.isOpen(); }
  void close() { db_.close(); }

 protected:
  sqlite::Database db_;
};

class SyncConfigInfo : public ConfigInfo {
 public:
  // Result codes besides 200/404.
  static constexpr int kDatabaseError = -4;

  // Opens (creating with mode 0600: it holds tokens) and ensures the tables.
  // 200 also when already open; -4 when the file or a table fails.
  int open(const std::string& path);

  int get(const std::string& key, std::string& value);
  int set(const std::string& key, const std::string& value);
  int remove(const std::string& key);
  int getInt(const std::string& key, int& value);
  int setInt(const std::string& key, int value);

  int listVolumes(std::vector<VolumeRecord>& out);
  int getVolume(const std::string& serverPath, std::string& localPath, std::string& name);
  int putVolume(const std::string& serverPath, const std::string& localPath,
                const std::string& name);

  int getExcludeDirs(std::vector<std::string>& out);
  int putExcludeDirs(const std::vector<std::string>& dirs);

  // The "excludeDirs" text: each entry followed by "|".
  static std::string encodeExcludeDirs(const std::vector<std::string>& dirs);
  // Every run of characters ending in "|", in order; a trailing rest is ignored.
  static std::vector<std::string> decodeExcludeDirs(const std::string& text);
};

}  // namespace varnelo
