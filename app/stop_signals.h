// SIGTERM, SIGINT and SIGHUP as requests to stop, delivered on the window's
// thread: a session that ends, a service manager or an operator at a
// terminal stops the relay the way closing its window does, and the stop is
// recorded instead of the process vanishing mid-Action.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QSocketNotifier;

namespace quillport {

class StopSignals : public QObject {
 public:
  // Catches the three signals from now on; `stop` runs on the thread that
  // made this object, once per signal, with why ("SIGTERM", "SIGHUP (the
  // end of the session)", ...). Only one StopSignals may live at a time;
  // while none lives the signals have their default effect.
  explicit StopSignals(std::function<void(const QString& why)> stop, QObject* parent = nullptr);
  ~StopSignals() override;
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  void Arrived();

  std::function<void(const QString&)> stop_;
  int pipe_[2] = {-1, -1};  // the handler writes the signal's number, the notifier reads it
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace quillport
