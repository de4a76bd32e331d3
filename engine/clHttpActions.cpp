#include "engine/clHttpActions.h"

#include "common/clStringsUtils.h"

namespace {

const char* OrNone(const std::string& aText) { return aText.empty() ? nullptr : aText.c_str(); }

}  // namespace

TclInternetOpenAction::TclInternetOpenAction(TclInternetConnection* aOwner, const std::string& lpszAgent,
                                             DWORD dwAccessType, const std::string& lpszProxy,
                                             const std::string& lpszProxyBypass, DWORD dwFlags)
    : TclInternetResourceAction(aOwner, nullptr),
      FAgent(lpszAgent),
      FAccessType(dwAccessType),
      FProxy(TclStringsUtils::Trim(lpszProxy)),
      FProxyBypass(TclStringsUtils::Trim(lpszProxyBypass)),
      FFlags(dwFlags) {}

void TclInternetOpenAction::Execute() {
  SetResult(InternetOpenA(FAgent.c_str(), FAccessType, OrNone(FProxy), OrNone(FProxyBypass), FFlags));
}

TclConnectAction::TclConnectAction(TclInternetConnection* aOwner, HINTERNET hInet, const std::string& lpszServerName,
                                   INTERNET_PORT nServerPort, const std::string& lpszUsername,
                                   const std::string& lpszPassword, DWORD dwService, DWORD dwFlags)
    : TclInternetResourceAction(aOwner, hInet),
      FServerName(lpszServerName),
      FServerPort(nServerPort),
      FUserName(lpszUsername),
      FPassword(lpszPassword),
      FService(dwService),
      FFlags(dwFlags) {}

void TclConnectAction::Execute() {
  SetResult(InternetConnectA(Internet(), FServerName.c_str(), FServerPort, OrNone(FUserName), OrNone(FPassword),
                             FService, FFlags, DWORD_PTR(Owner())));
}

TclHttpOpenRequestAction::TclHttpOpenRequestAction(TclInternetConnection* aOwner, HINTERNET hInet,
                                                   HINTERNET hConnect, const std::string& lpszVerb,
                                                   const std::string& lpszObjectName, const std::string& lpszVersion,
                                                   const std::string& lpszReferrer,
                                                   const std::vector<std::string>& lplpszAcceptTypes, DWORD dwFlags)
    : TclInternetResourceAction(aOwner, hInet),
      FConnect(hConnect),
      FVerb(lpszVerb),
      FObjectName(lpszObjectName),
      FVersion(lpszVersion),
      FReferrer(lpszReferrer),
      FAcceptTypes(lplpszAcceptTypes),
      FFlags(dwFlags) {}

void TclHttpOpenRequestAction::Execute() {
  std::vector<const char*> acceptTypes;
  for (const std::string& type : FAcceptTypes) acceptTypes.push_back(type.c_str());
  acceptTypes.push_back(nullptr);
  SetResult(HttpOpenRequestA(FConnect, OrNone(FVerb), FObjectName.c_str(), OrNone(FVersion), OrNone(FReferrer),
                             FAcceptTypes.empty() ? nullptr : acceptTypes.data(), FFlags, DWORD_PTR(Owner())));
}

TclHttpSendRequestAction::TclHttpSendRequestAction(TclInternetConnection* aOwner, HINTERNET hInet,
                                                   HINTERNET hRequest, const std::string& lpszHeaders,
                                                   const void* lpOptional, DWORD dwOptionalLength)
    : TclInternetAction(aOwner, hInet),
      FRequest(hRequest),
      FHeaders(lpszHeaders),
      FOptional(lpOptional),
      FOptionalLength(dwOptionalLength) {}

void TclHttpSendRequestAction::Execute() {
  if (!HttpSendRequestA(FRequest, OrNone(FHeaders), DWORD(FHeaders.size()), FOptional, FOptionalLength))
    RecordLastError();
}

TclInternetReadFileAction::TclInternetReadFileAction(TclInternetConnection* aOwner, HINTERNET hInet, HINTERNET hFile,
                                                     void* lpBuffer)
    : TclInternetAction(aOwner, hInet), FFile(hFile), FBuffer(lpBuffer) {}

void TclInternetReadFileAction::Execute() {
  FNumberOfBytesRead = 0;
  if (!InternetReadFile(FFile, FBuffer, FNumberOfBytesToRead, &FNumberOfBytesRead)) RecordLastError();
}
