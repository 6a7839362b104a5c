// Throughput of varnelo-service on loopback: signed /get requests per second
// (one file, and a listing of 100 entries) and MB/s of chunk PUT and ranged
// data GET, each with several client threads that keep their connection.
// Run through bench/service_bench; not a test.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "TestClient.h"

using namespace varnelo::test;
using Clock = std::chrono::steady_clock;

namespace {

int gThreads = 8;
double gSeconds = 3;
int gChunks = 32;
constexpr int64_t kChunk = 4 * 1024 * 1024;

double since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs body(client, i) on every thread until the time is up; returns calls/s.
template <class Body>
double rate(ServiceProcess& service, Body body) {
  std::atomic<long> calls{0}, failures{0};
  std::vector<std::thread> threads;
  auto start = Clock::now();
  for (int t = 0; t < gThreads; ++t) {
    threads.emplace_back([&] {
      TestClient client(service);
      if (!client.signIn("bench", "pw")) {
        ++failures;
        return;
      }
      while (since(start) < gSeconds) {
        if (body(client)) {
          ++calls;
        } else {
          ++failures;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  if (failures) fprintf(stderr, "  %ld failed requests\n", failures.load());
  return static_cast<double>(calls) / since(start);
}

Json::Value getBody(const std::string& path, bool list) {
  Json::Value body;
  body["path"] = path;
  body["base"] = "";
  body["list"] = list ? 1 : 0;
  body["showType"] = 0;
  return body;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    if (name == "--threads") gThreads = atoi(argv[i + 1]);
    if (name == "--seconds") gSeconds = atof(argv[i + 1]);
    if (name == "--chunks") gChunks = atoi(argv[i + 1]);
  }
  ServiceProcess service;
  if (!service.started() || !service.addUser("bench", "pw")) {
    fprintf(stderr, "cannot start the service: %s\n", service.error().c_str());
    return 1;
  }
  TestClient setup(service);
  if (!setup.signIn("bench", "pw")) return 1;
  for (int i = 0; i < 100; ++i) {
    setup.upload("home/list/f" + std::to_string(i), "content " + std::to_string(i), kChunk);
  }
  printf("varnelo-service on loopback, %d client threads\n", gThreads);
  printf("  /get one file:        %8.0f requests/s\n", rate(service, [](TestClient& c) {
           return c.call("/get", getBody("home/list/f1", false)).status == 200;
         }));
  printf("  /get list of 100:     %8.0f requests/s\n", rate(service, [](TestClient& c) {
           return c.call("/get", getBody("home/list", true)).status == 200;
         }));

  // One file of gChunks chunks: PUT every chunk, then GET every chunk by range.
  std::mt19937_64 gen(42);
  std::string content(static_cast<size_t>(gChunks) * kChunk, '\0');
  for (size_t i = 0; i + 8 <= content.size(); i += 8) {
    uint64_t v = gen();
    memcpy(&content[i], &v, 8);
  }
  Json::Value put;
  put["path"] = "home/big.bin";
  for (const auto& key : TestClient::chunkKeys(content, kChunk))
    put["keys"].append(urlSafeBase64(key));
  put["chunkSize"] = static_cast<Json::Int64>(kChunk);
  put["fileSize"] = std::to_string(content.size());
  put["base"] = "";
  Reply prepared = setup.call("/prepare_put", put);
  std::vector<std::pair<size_t, std::string>> urls;
  for (const auto& item : prepared.json["required"]) {
    urls.emplace_back(item["index"].asUInt64(), item["url"].asString());
  }
  auto transfer = [&](auto body) {
    std::atomic<size_t> next{0};
    std::atomic<long> failures{0};
    std::vector<std::thread> threads;
    auto start = Clock::now();
    for (int t = 0; t < gThreads; ++t) {
      threads.emplace_back([&] {
        TestClient client(service);
        for (size_t i; (i = next++) < urls.size();)
          failures += !body(client, urls[i].first, urls[i].second);
      });
    }
    for (auto& th : threads) th.join();
    if (failures) fprintf(stderr, "  %ld failed transfers\n", failures.load());
    return static_cast<double>(content.size()) / (1024.0 * 1024.0) / since(start);
  };
  printf("  chunk PUT (4 MiB):    %8.1f MB/s\n",
         transfer([&](TestClient& c, size_t index, const std::string& url) {
           return c.plain("PUT", url, content.substr(index * kChunk, kChunk)).status == 200;
         }));
  put["editTime"] = "1";
  put["mimeType"] = "application/octet-stream";
  setup.call("/commit_put", put);
  std::string dataUrl =
      setup.call("/get", getBody("home/big.bin", false)).json["dataurl"].asString();
  printf("  data GET (4 MiB):     %8.1f MB/s\n",
         transfer([&](TestClient& c, size_t index, const std::string&) {
           std::string range = "Range: bytes=" + std::to_string(index * kChunk) + "-" +
                               std::to_string((index + 1) * kChunk - 1);
           Reply r = c.plain("GET", dataUrl, "", {range});
           return r.status == 206 && r.body.size() == static_cast<size_t>(kChunk);
         }));
  return 0;
}
