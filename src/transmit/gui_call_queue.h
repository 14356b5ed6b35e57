// The hand-off from the send threads to the GUI thread: a worker queues a piece of window
// work and (for Call) waits until the GUI thread has run it, so the worker sees the
// window's effects in the order it asked for them. The GUI thread runs the queue when the
// `wake` callback it was given gets it there (the window posts an event; the tests pump).
//
// Deadlock guard: the GUI thread never waits for a worker that waits for it. Close (at
// shutdown, before the workers are joined) drops whatever is queued, releases every
// waiting worker with "not run", and refuses later calls.
//
// Threads: Call/Post from any thread (Call on the GUI thread itself runs at once);
// ServePending and Close on the GUI thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace kestrix::transmit {

class GuiCallQueue {
 public:
  // Constructed on the GUI thread. `wake` is called (from the worker) after a call was
  // queued; it must make the GUI thread run ServePending soon and must not block.
  explicit GuiCallQueue(std::function<void()> wake);

  bool OnGuiThread() const { return std::this_thread::get_id() == guiThread_; }
  // Runs `fn` on the GUI thread and returns once it ran; false when closed.
  bool Call(const std::function<void()>& fn);
  // Queues `fn` without waiting.
  void Post(std::function<void()> fn);
  // GUI thread: runs everything queued so far, in order. Returns how many ran.
  int ServePending();
  void Close();
  bool Closed() const;

 private:
  struct Item {
    std::function<void()> fn;
    bool done = false;
    bool waited = false;
  };
  void Push(const std::shared_ptr<Item>& item);

  std::function<void()> wake_;
  std::thread::id guiThread_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<Item>> items_;
  bool closed_ = false;
};

}  // namespace kestrix::transmit
