#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "common/clLink.h"

namespace {

struct TTarget : TclLinkTarget {};

}  // namespace

TEST(Link, HoldersLoseTheirLinkWhenTheTargetGoes) {
  auto target = std::make_unique<TTarget>();
  TTarget other;
  TclLink<TTarget> first, second, third;
  EXPECT_TRUE(first.Set(target.get()));
  EXPECT_FALSE(first.Set(target.get()));
  second.Set(target.get());
  third.Set(target.get());
  {
    // A holder that goes first leaves the chain intact for the others.
    TclLink<TTarget> gone;
    gone.Set(target.get());
  }
  second.Set(&other);  // moves to another target
  third.Set(nullptr);
  third.Set(target.get());
  EXPECT_EQ(first.Get(), target.get());

  target.reset();
  EXPECT_EQ(first.Get(), nullptr);
  EXPECT_EQ(third.Get(), nullptr);
  EXPECT_EQ(second.Get(), &other);
  EXPECT_TRUE(first.Set(&other));  // and can link again
}

TEST(Link, LinksComeAndGoOnSeveralThreadsAtOnce) {
  auto shared = std::make_unique<TTarget>();
  std::vector<std::unique_ptr<TclLink<TTarget>>> kept(4);
  std::vector<std::thread> threads;
  for (auto& keep : kept) {
    threads.emplace_back([&keep, target = shared.get()] {
      for (int i = 0; i < 2000; ++i) {
        TclLink<TTarget> link;
        link.Set(target);
        {
          TTarget own;
          link.Set(&own);
        }
        EXPECT_EQ(link.Get(), nullptr);
        link.Set(target);
      }
      keep = std::make_unique<TclLink<TTarget>>();
      keep->Set(target);
    });
  }
  for (auto& thread : threads) thread.join();
  shared.reset();
  for (auto& keep : kept) EXPECT_EQ(keep->Get(), nullptr);
}
