#include "net/clTcpClient.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "common/clMessagePump.h"
#include "net/clSocks.h"

// Ticks on a helper thread, delivered to the opening thread's message pump. The target is cleared
// on that thread when the timer stops, so a tick still queued does nothing.
struct TclTcpClient::TclKeepAliveTimer {
  struct TclTarget {
    TclTcpClient* Client = nullptr;
    std::atomic<bool> TickPending{false};
  };

  TclKeepAliveTimer(TclTcpClient* aClient, int32_t aInterval)
      : Target(std::make_shared<TclTarget>()), Pump(TclMessagePump::CurrentShared()) {
    Target->Client = aClient;
    Thread = std::thread([this, aInterval] { Run(aInterval); });
  }

  ~TclKeepAliveTimer() {
    Target->Client = nullptr;
    {
      std::lock_guard<std::mutex> guard(Accessor);
      Stopped = true;
    }
    Wake.notify_all();
    Thread.join();
  }

  void Run(int32_t aInterval) {
    std::unique_lock<std::mutex> lock(Accessor);
    while (!Wake.wait_for(lock, std::chrono::milliseconds(aInterval), [this] { return Stopped; })) {
      if (Target->TickPending.exchange(true)) continue;
      Pump->Post([target = Target] {
        target->TickPending = false;
        if (!target->Client) return;
        try {
          target->Client->KeepAliveTick();
        } catch (const EclError&) {
        }
      });
    }
  }

  std::shared_ptr<TclTarget> Target;
  std::shared_ptr<TclMessagePump> Pump;
  std::mutex Accessor;
  std::condition_variable Wake;
  bool Stopped = false;
  std::thread Thread;
};

TclTcpClient::TclTcpClient() : FConnection(std::make_unique<TclTcpClientConnection>()) {
  FConnection->SetTimeOut(60000);
}

TclTcpClient::~TclTcpClient() {
  try {
    Close();
  } catch (const EclError&) {
  }
  FreeObjects();
}

void TclTcpClient::Open() {
  if (Active()) return;
  try {
    InternalOpen();
    StartKeepAlive();
    DoOpen();
  } catch (...) {
    CleanUpAfterFailure();
    throw;
  }
}

void TclTcpClient::CleanUpAfterFailure() {
  FInProgress = true;
  StopKeepAlive();
  try {
    InternalClose(false);
  } catch (const EclSocketError&) {
  }
  FInProgress = false;
}

void TclTcpClient::Close() {
  StopKeepAlive();
  bool wasActive = Active();
  InternalClose(true);
  if (wasActive) DoClose();
}

void TclTcpClient::InternalOpen() {
  if (BatchSize() < 1) RaiseSocketError(clInvalidBatchSizeError);
  OpenConnection(Server(), Port());
}

void TclTcpClient::InternalClose(bool aNotifyPeer) {
  FConnection->Abort();
  FConnection->Close(aNotifyPeer);
}

void TclTcpClient::OpenConnection(const std::string& aServer, int32_t aPort) {
  FConnection->SetNetworkStream(nullptr);
  std::unique_ptr<TclNetworkStream> stream = CreateNetworkStream();
  // From here an abort ends the attempt, host name lookups included.
  FConnection->BeginOpen();
  if (FFirewallSettings.Server().empty()) {
    FConnection->SetNetworkStream(std::move(stream));
    FConnection->OpenAddress(FConnection->ResolveHost(aServer), aPort);
    return;
  }
  std::string target = FFirewallSettings.NeedResolveIP() ? aServer : FConnection->ResolveHost(aServer);
  FConnection->SetNetworkStream(TclSocksNetworkStream::Create(FFirewallSettings, std::move(stream), target, aPort));
  FConnection->OpenAddress(FConnection->ResolveHost(FFirewallSettings.Server()), FFirewallSettings.Port());
}

std::unique_ptr<TclNetworkStream> TclTcpClient::CreateNetworkStream() { return std::make_unique<TclNetworkStream>(); }

void TclTcpClient::SetServer(const std::string& aValue) { StoreProperty(FServer, aValue); }

void TclTcpClient::SetPort(int32_t aValue) {
  if (Port() == aValue && FPort) return;
  FPort = aValue;
  DoChanged();
}

void TclTcpClient::SetLocalBinding(const std::string& aValue) {
  if (LocalBinding() == aValue) return;
  FConnection->SetLocalBinding(aValue);
  DoChanged();
}

void TclTcpClient::SetBatchSize(int32_t aValue) {
  if (BatchSize() == aValue) return;
  FConnection->SetBatchSize(aValue);
  DoChanged();
}

void TclTcpClient::SetTimeOut(int32_t aValue) {
  if (TimeOut() == aValue) return;
  FConnection->SetTimeOut(aValue);
  DoChanged();
}

void TclTcpClient::SetBitsPerSec(int32_t aValue) {
  if (BitsPerSec() == aValue || aValue < 0) return;
  FConnection->SetBitsPerSec(aValue);
  DoChanged();
}

void TclTcpClient::SetKeepAlive(int32_t aValue) {
  if (aValue >= 0) StoreProperty(FKeepAlive, aValue);
}

void TclTcpClient::SetFirewallSettings(const TclFirewallSettings& aValue) {
  FFirewallSettings.Assign(aValue);
  DoChanged();
}

void TclTcpClient::StartKeepAlive() {
  StopKeepAlive();
  if (FKeepAlive > 0) FTimer = std::make_unique<TclKeepAliveTimer>(this, FKeepAlive);
}

void TclTcpClient::StopKeepAlive() { FTimer.reset(); }

void TclTcpClient::DoChanged() {
  if (OnChanged) OnChanged(this);
}

void TclTcpClient::DoOpen() {
  if (OnOpen) OnOpen(this);
}

void TclTcpClient::DoClose() {
  if (OnClose) OnClose(this);
}
