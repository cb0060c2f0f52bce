// The prepared statements a connection keeps for reuse, keyed by their
// text, at most a fixed number: when full, the least recently used one
// goes.  Both drivers keep one; what a kept statement is (an engine's
// statement object, a server's statement name) and how one is let go are
// the driver's.
#ifndef KIV_OLEDB_STATEMENTPOOL_H_
#define KIV_OLEDB_STATEMENTPOOL_H_

#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>
#include <utility>

namespace kivoledb {

template <typename Handle>
class StatementPool {
 public:
  explicit StatementPool(size_t capacity) : m_capacity(capacity) {}
  StatementPool(const StatementPool&) = delete;
  StatementPool& operator=(const StatementPool&) = delete;

  // How many statements are kept at most; 0 keeps none.
  size_t Capacity() const { return m_capacity; }

  // The statement kept for `text`, made the most recently used; null when
  // none is.  The pointer holds until the pool changes.
  const Handle* Find(const std::string& text) {
    auto it = m_index.find(text);
    if (it == m_index.end()) return nullptr;
    m_lru.splice(m_lru.begin(), m_lru, it->second);
    return &it->second->second;
  }

  // The statement kept for `text`, its place left as it is; null when none.
  const Handle* Peek(const std::string& text) const {
    auto it = m_index.find(text);
    return it == m_index.end() ? nullptr : &it->second->second;
  }

  // Takes the statement kept for `text` out of the pool, for a user that
  // must have it alone (it comes back with Put); false when none is kept.
  bool Take(const std::string& text, Handle& out) {
    auto it = m_index.find(text);
    if (it == m_index.end()) return false;
    out = std::move(it->second->second);
    m_lru.erase(it->second);
    m_index.erase(it);
    return true;
  }

  // Keeps `handle` for `text` as the most recently used, first letting the
  // least recently used one go through `release` when the pool is full.
  // When `text` is kept already, or the pool keeps nothing, `handle`
  // itself goes to `release`.
  template <typename Release>
  void Put(std::string text, Handle handle, Release&& release) {
    if (m_capacity == 0 || m_index.count(text)) {
      release(handle);
      return;
    }
    if (m_lru.size() >= m_capacity) {
      release(m_lru.back().second);
      m_index.erase(m_lru.back().first);
      m_lru.pop_back();
    }
    m_lru.emplace_front(std::move(text), std::move(handle));
    m_index.emplace(m_lru.front().first, m_lru.begin());
  }

  // Lets every kept statement go through `release`.
  template <typename Release>
  void Clear(Release&& release) {
    for (auto& entry : m_lru) release(entry.second);
    m_index.clear();
    m_lru.clear();
  }

 private:
  using Entry = std::pair<std::string, Handle>;
  size_t m_capacity;
  std::list<Entry> m_lru;  // most recent first
  std::unordered_map<std::string, typename std::list<Entry>::iterator> m_index;
};

}  // namespace kivoledb

#endif  // KIV_OLEDB_STATEMENTPOOL_H_
