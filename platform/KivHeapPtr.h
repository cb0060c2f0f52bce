/// @file KivHeapPtr.h
/// CHeapPtr<T>: a block of the C run-time heap that frees itself with free().
///
/// The access component hands blob values to the library in such a block; the
/// library copies the bytes and lets the block go.  Move-only, so a block has
/// exactly one owner.
#ifndef KIV_PLATFORM_HEAPPTR_H_
#define KIV_PLATFORM_HEAPPTR_H_

#include <cstddef>
#include <cstdlib>

/// Owns a malloc()ed block of T (or nothing) and free()s it when it goes.
template <typename T>
class CHeapPtr {
 public:
  /// Owns nothing.
  CHeapPtr() noexcept = default;
  /// Takes `p`, which must come from malloc() (or be null).
  explicit CHeapPtr(T* p) noexcept : m_pData(p) {}
  /// Takes `other`'s block; `other` owns nothing afterwards.
  CHeapPtr(CHeapPtr&& other) noexcept : m_pData(other.Detach()) {}
  /// Frees the block held and takes `other`'s.
  CHeapPtr& operator=(CHeapPtr&& other) noexcept {
    if (this != &other) Attach(other.Detach());
    return *this;
  }
  CHeapPtr(const CHeapPtr&) = delete;
  CHeapPtr& operator=(const CHeapPtr&) = delete;
  ~CHeapPtr() { Free(); }

  /// Frees the block held, then allocates room for `elements` objects of T
  /// (uninitialised; one byte when `elements` is 0).  False, owning
  /// nothing, when the heap refuses.
  bool Allocate(size_t elements = 1) noexcept {
    Free();
    m_pData = static_cast<T*>(std::malloc(elements ? elements * sizeof(T) : 1));
    return m_pData != nullptr;
  }
  /// Frees the block held (if any); owns nothing afterwards.
  void Free() noexcept {
    std::free(m_pData);
    m_pData = nullptr;
  }
  /// Frees the block held and takes `p` (from malloc(), or null).
  void Attach(T* p) noexcept {
    Free();
    m_pData = p;
  }
  /// Gives the block up without freeing it: the caller must free() it.
  /// Returns nullptr when nothing is held.
  T* Detach() noexcept {
    T* p = m_pData;
    m_pData = nullptr;
    return p;
  }
  /// The block, or nullptr; the object still owns it.
  operator T*() const noexcept { return m_pData; }  // NOLINT: ATL's interface
  /// The block, which must not be null.
  T* operator->() const noexcept { return m_pData; }

  /// The block held, or nullptr.
  T* m_pData = nullptr;
};

#endif  // KIV_PLATFORM_HEAPPTR_H_
