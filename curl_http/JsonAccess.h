// Type-checked reads from untrusted JSON replies. jsoncpp throws (or asserts)
// when a member is looked up in a value that is not an object, or an element
// in one that is not an array; these helpers answer the null value instead,
// so a reply of the wrong shape becomes a result code, never a crash.
// Pure functions over const values; thread safe.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnelo::http {

// The member `name` of an object; null for anything else or when missing.
const Json::Value& member(const Json::Value& object, const char* name);

// Element `index` of an array; null for a non-array or an index outside it.
const Json::Value& element(const Json::Value& array, int64_t index);

// A JSON integer (not a real, even an integral one), as a signed or unsigned 64-bit value.
bool is_integer(const Json::Value& value);
// The integer as int64 (values above INT64_MAX wrap, like a 64-bit copy).
int64_t integer_value(const Json::Value& value);
// The integer when it fits in [low, high].
std::optional<int64_t> integer_in(const Json::Value& value, int64_t low, int64_t high);

// The C text of a string value (points into `value`), else nullptr.
const char* text_of(const Json::Value& value);

// A decimal text converted as a 64-bit number (0 for junk; saturates).
int64_t decimal_text(const char* text);

// Parses `text` (comments allowed). False for malformed or overly nested input.
bool parse_json(std::string_view text, Json::Value& out);

// Compact serialisation ending with a newline.
std::string write_compact(const Json::Value& value);

}  // namespace varnelo::http
