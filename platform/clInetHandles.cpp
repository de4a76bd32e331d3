#include "platform/clInetHandles.h"

#include <algorithm>
#include <unordered_map>

#include "platform/clInetProxy.h"

namespace {

// Idle sessions a root handle keeps for its next requests.
constexpr size_t cMaxIdleSessions = 16;

struct THandleTable {
  std::mutex Lock;
  uintptr_t Last = 0;
  std::unordered_map<uintptr_t, std::shared_ptr<TclInetHandle>> Open;
};

THandleTable& Table() {
  static THandleTable table;
  return table;
}

std::string SchemeOf(DWORD aFlags) { return (aFlags & INTERNET_FLAG_SECURE) ? "https" : "http"; }

std::string OriginOf(const TclInetServer& aServer, DWORD aFlags) {
  INTERNET_PORT port = aServer.Port;
  if (port == 0) port = (aFlags & INTERNET_FLAG_SECURE) ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  bool literal6 = aServer.Host.find(':') != std::string::npos && aServer.Host.front() != '[';
  std::string host = literal6 ? "[" + aServer.Host + "]" : aServer.Host;
  return SchemeOf(aFlags) + "://" + host + ":" + std::to_string(port);
}

}  // namespace

TclInetHandle::TclInetHandle(TKind aKind, std::shared_ptr<TclInetHandle> aParent)
    : FKind(aKind), FParent(std::move(aParent)) {
  if (FParent) FOptions = FParent->Options();
}

TclInternetOptions TclInetHandle::Options() const {
  std::lock_guard lock(FLock);
  return FOptions;
}

void TclInetHandle::Close() {
  std::vector<std::shared_ptr<TclInetHandle>> children;
  {
    std::lock_guard lock(FLock);
    if (FClosed) return;
    FClosed = true;
    for (auto& weak : FChildren)
      if (auto child = weak.lock()) children.push_back(std::move(child));
    FChildren.clear();
  }
  Abort();
  for (auto& child : children) {
    TakeHandle(child->Number());
    child->Close();
  }
}

HINTERNET RegisterHandle(const std::shared_ptr<TclInetHandle>& aHandle) {
  THandleTable& table = Table();
  {
    std::lock_guard lock(table.Lock);
    aHandle->FNumber = reinterpret_cast<HINTERNET>(++table.Last);
    table.Open.emplace(table.Last, aHandle);
  }
  if (const auto& parent = aHandle->FParent) {
    std::lock_guard lock(parent->FLock);
    if (!parent->FClosed) {
      std::erase_if(parent->FChildren, [](const auto& weak) { return weak.expired(); });
      parent->FChildren.push_back(aHandle);
      return aHandle->FNumber;
    }
  } else {
    return aHandle->FNumber;
  }
  TakeHandle(aHandle->FNumber);
  return nullptr;
}

std::shared_ptr<TclInetHandle> FindHandle(HINTERNET aNumber) {
  THandleTable& table = Table();
  std::lock_guard lock(table.Lock);
  auto it = table.Open.find(reinterpret_cast<uintptr_t>(aNumber));
  return it == table.Open.end() ? nullptr : it->second;
}

std::shared_ptr<TclInetHandle> TakeHandle(HINTERNET aNumber) {
  THandleTable& table = Table();
  std::shared_ptr<TclInetHandle> handle;
  std::lock_guard lock(table.Lock);
  auto it = table.Open.find(reinterpret_cast<uintptr_t>(aNumber));
  if (it == table.Open.end()) return nullptr;
  handle = std::move(it->second);
  table.Open.erase(it);
  return handle;
}

TclInetRoot::TclInetRoot(std::string aAgent, DWORD aAccessType, std::string aProxy, std::string aBypass)
    : TclInetHandle(TKind::Root, nullptr),
      Agent(std::move(aAgent)),
      AccessType(aAccessType),
      Proxy(std::move(aProxy)),
      Bypass(std::move(aBypass)) {}

std::shared_ptr<TclCurlSession> TclInetRoot::TakeSession(const std::string& aOrigin) {
  std::shared_ptr<TclCurlSession> session;
  {
    std::lock_guard lock(FPoolLock);
    auto it = std::find_if(FIdle.begin(), FIdle.end(), [&](const auto& s) { return s->Origin == aOrigin; });
    if (it == FIdle.end() && !FIdle.empty()) it = FIdle.begin();
    if (it != FIdle.end()) {
      session = std::move(*it);
      FIdle.erase(it);
    }
  }
  if (!session) session = std::make_shared<TclCurlSession>();
  session->Origin = aOrigin;
  return session;
}

void TclInetRoot::GiveSession(std::shared_ptr<TclCurlSession> aSession) {
  std::lock_guard lock(FPoolLock);
  if (FIdle.size() >= cMaxIdleSessions) FIdle.erase(FIdle.begin());
  FIdle.push_back(std::move(aSession));
}

TclInetServer::TclInetServer(std::shared_ptr<TclInetRoot> aRoot, std::string aHost, INTERNET_PORT aPort)
    : TclInetHandle(TKind::Server, aRoot), Root(std::move(aRoot)), Host(std::move(aHost)), Port(aPort) {}

TclInetRequest::TclInetRequest(std::shared_ptr<TclInetServer> aServer, std::string aVerb, std::string aObject,
                               bool aHttp10, DWORD aFlags)
    : TclInetHandle(TKind::Request, aServer),
      Server(aServer),
      Transfer(std::make_unique<TclCurlTransfer>(aServer->Root->TakeSession(OriginOf(*aServer, aFlags)))),
      FVerb(std::move(aVerb)),
      FUrl(OriginOf(*aServer, aFlags) + aObject),
      FHttp10(aHttp10),
      FFlags(aFlags) {}

TclInetRequest::~TclInetRequest() {
  // The session goes back only once the transfer has let go of it.
  std::shared_ptr<TclCurlSession> session = Transfer->Session();
  Transfer.reset();
  Server->Root->GiveSession(std::move(session));
}

TclExchange TclInetRequest::Exchange() const {
  const TclInetRoot& root = *Server->Root;
  TclExchange x;
  x.Url = FUrl;
  x.Verb = FVerb;
  x.HeaderLines = Headers.Lines();
  x.Http10 = FHttp10;
  x.FollowRedirects = !(FFlags & INTERNET_FLAG_NO_AUTO_REDIRECT);
  x.Agent = root.Agent;
  if (root.AccessType == INTERNET_OPEN_TYPE_DIRECT) {
    x.ProxyMode = TclExchange::TProxy::Direct;
  } else if (root.AccessType == INTERNET_OPEN_TYPE_PROXY) {
    x.Proxy = ProxyForScheme(root.Proxy, SchemeOf(FFlags));
    x.ProxyMode = x.Proxy.empty() ? TclExchange::TProxy::Direct : TclExchange::TProxy::Named;
    x.NoProxy = NoProxyList(root.Bypass);
  }
  x.Options = Options();
  return x;
}
