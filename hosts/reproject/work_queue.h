// A bounded queue between two threads of the conversion pipeline. Closing
// it lets the consumer drain what is left; cancelling drops everything and
// wakes both sides.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

namespace reproject {

template <typename T>
class WorkQueue {
 public:
  explicit WorkQueue(std::size_t capacity) : capacity_(capacity) {}

  // Waits for room; false if the queue was closed or cancelled.
  bool Push(T item) {
    std::unique_lock<std::mutex> lock(mutex_);
    not_full_.wait(lock, [&] { return items_.size() < capacity_ || closed_; });
    if (closed_) return false;
    items_.push_back(std::move(item));
    not_empty_.notify_one();
    return true;
  }

  // Waits for an item; false once the queue is closed and empty, or
  // cancelled.
  bool Pop(T* item) {
    std::unique_lock<std::mutex> lock(mutex_);
    not_empty_.wait(lock, [&] { return !items_.empty() || closed_; });
    if (items_.empty() || cancelled_) return false;
    *item = std::move(items_.front());
    items_.pop_front();
    not_full_.notify_one();
    return true;
  }

  // Takes an item if one is there, without waiting.
  bool TryPop(T* item) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (items_.empty() || cancelled_) return false;
    *item = std::move(items_.front());
    items_.pop_front();
    not_full_.notify_one();
    return true;
  }

  // No more items will come; Pop drains the rest.
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    not_empty_.notify_all();
    not_full_.notify_all();
  }

  void Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    cancelled_ = true;
    items_.clear();
    not_empty_.notify_all();
    not_full_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable not_empty_;
  std::condition_variable not_full_;
  std::deque<T> items_;
  std::size_t capacity_;
  bool closed_ = false;
  bool cancelled_ = false;
};

}  // namespace reproject
