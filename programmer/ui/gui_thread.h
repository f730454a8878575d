// SPDX-License-Identifier: MIT
// Carrying calls from worker threads to the GUI thread.
//
// PostToGui runs `f` at once when called on the thread of `context`, else queues it there and
// returns without waiting. Calls queued by one thread run in the order queued.
// CallOnGui runs `f` on the thread of `context` and blocks the calling thread until it has run,
// returning its result; on the GUI thread itself it runs directly (no deadlock). If `context` is
// destroyed before the call runs, the caller is released and gets a value-initialised result.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <type_traits>
#include <utility>

namespace zolt::ui {

inline bool OnThreadOf(const QObject* context) {
  return QThread::currentThread() == context->thread();
}

template <class F>
void PostToGui(QObject* context, F&& f) {
  if (OnThreadOf(context)) {
    f();
    return;
  }
  QMetaObject::invokeMethod(context, std::forward<F>(f), Qt::QueuedConnection);
}

template <class F>
auto CallOnGui(QObject* context, F&& f) -> std::invoke_result_t<F&> {
  using R = std::invoke_result_t<F&>;
  if (OnThreadOf(context)) return f();
  if constexpr (std::is_void_v<R>) {
    QMetaObject::invokeMethod(
        context, [&f] { f(); }, Qt::BlockingQueuedConnection);
  } else {
    R result{};
    QMetaObject::invokeMethod(
        context, [&f, &result] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
  }
}

}  // namespace zolt::ui
