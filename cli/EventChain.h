#pragma once
// Watching a component's event beside the handler it already has: aBefore runs before that handler
// (while what the event names is sure to exist: a completion handler may free its item) and aAfter
// after it, with the same arguments; either may be empty. Unhooking puts the original handler back.
#include <functional>
#include <memory>
#include <utility>

template <typename... TArgs>
class TEventChain {
public:
  using TEvent = std::function<void(TArgs...)>;
  TEventChain(TEvent& aEvent, TEvent aBefore, TEvent aAfter) : FEvent(aEvent), FOriginal(aEvent) {
    FEvent = [original = FOriginal, before = std::move(aBefore), after = std::move(aAfter)](TArgs... aArgs) {
      if (before) before(aArgs...);
      if (original) original(aArgs...);
      if (after) after(aArgs...);
    };
  }
  ~TEventChain() { FEvent = FOriginal; }
  TEventChain(const TEventChain&) = delete;
  TEventChain& operator=(const TEventChain&) = delete;

private:
  TEvent& FEvent;
  TEvent FOriginal;
};

// The chain for an event member, its argument types taken from the member.
template <typename... TArgs>
auto MakeEventChain(std::function<void(TArgs...)>& aEvent, std::function<void(TArgs...)> aBefore,
                    std::function<void(TArgs...)> aAfter) {
  return std::make_unique<TEventChain<TArgs...>>(aEvent, std::move(aBefore), std::move(aAfter));
}
