// Status codes that the service's units return to the request handlers; they
// are the HTTP statuses sent to clients, so a unit's answer goes out as is.
#pragma once

namespace varnelo::service {

using Status = int;

constexpr Status kOk = 200;
constexpr Status kPartial = 298;  // some paths of a batch succeeded
constexpr Status kBadRequest = 400;
constexpr Status kUnauthorized = 401;
constexpr Status kQuotaExceeded = 402;
constexpr Status kForbidden = 403;
constexpr Status kNotFound = 404;
constexpr Status kConflict = 409;
constexpr Status kServerError = 500;

}  // namespace varnelo::service
