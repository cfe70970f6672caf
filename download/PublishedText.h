// A text written by one thread and read by others without a lock: every
// value is an immutable node published through one atomic pointer. Nodes are
// never freed (a reader may still hold the one it loaded); each keeps the
// previous value reachable, and writes are rare (once per run in the
// program, a few times in tests).
#pragma once
#include <atomic>
#include <string>

namespace corvane {

class PublishedText {
 public:
  explicit PublishedText(std::string initial) : current_(new Node{std::move(initial), nullptr}) {}
  PublishedText(const PublishedText&) = delete;
  PublishedText& operator=(const PublishedText&) = delete;

  std::string Get() const { return current_.load(std::memory_order_acquire)->text; }

  void Set(std::string text) {
    const Node* old = current_.load(std::memory_order_acquire);
    Node* node = new Node{std::move(text), old};
    while (!current_.compare_exchange_weak(old, node, std::memory_order_acq_rel, std::memory_order_acquire))
      node->previous = old;
  }

 private:
  struct Node {
    std::string text;
    const Node* previous;
  };
  std::atomic<const Node*> current_;
};

}  // namespace corvane
