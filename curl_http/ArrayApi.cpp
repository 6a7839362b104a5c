// Exported accessors shared by every array handle: size and string elements.
#include "JsonAccess.h"
#include "Records.h"

using namespace varnelo;
using namespace varnelo::http;

extern "C" {

int32_t varnelo_array_size(const varnelo_array* array) {
  if (array == nullptr) return 0;
  const Json::Value& value = *as_json(array);
  return value.isArray() ? static_cast<int32_t>(value.size()) : 0;
}

const char* varnelo_string_array_at(const varnelo_array* array, int32_t index) {
  if (array == nullptr) return nullptr;
  return text_of(element(*as_json(array), index));
}

}  // extern "C"
