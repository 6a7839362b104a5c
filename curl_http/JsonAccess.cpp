#include "JsonAccess.h"

#include <cstdlib>

namespace varnelo::http {
namespace {

const Json::Value& null_value() {
  static const Json::Value kNull;
  return kNull;
}

}  // namespace

const Json::Value& member(const Json::Value& object, const char* name) {
  if (!object.isObject()) return null_value();
  const Json::Value* found = object.find(name, name + std::char_traits<char>::length(name));
  return found != nullptr ? *found : null_value();
}

const Json::Value& element(const Json::Value& array, int64_t index) {
  if (!array.isArray() || index < 0 || index >= static_cast<int64_t>(array.size()))
    return null_value();
  return array[static_cast<Json::ArrayIndex>(index)];
}

bool is_integer(const Json::Value& value) {
  return value.type() == Json::intValue || value.type() == Json::uintValue;
}

int64_t integer_value(const Json::Value& value) {
  if (value.type() == Json::intValue) return value.asInt64();
  if (value.type() == Json::uintValue) return static_cast<int64_t>(value.asUInt64());
  return 0;
}

std::optional<int64_t> integer_in(const Json::Value& value, int64_t low, int64_t high) {
  if (!is_integer(value)) return std::nullopt;
  if (value.type() == Json::uintValue && value.asUInt64() > static_cast<uint64_t>(INT64_MAX))
    return std::nullopt;
  int64_t v = integer_value(value);
  if (v < low || v > high) return std::nullopt;
  return v;
}

const char* text_of(const Json::Value& value) {
  return value.isString() ? value.asCString() : nullptr;
}

int64_t decimal_text(const char* text) {
  return text != nullptr ? static_cast<int64_t>(std::strtoll(text, nullptr, 10)) : 0;
}

bool parse_json(std::string_view text, Json::Value& out) {
  try {
    Json::Reader reader;  // comments allowed; nesting deeper than 1000 throws
    return reader.parse(text.data(), text.data() + text.size(), out, false);
  } catch (const std::exception&) {
    out = Json::Value();
    return false;
  }
}

std::string write_compact(const Json::Value& value) {
  Json::FastWriter writer;
  return writer.write(value);
}

}  // namespace varnelo::http
