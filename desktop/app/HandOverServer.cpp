#include "HandOverServer.h"

#include <QMetaObject>
#include <QtGlobal>
#include <memory>

#include "HandOver.h"

namespace varnelo::desktop {

bool HandOverServer::start(const std::string& pipeName) {
  pipeName_ = pipeName;
  server_.setLog([](std::string_view line) {
    qWarning("hand-over pipe: %.*s", static_cast<int>(line.size()), line.data());
  });
  platform::PipeOptions options;
  options.maxMessage = 2048;
  options.requireUtf8 = true;
  if (std::error_code ec = server_.listen(pipeName, options)) {
    qWarning("hand-over pipe: cannot be created (%s)", ec.message().c_str());
    return false;
  }
  if (std::error_code ec = server_.start(
          [this](std::string_view message, std::string&) { return handle(message); })) {
    qWarning("hand-over pipe: no thread (%s)", ec.message().c_str());
    return false;
  }
  return true;
}

void HandOverServer::setTarget(QObject* context, Handler handler) {
  {
    std::lock_guard lock(targetMutex_);
    context_ = context;
    handler_ = std::move(handler);
  }
  targetChanged_.notify_all();
}

void HandOverServer::clearTarget() {
  {
    std::lock_guard lock(targetMutex_);
    context_ = nullptr;
    handler_ = nullptr;
    cleared_ = true;
  }
  targetChanged_.notify_all();
}

bool HandOverServer::handle(std::string_view received) {
  // Nothing at all is no message; a lone terminator is the empty line.
  if (received.empty()) return true;
  const std::string_view message = handOverText(received);
  if (message == kClosePipe) return false;
  if (!acceptableHandOver(message)) {
    qWarning("hand-over pipe: a line of %zu bytes is dropped (over 1,023 characters or not text)",
             message.size());
    return true;
  }
  auto done = std::make_shared<platform::Event>(platform::Event::Reset::Manual);
  {
    std::unique_lock lock(targetMutex_);
    targetChanged_.wait(lock, [this] { return stopping_ || cleared_ || (context_ && handler_); });
    if (stopping_ || !context_ || !handler_) return true;
    Handler handler = handler_;
    const QString line = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
    // Queued to the target's thread; dropped by Qt if the target goes first.
    QMetaObject::invokeMethod(
        context_.data(),
        [handler, line, done] {
          handler(line);
          done->set();
        },
        Qt::QueuedConnection);
    pending_ = done;
  }
  // The sender waits while the line is handled, as a sent message would.
  done->wait();
  std::lock_guard lock(targetMutex_);
  pending_.reset();
  return true;
}

void HandOverServer::stop() {
  {
    std::lock_guard lock(targetMutex_);
    stopping_ = true;
    if (pending_) pending_->set();
  }
  targetChanged_.notify_all();
  // The pipe's own way to end: a later instance could send the same. The
  // platform's stop() then wakes the server if the line did not get through
  // and joins its thread; a line in hand finishes first (it stops waiting
  // for the UI thread now).
  if (server_.listening()) platform::pipeSend(pipeName_, kClosePipe, 500);
  server_.stop();
}

}  // namespace varnelo::desktop
