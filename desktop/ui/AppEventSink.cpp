#include "AppEventSink.h"

#include <QString>

#include <filesystem>

#include "EngineNotice.h"
#include "Format.h"
#include "Strings.h"
#include "TextFormat.h"
#include "TrayIds.h"

namespace varnelo::desktop {

namespace {

bool isRegularFile(const char* path) {
  if (!path || !*path) return false;
  std::error_code ec;
  // Links are never synchronised; do not follow one to count it.
  return std::filesystem::symlink_status(std::filesystem::u8path(path), ec).type() ==
         std::filesystem::file_type::regular;
}

QString shortNameOf(const char* path) {
  return shortFileName(QString::fromUtf8(path ? path : ""));
}

}  // namespace

AppEventSink::AppEventSink(TrayModel& model, Hooks hooks)
    : model_(model), hooks_(std::move(hooks)) {}

void AppEventSink::downloaded(const char* path) {
  if (isRegularFile(path))
    model_.countDownloaded();
  else
    model_.forgetQuota();
}

void AppEventSink::uploaded(const char* path) {
  if (!isRegularFile(path)) return;
  model_.countUploaded();
  model_.forgetQuota();
}

void AppEventSink::statusChanged(int32_t state) {
  const bool wasTransferring = (lastEngineState_ & 3) != 0;
  const bool isTransferring = (state & 3) != 0;
  if (!wasTransferring && isTransferring) model_.clearErrors();
  lastEngineState_ = state;
  if (hooks_.appState && hooks_.setAppState && hooks_.appState() != state)
    hooks_.setAppState(state);
}

void AppEventSink::fileStateChanged(const char* path, int32_t state) {
  if (path && hooks_.enqueueFileState) hooks_.enqueueFileState(path, state);
}

void AppEventSink::result(int32_t code, const char* path) {
  const std::string where = path ? path : "";
  auto balloon = [&](const BalloonRequest& request) {
    if (hooks_.postBalloon) hooks_.postBalloon(request);
  };
  switch (code) {
    case -118:
      if (hooks_.setAppState) hooks_.setAppState(kAppClientTooOld);
      balloon(BalloonRequest::make(kBalloonError, str(214), str(215), 500));
      return;
    case -113:
      balloon(BalloonRequest::oncePerPath(
          kBalloonInfo, str(158), formatText(str(159), {shortNameOf(path)}), 500, code, where));
      return;
    case 5:
    case 6:
    case 7:
    case 28:
      if (hooks_.appState && hooks_.setAppState && hooks_.appState() != kAppConnecting)
        hooks_.setAppState(kAppConnecting);
      return;
    case 200:
      if (hooks_.appState && hooks_.setAppState) {
        const int current = hooks_.appState();
        if (current == kAppLoginNeeded || current == kAppConnecting) hooks_.setAppState(kAppIdle);
      }
      if (hooks_.postNotice) hooks_.postNotice(code, where);
      return;
    case 401:
      if (hooks_.postUnlinkDevice) hooks_.postUnlinkDevice();
      return;
    case 402:
      model_.addError(402);
      balloon(BalloonRequest::oncePerPath(
          kBalloonError, str(143), formatText(str(142), {shortNameOf(path)}), 500, code, where));
      return;
    default:
      if (isEngineNoticeCode(code) && hooks_.postNotice) hooks_.postNotice(code, where);
      return;
  }
}

}  // namespace varnelo::desktop
