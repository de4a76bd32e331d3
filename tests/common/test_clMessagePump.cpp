#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/clErrors.h"
#include "common/clMessagePump.h"

namespace {

bool Readable(const TclMessagePump& aPump, int aTimeOutMs = 0) {
  pollfd fd{aPump.Handle(), POLLIN, 0};
  return ::poll(&fd, 1, aTimeOutMs) == 1;
}

// Serves the pump as a UI thread does (a poll loop on its handle) until aDone holds.
void PumpUntil(TclMessagePump& aPump, const std::function<bool()>& aDone) {
  while (!aDone())
    if (Readable(aPump, 10)) aPump.ProcessMessages();
}

// Runs aSend on a sender thread while this thread pumps; the code of the EclError it raised, or 0.
int32_t ErrorCodeRaisedBy(const std::function<void()>& aSend) {
  std::promise<int32_t> caught;
  std::thread sender([&] {
    try {
      aSend();
      caught.set_value(0);
    } catch (const EclError& e) {
      caught.set_value(e.ErrorCode());
    }
  });
  auto result = caught.get_future();
  PumpUntil(TclMessagePump::Current(),
            [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
  sender.join();
  return result.get();
}

// Blocks until a message is queued on aPump, without running it.
void WaitUntilQueued(const TclMessagePump& aPump) {
  while (!Readable(aPump, 1000)) {
  }
}

}  // namespace

TEST(MessagePump, PostedMessagesRunOnTheOwnerThread) {
  auto pump = TclMessagePump::CurrentShared();
  std::thread::id ranOn;
  std::thread poster([&] { pump->Post([&] { ranOn = std::this_thread::get_id(); }); });
  poster.join();
  EXPECT_EQ(pump->ProcessMessages(), 1u);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(MessagePump, SendWaitsUntilTheOwnerHandledIt) {
  auto pump = TclMessagePump::CurrentShared();
  std::atomic<bool> sent{false};
  int value = 0;
  std::thread sender([&] {
    EXPECT_TRUE(pump->Send([&] { value = 42; }));
    sent = true;
  });
  while (!sent) pump->ProcessPendingEvents();
  sender.join();
  EXPECT_EQ(value, 42);
}

TEST(MessagePump, SendToAnEndedThreadReturnsFalse) {
  std::shared_ptr<TclMessagePump> other;
  std::thread([&] { other = TclMessagePump::CurrentShared(); }).join();
  EXPECT_FALSE(other->Send([] {}));
  EXPECT_FALSE(other->Post([] {}));
}

TEST(MessagePump, HandleIsReadableWhileMessagesWait) {
  auto& pump = TclMessagePump::Current();
  pump.ProcessMessages();
  EXPECT_FALSE(Readable(pump));
  pump.Post([] {});
  pump.Post([] {});
  EXPECT_TRUE(Readable(pump));
  EXPECT_EQ(pump.ProcessMessages(), 2u);
  EXPECT_FALSE(Readable(pump));

  // A message posted by a handler waits for the next pass, and the handle says so.
  pump.Post([&] { pump.Post([] {}); });
  EXPECT_EQ(pump.ProcessMessages(), 1u);
  EXPECT_TRUE(Readable(pump));
  EXPECT_EQ(pump.ProcessMessages(), 1u);
  EXPECT_FALSE(Readable(pump));
}

TEST(MessagePump, SendRaisesTheHandlersExceptionInTheSender) {
  auto& pump = TclMessagePump::Current();
  EXPECT_EQ(ErrorCodeRaisedBy([&] { pump.Send([] { throw EclError("handler failed", 7); }); }), 7);
}

TEST(MessagePump, PostedExceptionGoesToTheExceptionHandlerAndTheQueueGoesOn) {
  auto& pump = TclMessagePump::Current();
  std::vector<std::string> reported;
  pump.SetExceptionHandler([&](std::exception_ptr aError) {
    try {
      std::rethrow_exception(aError);
    } catch (const std::exception& e) {
      reported.push_back(e.what());
    }
  });
  bool laterRan = false;
  pump.Post([] { throw EclError("posted failed", 1); });
  pump.Post([&] { laterRan = true; });
  EXPECT_EQ(pump.ProcessMessages(), 2u);
  EXPECT_TRUE(laterRan);
  EXPECT_EQ(reported, std::vector<std::string>{"posted failed"});
  EXPECT_FALSE(Readable(pump));

  // Without a handler the text goes to standard error.
  pump.SetExceptionHandler(nullptr);
  pump.Post([] { throw std::runtime_error("nobody listens"); });
  testing::internal::CaptureStderr();
  EXPECT_EQ(pump.ProcessMessages(), 1u);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("nobody listens"), std::string::npos);
}

TEST(MessagePump, ConcurrentSendersEachGetTheirOwnResultAndException) {
  auto& pump = TclMessagePump::Current();
  constexpr int cSenders = 8;
  constexpr int cTrips = 300;
  std::vector<int> ran(cSenders), caught(cSenders);
  std::atomic<int> finished{0};
  std::vector<std::thread> senders;
  for (int i = 0; i < cSenders; ++i)
    senders.emplace_back([&, i] {
      for (int trip = 0; trip < cTrips; ++trip) {
        const int before = ran[i];
        try {
          EXPECT_TRUE(pump.Send([&, i, trip] {
            ++ran[i];
            if (trip % 5 == 0) throw EclError("failed", trip);
          }));
        } catch (const EclError& e) {
          EXPECT_EQ(e.ErrorCode(), trip);
          ++caught[i];
        }
        EXPECT_EQ(ran[i], before + 1);  // returned only after its own handler ran
      }
      ++finished;
    });
  PumpUntil(pump, [&] { return finished == cSenders; });
  for (auto& sender : senders) sender.join();
  for (int i = 0; i < cSenders; ++i) {
    EXPECT_EQ(ran[i], cTrips);
    EXPECT_EQ(caught[i], cTrips / 5);
  }
}

TEST(MessagePump, AWaitingSenderIsReleasedUnhandledWhenTheOwnerEnds) {
  std::promise<std::shared_ptr<TclMessagePump>> created;
  std::thread owner([&] {
    created.set_value(TclMessagePump::CurrentShared());
    WaitUntilQueued(TclMessagePump::Current());
  });  // ends without pumping
  auto pump = created.get_future().get();
  bool ran = false;
  EXPECT_FALSE(pump->Send([&] { ran = true; }));
  owner.join();
  EXPECT_FALSE(ran);
}

TEST(MessageTarget, AnObjectFreedInItsOwnHandlerGetsNoFurtherMessages) {
  struct TItem {
    TclMessageTarget Target;
  };
  auto& pump = TclMessagePump::Current();
  TclMessageTarget other;
  auto* item = new TItem;
  std::vector<std::string> ran;
  item->Target.Post([&] {
    ran.push_back("completion");
    delete item;
  });
  item->Target.Post([&] { ran.push_back("after free"); });
  other.Post([&] { ran.push_back("other object"); });
  pump.Post([&] { ran.push_back("no target"); });
  EXPECT_EQ(pump.ProcessMessages(), 3u);
  EXPECT_EQ(ran, (std::vector<std::string>{"completion", "other object", "no target"}));
}

TEST(MessageTarget, CancellingDropsQueuedMessagesAndRefusesNewOnes) {
  auto& pump = TclMessagePump::Current();
  TclMessageTarget target;
  bool ran = false;
  EXPECT_TRUE(target.Post([&] { ran = true; }));
  target.Cancel();
  EXPECT_TRUE(target.IsCancelled());
  EXPECT_FALSE(target.Post([&] { ran = true; }));
  EXPECT_FALSE(target.Send([&] { ran = true; }));  // on the owner thread too
  EXPECT_EQ(pump.ProcessMessages(), 0u);
  EXPECT_FALSE(ran);
}

TEST(MessageTarget, DestroyingItReleasesAPendingSendAtOnce) {
  auto& pump = TclMessagePump::Current();
  auto target = std::make_unique<TclMessageTarget>();
  TclMessageTarget* addressed = target.get();
  std::atomic<bool> ran{false};
  std::promise<bool> answered;
  std::thread sender([&] { answered.set_value(addressed->Send([&] { ran = true; })); });
  WaitUntilQueued(pump);
  target.reset();  // the owner is not pumping: the sender must not need it to
  EXPECT_FALSE(answered.get_future().get());
  sender.join();
  EXPECT_EQ(pump.ProcessMessages(), 0u);
  EXPECT_FALSE(ran);
}

TEST(MessageTarget, SendsThroughATargetRunAndRaiseOnItsPump) {
  TclMessageTarget target;
  EXPECT_EQ(ErrorCodeRaisedBy([&] {
              EXPECT_TRUE(target.Send([] {}));
              target.Send([] { throw EclError("target failed", 3); });
            }),
            3);
}
