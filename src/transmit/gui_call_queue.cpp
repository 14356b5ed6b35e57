#include "transmit/gui_call_queue.h"

#include <utility>

namespace kestrix::transmit {

GuiCallQueue::GuiCallQueue(std::function<void()> wake)
    : wake_(std::move(wake)), guiThread_(std::this_thread::get_id()) {}

void GuiCallQueue::Push(const std::shared_ptr<Item>& item) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (closed_) return;
    items_.push_back(item);
  }
  if (wake_) wake_();
}

bool GuiCallQueue::Call(const std::function<void()>& fn) {
  if (OnGuiThread()) {
    if (Closed()) return false;
    // Earlier posted work first, so the order the caller sees is kept.
    ServePending();
    fn();
    return true;
  }
  auto item = std::make_shared<Item>();
  item->fn = fn;
  item->waited = true;
  {
    std::unique_lock<std::mutex> lock(mu_);
    if (closed_) return false;
    items_.push_back(item);
  }
  if (wake_) wake_();
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [&] { return item->done || closed_; });
  return item->done;
}

void GuiCallQueue::Post(std::function<void()> fn) {
  auto item = std::make_shared<Item>();
  item->fn = std::move(fn);
  if (OnGuiThread()) {
    if (Closed()) return;
    ServePending();
    item->fn();
    return;
  }
  Push(item);
}

int GuiCallQueue::ServePending() {
  int ran = 0;
  for (;;) {
    std::shared_ptr<Item> item;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (closed_ || items_.empty()) return ran;
      item = std::move(items_.front());
      items_.pop_front();
    }
    item->fn();
    ++ran;
    if (item->waited) {
      {
        std::lock_guard<std::mutex> lock(mu_);
        item->done = true;
      }
      cv_.notify_all();
    }
  }
}

void GuiCallQueue::Close() {
  std::deque<std::shared_ptr<Item>> dropped;
  {
    std::lock_guard<std::mutex> lock(mu_);
    closed_ = true;
    dropped.swap(items_);
  }
  cv_.notify_all();
  // The dropped closures (and what they captured) go here, on the GUI thread.
}

bool GuiCallQueue::Closed() const {
  std::lock_guard<std::mutex> lock(mu_);
  return closed_;
}

}  // namespace kestrix::transmit
