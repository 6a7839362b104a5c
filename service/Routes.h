// Installation of the service's endpoints on one listener. Each function adds
// one family of routes; `secure` says whether the listener is the HTTPS one
// (account endpoints answer only there). Called once per listener before it
// starts; the handlers then run on the listener's request threads.
#pragma once

#include <httplib.h>

#include "ServiceContext.h"

namespace varnelo::service {

// Only while ctx.putBatch is set.
void installBatchRoutes(httplib::Server& server, ServiceContext& ctx, bool secure);
void installAccountRoutes(httplib::Server& server, ServiceContext& ctx, bool secure);
void installDeviceRoutes(httplib::Server& server, ServiceContext& ctx, bool secure);
void installFileRoutes(httplib::Server& server, ServiceContext& ctx, bool secure);
// Only while ctx.notify is set.
void installNotifyRoutes(httplib::Server& server, ServiceContext& ctx, bool secure);
void installTransferRoutes(httplib::Server& server, ServiceContext& ctx, bool secure);
void installWebRoutes(httplib::Server& server, ServiceContext& ctx, bool secure);
void installAdminRoutes(httplib::Server& server, ServiceContext& ctx, bool secure);

}  // namespace varnelo::service
