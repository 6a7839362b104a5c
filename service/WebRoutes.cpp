// What is not an API: the web pages the application opens in a browser
// (home, help, account, feedback, start, registration, password reset and
// share links), the log upload at the root of the log base, and the update
// manifest with its installer. Served on both listeners.
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <memory>

#include "Base64.h"
#include "ChunkSpan.h"
#include "HttpUtil.h"
#include "Log.h"
#include "Routes.h"
#include "UpdateSigning.h"
#include "UrlCodec.h"

namespace varnelo::service {
namespace {
using httplib::Request;
using httplib::Response;

constexpr size_t kMaxLogUpload = 1 << 20;
constexpr size_t kLinkIdLength = 32;
constexpr size_t kBlock = 256 * 1024;

struct Page {
  const char* path;
  const char* title;
  const char* body;
};

const Page kPages[] = {
    {"/", "Varnelo",
     "<p>This is a local Varnelo service. Install the Varnelo client, sign in with an account "
     "created by <code>varnelo-service add-user</code>, and choose a folder to keep in sync.</p>\n"
     "<ul><li><a href=\"/start\">Getting started</a></li><li><a href=\"/help\">Help</a></li>"
     "<li><a href=\"/account\">Your account</a></li><li><a "
     "href=\"/feedback\">Feedback</a></li></ul>"},
    {"/help", "Varnelo help",
     "<p>Files in your sync folder are uploaded to this service and downloaded to your other "
     "computers. Files changed on two computers at once are both kept; one gets a "
     "\"Conflicted copy\" name.</p>"},
    {"/account", "Your Varnelo account",
     "<p>Accounts of this local service are managed by its operator with "
     "<code>varnelo-service add-user</code>; quotas are set the same way.</p>"},
    {"/feedback", "Feedback",
     "<p>This local service keeps no feedback form. Please report problems to the people who run "
     "it.</p>"},
    {"/start", "Getting started",
     "<ol><li>Sign in from the Varnelo client.</li><li>Choose the folder to keep in sync.</li>"
     "<li>Put files in it; they appear on every computer signed in to the same account.</li></ol>"},
    {"/login/register_kuv", "Register",
     "<p>This local service does not take registrations on the web. Ask its operator to create "
     "an account with <code>varnelo-service add-user</code>.</p>"},
    {"/forget_password", "Forgotten password",
     "<p>This local service cannot send e-mail. Ask its operator to set a new password with "
     "<code>varnelo-service add-user</code>.</p>"},
};

// Link ids are 32 hex digits; the client glues "from=pc" straight after the
// id, so only the first 32 characters count.
// Streams a stored file in blocks.
void streamFile(ServiceContext& ctx, Response& res, std::shared_ptr<ChunkSpan> span,
                uint64_t size) {
  if (size == 0) {
    http::sendText(ctx, res, 200, "", "application/octet-stream");
    return;
  }
  res.set_content_provider(static_cast<size_t>(size), "application/octet-stream",
                           [span](size_t offset, size_t length, httplib::DataSink& sink) {
                             std::string block(std::min<size_t>(length, kBlock), '\0');
                             return span->read(offset, block.data(), block.size()) &&
                                    sink.write(block.data(), block.size());
                           });
}

std::string linkId(const Request& req) {
  return http::queryParam(req, "id").substr(0, kLinkIdLength);
}

}  // namespace

void installWebRoutes(httplib::Server& server, ServiceContext& ctx, bool secure) {
  for (const Page& page : kPages) {
    server.Get(page.path, [&ctx, page](const Request&, Response& res) {
      http::sendHtml(ctx, res, 200, page.title, page.body);
    });
  }

  server.Post("/", [&ctx](const Request& req, Response& res) {
    if (req.body.size() > kMaxLogUpload) {
      http::sendError(ctx, res, 413, "log text too long");
      return;
    }
    if (!ctx.accounts.storeLog(req.remote_addr, req.body)) {
      http::sendError(ctx, res, 500, "cannot store the log text");
      return;
    }
    Json::Value v;
    v["code"] = 0;
    http::sendJson(ctx, res, 200, v);
  });

  server.Get("/link", [&ctx](const Request& req, Response& res) {
    int64_t account = 0;
    Entry entry;
    std::string id = linkId(req);
    if (ctx.tree.resolveLink(id, &account, &entry) != kOk) {
      http::sendHtml(
          ctx, res, 404, "Link not found",
          "<p>This link does not exist, or what it pointed to was moved or deleted.</p>");
      return;
    }
    std::string body = "<p>" + htmlEscape(entry.name) + "</p>\n";
    if (entry.type == kTypeFile) {
      body += "<p>" + std::to_string(entry.size) +
              " bytes</p>\n<p><a href=\"/link/download?id=" + id + "\" download=\"" +
              htmlEscape(entry.name) + "\">Download</a></p>";
    } else {
      body += "<p>A shared folder.</p>";
    }
    http::sendHtml(ctx, res, 200, "Shared with Varnelo", body);
  });

  server.Get("/link/download", [&ctx](const Request& req, Response& res) {
    int64_t account = 0;
    Entry entry;
    if (ctx.tree.resolveLink(linkId(req), &account, &entry) != kOk || entry.type != kTypeFile) {
      http::sendError(ctx, res, 404, "no such shared file");
      return;
    }
    res.set_header("Content-Disposition", "attachment");
    streamFile(ctx, res, std::make_shared<ChunkSpan>(ctx.chunks, entry.keys, entry.chunkSize),
               static_cast<uint64_t>(entry.size));
  });

  server.Get("/update/varnelo-win/version.dat", [&ctx, secure](const Request&, Response& res) {
    Updates::Current update;
    if (!ctx.updates.current(&update)) {
      http::sendError(ctx, res, 404, "no update published");
      return;
    }
    // The URL comes from the service's own configuration: a Host header is
    // the client's to choose, and a signature over it would vouch for
    // whatever address the request named.
    const std::string& base = secure ? ctx.updateBaseHttps : ctx.updateBaseHttp;
    std::string url = base + "/update/varnelo-win/" + update.fileName;
    Json::Value manifest;
    Json::Value& x86 = manifest["x86"];
    x86["version"] = update.version;
    x86["url"] = url;
    if (!update.sha256.empty()) {
      // Signed per manifest served, because each one carries its own expiry.
      int64_t expires = static_cast<int64_t>(time(nullptr)) + ctx.updateValiditySeconds;
      x86["sha256"] = update.sha256;
      x86["signature"] =
          base64Encode(ctx.signing.sign(updateMessage(update.version, url, update.sha256)), false);
      x86["expires"] = Json::Int64(expires);
      x86["sequence"] = Json::Int64(update.sequence);
      x86["signature2"] =
          base64Encode(ctx.signing.sign(updateMessage2(update.version, url, update.sha256, expires,
                                                       update.sequence)),
                       false);
    }
    http::sendJson(ctx, res, 200, manifest);
  });

  server.Get(R"(/update/varnelo-win/([^/]+))", [&ctx](const Request& req, Response& res) {
    std::string path = ctx.updates.installerPath(req.matches[1]);
    auto in = std::make_shared<std::ifstream>(path, std::ios::binary);
    struct stat st {};
    if (path.empty() || !*in || stat(path.c_str(), &st) != 0) {
      http::sendError(ctx, res, 404, "no such installer");
      return;
    }
    res.set_content_provider(static_cast<size_t>(st.st_size), "application/octet-stream",
                             [in](size_t offset, size_t length, httplib::DataSink& sink) {
                               std::string block(std::min<size_t>(length, kBlock), '\0');
                               in->clear();
                               in->seekg(static_cast<std::streamoff>(offset));
                               in->read(block.data(), static_cast<std::streamsize>(block.size()));
                               return in->gcount() == static_cast<std::streamsize>(block.size()) &&
                                      sink.write(block.data(), block.size());
                             });
  });
}

}  // namespace varnelo::service
