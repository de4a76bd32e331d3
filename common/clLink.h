#pragma once
// Links to objects that a holder uses without owning them (a request object, a cookie store given
// to a client). Such an object derives from TclLinkTarget and the holder keeps it in a TclLink;
// when the object is destroyed it clears every link to it, so its holders see none and fall back
// to what they do without one. Links are made and dropped on any thread; reading one takes no
// lock. Clearing only protects later use: an object must not be destroyed while a holder on
// another thread is using it.
#include <atomic>

class TclLinkBase;

class TclLinkTarget {
public:
  TclLinkTarget() = default;
  TclLinkTarget(const TclLinkTarget&) = delete;
  TclLinkTarget& operator=(const TclLinkTarget&) = delete;

protected:
  ~TclLinkTarget();

private:
  friend class TclLinkBase;
  TclLinkBase* FFirstLink = nullptr;  // the links to this object, chained through the links
};

class TclLinkBase {
public:
  TclLinkBase(const TclLinkBase&) = delete;
  TclLinkBase& operator=(const TclLinkBase&) = delete;

protected:
  TclLinkBase() = default;
  ~TclLinkBase() { Link(nullptr); }
  TclLinkTarget* Target() const { return FTarget.load(std::memory_order_acquire); }
  // Links to aTarget (none: unlinks); false when it was linked already.
  bool Link(TclLinkTarget* aTarget);

private:
  friend class TclLinkTarget;
  void Attach(TclLinkTarget* aTarget);
  void Detach();

  std::atomic<TclLinkTarget*> FTarget{nullptr};
  TclLinkBase* FPrev = nullptr;
  TclLinkBase* FNext = nullptr;
};

// A holder's link to a T (which derives from TclLinkTarget).
template <class T>
class TclLink : private TclLinkBase {
public:
  TclLink() = default;
  T* Get() const { return static_cast<T*>(Target()); }
  bool Set(T* aValue) { return Link(aValue); }
};
