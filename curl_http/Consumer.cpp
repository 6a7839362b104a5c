#include "Consumer.h"

namespace varnelo::http {

const varnelo_token_pair& client_consumer() {
  static const varnelo_token_pair consumer{VARNELO_CONSUMER_KEY, VARNELO_CONSUMER_SECRET};
  return consumer;
}

}  // namespace varnelo::http
