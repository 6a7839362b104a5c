#include "ClientState.h"

#include <json/json.h>
#include <unistd.h>

#include <cctype>
#include <exception>
#include <memory>

#include "platform/files.h"
#include "platform/uuid.h"

namespace varnelo::cli {
namespace {

const char kFileName[] = "varnelocmd.json";

std::string text(const Json::Value& object, const char* key) {
  const Json::Value& v = object[key];
  return v.isString() ? v.asString() : std::string();
}

uint64_t count(const Json::Value& object, const char* key) {
  const Json::Value& v = object[key];
  return v.isUInt64() ? v.asUInt64() : 0;
}

}  // namespace

ClientState loadClientState(const std::string& dataFolder) {
  ClientState state;
  std::string body;
  if (platform::files::readFile(platform::files::joinPath(dataFolder, kFileName), body)) {
    return state;
  }
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  try {
    if (!reader->parse(body.data(), body.data() + body.size(), &root, &errors) ||
        !root.isObject()) {
      return state;
    }
  } catch (const std::exception&) {
    return state;  // nested deeper than the reader's limit: unreadable like any other damage
  }
  state.deviceId = text(root, "devId");
  state.deviceName = text(root, "devName");
  state.user = text(root, "user");
  const Json::Value& last = root["last"];
  if (last.isObject()) {
    state.last.finishedAt = last["finishedAt"].isInt64() ? last["finishedAt"].asInt64() : 0;
    state.last.inStep = last["inStep"].isBool() && last["inStep"].asBool();
    state.last.uploaded = count(last, "uploaded");
    state.last.downloaded = count(last, "downloaded");
    state.last.note = text(last, "note");
    state.last.heldDeletions = count(last, "heldDeletions");
    state.last.folderUnavailable =
        last["folderUnavailable"].isBool() && last["folderUnavailable"].asBool();
    if (last["held"].isArray()) {
      for (const Json::Value& h : last["held"]) {
        if (!h.isObject() || !h["path"].isString()) continue;
        state.last.held.push_back(
            {h["path"].asString(), text(h, "deletedOn") == "here", count(h, "files")});
      }
    }
    if (last["failed"].isArray()) {
      for (const Json::Value& f : last["failed"]) {
        if (f.isString()) state.last.failed.push_back(f.asString());
      }
    }
  }
  return state;
}

std::string saveClientState(const std::string& dataFolder, const ClientState& state) {
  Json::Value root(Json::objectValue);
  root["devId"] = state.deviceId;
  root["devName"] = state.deviceName;
  root["user"] = state.user;
  Json::Value last(Json::objectValue);
  last["finishedAt"] = Json::Int64(state.last.finishedAt);
  last["inStep"] = state.last.inStep;
  last["uploaded"] = Json::UInt64(state.last.uploaded);
  last["downloaded"] = Json::UInt64(state.last.downloaded);
  last["note"] = state.last.note;
  last["heldDeletions"] = Json::UInt64(state.last.heldDeletions);
  last["folderUnavailable"] = state.last.folderUnavailable;
  last["held"] = Json::Value(Json::arrayValue);
  for (const HeldPath& h : state.last.held) {
    Json::Value entry(Json::objectValue);
    entry["path"] = h.path;
    entry["deletedOn"] = h.deletedHere ? "here" : "service";
    entry["files"] = Json::UInt64(h.files);
    last["held"].append(entry);
  }
  last["failed"] = Json::Value(Json::arrayValue);
  for (const std::string& f : state.last.failed) last["failed"].append(f);
  root["last"] = last;
  Json::StreamWriterBuilder writer;
  writer["indentation"] = "  ";
  std::string body = Json::writeString(writer, root) + "\n";
  std::error_code ec = platform::files::writeFileAtomic(
      platform::files::joinPath(dataFolder, kFileName), body, 0600);
  return ec ? "cannot write " + std::string(kFileName) + ": " + ec.message() : "";
}

bool ensureDeviceId(ClientState& state) {
  if (!state.deviceId.empty()) return false;
  std::string uuid = platform::newUuid();
  for (char& c : uuid) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  state.deviceId = "{" + uuid + "}";
  return true;
}

std::string hostName() {
  char name[256] = {};
  if (gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0') return "Linux PC";
  return name;
}

}  // namespace varnelo::cli
