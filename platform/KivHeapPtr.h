// CHeapPtr<T>: a block of the C run-time heap that frees itself with free().
//
// The access component hands blob values to the library in such a block; the
// library copies the bytes and lets the block go.  Move-only, so a block has
// exactly one owner.
#ifndef KIV_PLATFORM_HEAPPTR_H_
#define KIV_PLATFORM_HEAPPTR_H_

#include <cstddef>
#include <cstdlib>

template <typename T>
class CHeapPtr {
 public:
  CHeapPtr() noexcept = default;
  explicit CHeapPtr(T* p) noexcept : m_pData(p) {}
  CHeapPtr(CHeapPtr&& other) noexcept : m_pData(other.Detach()) {}
  CHeapPtr& operator=(CHeapPtr&& other) noexcept {
    if (this != &other) Attach(other.Detach());
    return *this;
  }
  CHeapPtr(const CHeapPtr&) = delete;
  CHeapPtr& operator=(const CHeapPtr&) = delete;
  ~CHeapPtr() { Free(); }

  // Allocates room for `elements` objects of T; false when the heap refuses.
  bool Allocate(size_t elements = 1) noexcept {
    Free();
    m_pData = static_cast<T*>(std::malloc(elements ? elements * sizeof(T) : 1));
    return m_pData != nullptr;
  }
  void Free() noexcept {
    std::free(m_pData);
    m_pData = nullptr;
  }
  void Attach(T* p) noexcept {
    Free();
    m_pData = p;
  }
  T* Detach() noexcept {
    T* p = m_pData;
    m_pData = nullptr;
    return p;
  }
  operator T*() const noexcept { return m_pData; }  // NOLINT: ATL's interface
  T* operator->() const noexcept { return m_pData; }

  T* m_pData = nullptr;
};

#endif  // KIV_PLATFORM_HEAPPTR_H_
