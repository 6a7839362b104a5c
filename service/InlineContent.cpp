#include "InlineContent.h"

#include "Base64.h"

namespace varnelo::service {

bool readSmallContent(const ChunkStore& chunks, const Entry& entry, int64_t limit,
                      std::string* out) {
  if (entry.type != kTypeFile || entry.size <= 0 || entry.size > limit || entry.keys.size() != 20)
    return false;
  out->assign(static_cast<size_t>(entry.size), '\0');
  ChunkReader reader(chunks, entry.keys);
  return reader.ok() && reader.readAt(0, out->data(), out->size());
}

void addInlineContent(const ChunkStore& chunks, const std::vector<Entry>& children, int64_t limit,
                      int64_t budget, Json::Value& items,
                      const std::function<bool(const Entry&)>& withheld) {
  int64_t used = 0;
  std::string content;
  for (Json::ArrayIndex i = 0; i < children.size() && i < items.size(); ++i) {
    const Entry& kid = children[i];
    if (kid.type != kTypeFile || kid.size <= 0 || kid.size > limit) continue;
    if (kid.size > budget - used) break;  // this one and all after it go without
    // A chunk that cannot be read (lost, purged meanwhile) leaves the child
    // to be fetched on its own, where the failure is reported.
    if (withheld(kid) || !readSmallContent(chunks, kid, limit, &content)) continue;
    items[i]["data"] = base64Encode(content, true);
    used += kid.size;
  }
}

}  // namespace varnelo::service
