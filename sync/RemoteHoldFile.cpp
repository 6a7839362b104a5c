#include "RemoteHoldFile.h"

#include <charconv>
#include <cstring>
#include <set>
#include <utility>

#include "ConflictNames.h"
#include "Digest.h"
#include "FileJournal.h"
#include "LocalRemoval.h"
#include "Log.h"
#include "SyncPaths.h"
#include "platform/files.h"

namespace varnelo {

namespace files = platform::files;

namespace {

// The text is one header line, per hold a "hold" line followed by its
// folder's journal rows (the folder's own first, then each row after its
// parent, with its depth below the folder), and an "end" line with the
// number of holds and the SHA-1 of everything before it:
//
//   varnelo remote holds 1
//   hold <from> <to> <synced> <size> <editTime> <data> <rows>
//   row <depth> <type> <signature> <size> <editTime> <name>
//   end <holds> <sha1>
//
// Texts are escaped so that a field never holds a space or a line break.
constexpr std::string_view kHeader = "varnelo remote holds 1\n";
constexpr std::string_view kHex = "0123456789abcdef";
// No path is this deep; a deeper tree is garbled (and would cost the
// recursive walks over it their stack).
constexpr size_t kMaxDepth = 2048;
// Far above any real record (a folder of a million entries is some 100 MB).
constexpr uint64_t kMaxFileBytes = 1ull << 30;

std::string hexOf(const uint8_t* bytes, size_t length) {
  std::string out;
  out.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 15];
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool bytesOfHex(std::string_view hex, std::string& out) {
  if (hex.size() % 2) return false;
  out.clear();
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = hexDigit(hex[i]), low = hexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high << 4 | low);
  }
  return true;
}

bool versionOfHex(std::string_view hex, sync::VersionSignature& out) {
  std::string bytes;
  if (hex.size() != out.size() * 2 || !bytesOfHex(hex, bytes)) return false;
  std::memcpy(out.data(), bytes.data(), out.size());
  return true;
}

std::string sha1Hex(std::string_view text) {
  const ChunkKey digest = sha1Of(text.data(), text.size());
  return hexOf(digest.data(), digest.size());
}

// Spaces, line breaks, other control bytes and "%" as %XX; the empty text
// as a lone "%", so that every field is one non-empty word.
std::string escaped(std::string_view text) {
  if (text.empty()) return "%";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7f || c == '%') {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

bool unescaped(std::string_view word, std::string& out) {
  out.clear();
  if (word == "%") return true;
  for (size_t i = 0; i < word.size(); ++i) {
    const auto byte = static_cast<unsigned char>(word[i]);
    if (byte <= 0x20 || byte == 0x7f) return false;
    if (word[i] != '%') {
      out += word[i];
      continue;
    }
    if (i + 2 >= word.size()) return false;
    const int high = hexDigit(word[i + 1]), low = hexDigit(word[i + 2]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high << 4 | low);
    i += 2;
  }
  return !out.empty();
}

template <class Number>
bool numberOf(std::string_view word, Number& out) {
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), out);
  return ec == std::errc() && end == word.data() + word.size();
}

std::vector<std::string_view> wordsOf(std::string_view line) {
  std::vector<std::string_view> words;
  size_t start = 0;
  while (true) {
    const size_t space = line.find(' ', start);
    words.push_back(line.substr(start, space - start));
    if (space == std::string_view::npos) break;
    start = space + 1;
  }
  return words;
}

void appendRows(const JournalNode& node, size_t depth, std::string& out) {
  const sync::JournalEntry& row = node.row;
  out += "row " + std::to_string(depth) + " " + std::to_string(row.type) + " " +
         hexOf(row.signature.data(), row.signature.size()) + " " + std::to_string(row.fileSize) +
         " " + std::to_string(row.editTime) + " " + escaped(row.name) + "\n";
  for (const JournalNode& child : node.children) appendRows(child, depth + 1, out);
}

size_t rowCount(const JournalNode& node) {
  size_t count = 1;
  for (const JournalNode& child : node.children) count += rowCount(child);
  return count;
}

// The parent path and the last name of a remote path whose every name is
// one the service may send; false otherwise.
bool splitRemotePath(std::string_view path, std::string_view& parent, std::string_view& name) {
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos || slash == 0) return false;
  parent = path.substr(0, slash);
  name = path.substr(slash + 1);
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = std::min(path.find('/', start), path.size());
    if (!isSafeRemoteName(path.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

// Reads one hold's rows (lines[at] on) into a folder tree; an empty reason
// when they are sound.
std::string readRows(const std::vector<std::string_view>& lines, size_t at, size_t count,
                     std::string_view folderName, JournalNode& root) {
  std::vector<JournalNode*> ancestors;  // ancestors[d] is the latest row at depth d
  for (size_t i = 0; i < count; ++i) {
    const std::vector<std::string_view> w = wordsOf(lines[at + i]);
    size_t depth = 0;
    sync::JournalEntry row;
    if (w.size() != 7 || w[0] != "row" || !numberOf(w[1], depth) || !numberOf(w[2], row.type) ||
        !versionOfHex(w[3], row.signature) || !numberOf(w[4], row.fileSize) ||
        !numberOf(w[5], row.editTime) || !unescaped(w[6], row.name)) {
      return "unreadable row";
    }
    const bool folder = (row.type & sync::FileJournal::kTypeFolder) != 0;
    if (!isSafeRemoteName(row.name) || row.fileSize < 0 ||
        (!folder && !(row.type & sync::FileJournal::kTypeFile))) {
      return "row of an impossible entry";
    }
    if (i == 0) {
      if (depth != 0 || !folder || nameKey(row.name) != folderName) return "rows of another folder";
      root.row = std::move(row);
      ancestors.push_back(&root);
      continue;
    }
    if (depth == 0 || depth > ancestors.size() || depth > kMaxDepth) return "rows out of order";
    ancestors.resize(depth);
    JournalNode& parent = *ancestors.back();
    if (!(parent.row.type & sync::FileJournal::kTypeFolder)) return "row below a file";
    for (const JournalNode& sibling : parent.children) {
      if (sibling.row.name == row.name) return "two rows of one name";
    }
    // Only the parent's list grows here: the pointers kept are to its
    // ancestors, which stay where they are.
    parent.children.push_back(JournalNode{std::move(row), {}});
    ancestors.push_back(&parent.children.back());
  }
  return {};
}

}  // namespace

std::string encodeRemoteHolds(const std::vector<const RemoteHold*>& holds) {
  std::string text(kHeader);
  for (const RemoteHold* hold : holds) {
    const size_t rows = hold->folder ? rowCount(*hold->folder) : 0;
    text += "hold " + escaped(hold->from) + " " + escaped(hold->path) + " " +
            hexOf(hold->synced.data(), hold->synced.size()) + " " + std::to_string(hold->size) +
            " " + escaped(hold->editTime) + " " +
            (hold->data ? "=" + hexOf(reinterpret_cast<const uint8_t*>(hold->data->data()),
                                      hold->data->size())
                        : std::string("-")) +
            " " + std::to_string(rows) + "\n";
    if (hold->folder) appendRows(*hold->folder, 0, text);
  }
  text += "end " + std::to_string(holds.size()) + " " + sha1Hex(text) + "\n";
  return text;
}

std::vector<RemoteHold> decodeRemoteHolds(std::string_view text,
                                          std::vector<std::string>& dropped) {
  std::vector<RemoteHold> holds;
  // Whole lines only, the last one sealing everything before it.
  const size_t endAt = text.size() < 2 || text.back() != '\n' ? std::string_view::npos
                                                              : text.rfind('\n', text.size() - 2);
  const std::string_view body =
      endAt == std::string_view::npos ? std::string_view() : text.substr(0, endAt + 1);
  const std::vector<std::string_view> seal =
      endAt == std::string_view::npos ? std::vector<std::string_view>()
                                      : wordsOf(text.substr(endAt + 1, text.size() - endAt - 2));
  size_t declared = 0;
  if (seal.size() != 3 || seal[0] != "end" || !numberOf(seal[1], declared) ||
      seal[2] != sha1Hex(body) || body.substr(0, kHeader.size()) != kHeader) {
    dropped.push_back("the record is torn or garbled: every hold in it is dropped");
    return holds;
  }
  std::vector<std::string_view> lines;
  for (size_t start = kHeader.size(); start < body.size();) {
    const size_t end = body.find('\n', start);
    lines.push_back(body.substr(start, end - start));
    start = end + 1;
  }
  size_t seen = 0;
  std::set<std::string> froms, tos;
  for (size_t at = 0; at < lines.size();) {
    const std::vector<std::string_view> w = wordsOf(lines[at]);
    RemoteHold hold;
    size_t rows = 0;
    std::string data;
    if (w.size() != 8 || w[0] != "hold" || !numberOf(w[7], rows) || rows > lines.size() - at - 1) {
      dropped.push_back("unreadable hold line: the rest of the record is dropped");
      return holds;
    }
    ++seen;
    at += 1;
    const size_t rowsAt = at;
    at += rows;
    std::string_view fromParent, fromName, toParent, toName;
    std::string why;
    if (!unescaped(w[1], hold.from) || !unescaped(w[2], hold.path) ||
        !versionOfHex(w[3], hold.synced) || !numberOf(w[4], hold.size) ||
        !(w[5] == "%" || unescaped(w[5], hold.editTime)) ||
        !(w[6] == "-" || (w[6].substr(0, 1) == "=" && bytesOfHex(w[6].substr(1), data)))) {
      why = "unreadable fields";
    } else if (!splitRemotePath(hold.from, fromParent, fromName) ||
               !splitRemotePath(hold.path, toParent, toName)) {
      why = "a path the service could not hold";
    } else if (nameKey(toParent) != nameKey(fromParent) || nameKey(toName) == nameKey(fromName) ||
               !hasConflictMarker(toName)) {
      // Only ever taken aside beside itself, under a conflicted copy's name.
      why = "not taken aside beside its own name";
    } else if (hold.size < 0 || (rows > 0 && (hold.data || hold.size != 0))) {
      why = "impossible size or content";
    }
    if (why.empty() && w[6] != "-") hold.data = std::move(data);
    if (why.empty() && rows > 0) {
      auto folder = std::make_shared<JournalNode>();
      why = readRows(lines, rowsAt, rows, nameKey(fromName), *folder);
      if (why.empty() && folder->row.signature != hold.synced) why = "rows of another version";
      hold.folder = std::move(folder);
    }
    if (why.empty() && !froms.insert(sync::journalPathOf(hold.from)).second)
      why = "a second hold of one name";
    if (why.empty() && !tos.insert(sync::journalPathOf(hold.path)).second)
      why = "a second hold under one name aside";
    if (!why.empty()) {
      dropped.push_back("hold of [" + hold.from + "] dropped: " + why);
      continue;
    }
    hold.moved = false;
    hold.checked = false;
    holds.push_back(std::move(hold));
  }
  if (seen != declared) {
    dropped.push_back("the record's count does not match: every hold in it is dropped");
    holds.clear();
  }
  return holds;
}

RemoteHoldFile::RemoteHoldFile(std::string path) : path_(std::move(path)) {}

std::map<std::string, RemoteHold> RemoteHoldFile::load() {
  std::map<std::string, RemoteHold> out;
  written_.clear();
  files::EntryInfo info;
  if (auto ec = files::stat(path_, info)) {
    if (ec != std::errc::no_such_file_or_directory) {
      log_write(kLogError, kModuleRemove, "cannot read the holds record [%s]:[%d]", path_.c_str(),
                ec.value());
    }
    return out;
  }
  std::string text;
  if (info.type != files::EntryType::File || info.size > kMaxFileBytes) {
    log_write(kLogError, kModuleRemove, "holds record [%s] is no record: dropped", path_.c_str());
  } else if (auto ec = files::readFile(path_, text)) {
    log_write(kLogError, kModuleRemove, "cannot read the holds record [%s]:[%d]", path_.c_str(),
              ec.value());
    return out;
  }
  std::vector<std::string> dropped;
  for (RemoteHold& hold : decodeRemoteHolds(text, dropped)) {
    std::string key = sync::journalPathOf(hold.from);
    log_write(kLogInfo, kModuleRemove, "remote entry taken aside as %s by an earlier run: [%s]",
              hold.path.c_str(), hold.from.c_str());
    out.emplace(std::move(key), std::move(hold));
  }
  for (const std::string& line : dropped) {
    log_write(kLogError, kModuleRemove, "holds record [%s]: %s", path_.c_str(), line.c_str());
  }
  // Known to stand there, so that the next save replaces or removes it.
  written_ = text.empty() ? std::string("?") : std::move(text);
  if (out.empty()) save(out);
  return out;
}

bool RemoteHoldFile::save(const std::map<std::string, RemoteHold>& holds, const RemoteHold* next) {
  std::vector<const RemoteHold*> list;
  const std::string nextKey = next ? sync::journalPathOf(next->from) : std::string();
  for (const auto& [key, hold] : holds) {
    if (!next || key != nextKey) list.push_back(&hold);
  }
  if (next) list.push_back(next);
  if (list.empty()) {
    if (written_.empty()) return true;
    if (auto ec = files::removeFile(path_); ec && ec != std::errc::no_such_file_or_directory) {
      log_write(kLogError, kModuleRemove, "cannot remove the holds record [%s]:[%d]", path_.c_str(),
                ec.value());
      return false;
    }
    written_.clear();
    return true;
  }
  std::string text = encodeRemoteHolds(list);
  if (text == written_) return true;
  std::error_code ec = files::writeFileAtomic(path_, text, 0600);
  if (!ec) ec = files::syncDirectory(files::parentPath(path_));
  if (ec) {
    log_write(kLogError, kModuleRemove, "cannot write the holds record [%s]:[%d]", path_.c_str(),
              ec.value());
    // What stands there now is not known: the next save writes again.
    written_ = "?";
    return false;
  }
  written_ = std::move(text);
  return true;
}

}  // namespace varnelo
