// Wire encodings: form escaping, status lines, base64url, the small-file put
// address and the inline key list of data addresses.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Base64Url.h"
#include "EnvGuard.h"
#include "FormEscape.h"
#include "HttpStatus.h"
#include "KeyList.h"
#include "MetaApi.h"
#include "ServiceBases.h"
#include "TokenRequest.h"

using namespace varnelo::http;

TEST(FormEscapeTest, EscapesTheReservedSetAndNothingElse) {
  EXPECT_EQ(form_escape("a b/c~"), "a+b%2fc%7e");
  EXPECT_EQ(form_escape("p&w=x+y"), "p%26w%3dx%2by");
  EXPECT_EQ(form_escape("\"#$%&'+,/:;<=>?@[\\]^`{|}~"),
            "%22%23%24%25%26%27%2b%2c%2f%3a%3b%3c%3d%3e%3f%40%5b%5c%5d%5e%60%7b%7c%7d%7e");
  EXPECT_EQ(form_escape("Az09!()*-._"), "Az09!()*-._");
  EXPECT_EQ(form_escape("\xe4\xb8\xad\xe6\x96\x87\t"), "\xe4\xb8\xad\xe6\x96\x87\t");
}

TEST(HttpStatusTest, FirstFinalStatusLineWins) {
  EXPECT_EQ(parse_http_status("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n"), 200);
  EXPECT_EQ(parse_http_status("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 409 Conflict\r\n\r\n"), 409);
  EXPECT_EQ(parse_http_status("HTTP/1.1 100 Continue\r\n\r\n"), -1);
  EXPECT_EQ(parse_http_status(""), -1);
  EXPECT_EQ(parse_http_status("HTTP/1.1    298 Partial\r\n"), 298);
  // No space after the number, or no number at all: not a status line.
  EXPECT_EQ(parse_http_status("HTTP/1.1 200\r\n"), -1);
  EXPECT_EQ(parse_http_status("garbage\nHTTP/1.1 abc def\n"), -1);
  EXPECT_EQ(parse_http_status("HTTP/1.1 99999999999999999999 x\r\n"), -1);
}

TEST(Base64UrlTest, RoundTripsWithPadding) {
  std::vector<uint8_t> version(16);
  for (int i = 0; i < 16; ++i) version[i] = static_cast<uint8_t>(0xf0 + i);
  std::string text = base64url_encode(version.data(), version.size());
  EXPECT_EQ(text.size(), 24u);
  EXPECT_EQ(text.substr(22), "==");
  EXPECT_EQ(text.find_first_of("+/"), std::string::npos);
  std::vector<uint8_t> back;
  ASSERT_TRUE(base64url_decode(text, back));
  EXPECT_EQ(back, version);

  std::vector<uint8_t> key(20, 0xfb);
  EXPECT_EQ(base64url_encode(key.data(), key.size()).size(), 28u);
  EXPECT_EQ(base64url_encode(reinterpret_cast<const uint8_t*>("f"), 1), "Zg==");
}

TEST(Base64UrlTest, SkipsLineBreaksAndForeignCharactersUnlessStrict) {
  std::vector<uint8_t> out;
  ASSERT_TRUE(base64url_decode("Zm9v\r\nYmFy", out));
  EXPECT_EQ(std::string(out.begin(), out.end()), "foobar");
  ASSERT_TRUE(base64url_decode("Zm 9v*", out));
  EXPECT_EQ(std::string(out.begin(), out.end()), "foo");
  EXPECT_FALSE(base64url_decode("Zm 9v*", out, true));
  ASSERT_TRUE(base64url_decode("_-8=", out, true));
  EXPECT_EQ(out, (std::vector<uint8_t>{0xff, 0xef}));
}

TEST(ServiceBasesTest, UseHttpsSelectsSchemeButAccountStaysSecure) {
  varnelo::test::EnvGuard env;
  env.set("VARNELO_SERVICE", "10.1.2.3:18080:18443");
  for (const char* on : {"true", "TRUE", "True"}) {
    env.set("USE_HTTPS", on);
    EXPECT_EQ(file_service_base(), "https://10.1.2.3:18443");
  }
  for (const char* off : {"", "yes", "1"}) {
    env.set("USE_HTTPS", off);
    EXPECT_EQ(file_service_base(), "http://10.1.2.3:18080");
    EXPECT_EQ(device_service_base(), "http://10.1.2.3:18080");
    EXPECT_EQ(account_service_base(), "https://10.1.2.3:18443");
  }
  env.set("VARNELO_SERVICE", "nonsense");
  EXPECT_EQ(log_service_base(), "http://127.0.0.1:8080");
  env.set("VARNELO_SERVICE", "::1:1:2");
  EXPECT_EQ(account_service_base(), "https://[::1]:2");
}

TEST(SmallPutUrlTest, BufferProtocol) {
  varnelo::test::EnvGuard env;
  env.set("VARNELO_SERVICE", "127.0.0.1:80:443");
  env.unset("USE_HTTPS");
  uint8_t key[20] = {};
  size_t length = 0;
  EXPECT_EQ(small_put_url("home/a b.txt", key, 5000000000LL, 4194304, "text/plain", "1234", nullptr,
                          nullptr, nullptr),
            499);
  ASSERT_EQ(small_put_url("home/a b.txt", key, 5000000000LL, 4194304, "text/plain", "1234", nullptr,
                          nullptr, &length),
            200);
  const std::string expected =
      "http://127.0.0.1:80/2/put?path=home%2fa+b.txt&key=AAAAAAAAAAAAAAAAAAAAAAAAAAA=&"
      "fileSize=5000000000&base=&chunkSize=4194304&mimeType=text/plain&editTime=1234";
  EXPECT_EQ(length, expected.size());
  std::vector<char> buffer(length + 1, 'x');
  size_t exact = length;
  EXPECT_EQ(small_put_url("home/a b.txt", key, 5000000000LL, 4194304, "text/plain", "1234", nullptr,
                          buffer.data(), &exact),
            -3);
  size_t roomy = length + 1;
  ASSERT_EQ(small_put_url("home/a b.txt", key, 5000000000LL, 4194304, "text/plain", "1234", nullptr,
                          buffer.data(), &roomy),
            200);
  EXPECT_EQ(roomy, expected.size());
  EXPECT_STREQ(buffer.data(), expected.c_str());

  uint8_t base[16];
  std::memset(base, 0xff, sizeof base);
  size_t n = 0;
  ASSERT_EQ(small_put_url("x", key, 1, 1, nullptr, nullptr, base, nullptr, &n), 200);
  std::vector<char> text(n + 1);
  ASSERT_EQ(small_put_url("x", key, 1, 1, nullptr, nullptr, base, text.data(), &++n), 200);
  EXPECT_NE(std::string(text.data()).find("&base=_____________________w==&"), std::string::npos);
  EXPECT_NE(std::string(text.data()).find("&mimeType=&editTime="), std::string::npos);
}

namespace {

std::string key_list_url(uint8_t descriptor, size_t keyBytes) {
  std::vector<uint8_t> bytes(1 + keyBytes);
  bytes[0] = descriptor;
  for (size_t i = 0; i < keyBytes; ++i) bytes[1 + i] = static_cast<uint8_t>(i);
  return "https://h/data?x=1&c=" + base64url_encode(bytes.data(), bytes.size()) + "&s=2";
}

}  // namespace

TEST(KeyListTest, InlineFormChecksSizeAndCount) {
  constexpr uint32_t k4MiB = 4u << 20;
  uint8_t keys[40] = {};
  ASSERT_EQ(decode_key_list(key_list_url(0x16, 40), k4MiB, 2, keys), 200);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(keys[i], i);
  EXPECT_EQ(decode_key_list(key_list_url(0x16, 41), k4MiB, 2, keys), -1);
  EXPECT_EQ(decode_key_list(key_list_url(0x16, 40), k4MiB, 3, keys), -1);
  EXPECT_EQ(decode_key_list(key_list_url(0x10, 20), k4MiB, 1, keys), -1);  // 64 KiB chunks
  EXPECT_EQ(decode_key_list(key_list_url(0x10, 20), 65536, 1, keys), 200);
  EXPECT_EQ(decode_key_list(key_list_url(0x36, 20), k4MiB, 1, keys), -1);  // unknown form
  EXPECT_EQ(decode_key_list("https://h/data?c=&x", k4MiB, 1, keys), -1);
  EXPECT_EQ(decode_key_list("https://h/data?c=FgAA", k4MiB, 1, keys), -1);  // no "&"
  EXPECT_EQ(decode_key_list("https://h/data?x=1", k4MiB, 1, keys), -1);
  // A parameter whose name ends in "c" does not hide the key list.
  std::string url = key_list_url(0x16, 40);
  url.insert(url.find('?') + 1, "sec=zz&");
  EXPECT_EQ(decode_key_list(url, k4MiB, 2, keys), 200);
}

TEST(TokenUrlTest, QuickTokenEscapesCredentialsAndDefaultsTheProvider) {
  varnelo::test::EnvGuard env;
  env.set("VARNELO_SERVICE", "127.0.0.1:80:443");
  EXPECT_EQ(quick_token_url("a@b.c", "p w&x", nullptr),
            "https://127.0.0.1:443/oauth/quick_token?username=a%40b.c&password=p+w%26x"
            "&provider=smart");
  EXPECT_EQ(quick_token_url("u", "p", "kuv"),
            "https://127.0.0.1:443/oauth/quick_token?username=u&password=p&provider=kuv");
}
