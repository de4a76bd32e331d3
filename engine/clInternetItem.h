#pragma once
// One transfer in the item list of a multi-item control: what to fetch (URL, credentials, the
// request object whose header lines go with every request) and the byte ranges it keeps between
// runs, so that a stopped item resumes. An item runs its threaders (one information request,
// then one per range), turns their events into events of its control, and tells the control
// when it starts and ends. Everything here runs on the control's thread; worker news arrive as
// synchronized events.
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/clLink.h"
#include "common/clStreams.h"
#include "common/clStringsUtils.h"
#include "engine/clCustomThreader.h"
#include "engine/clInternetConnection.h"
#include "engine/clResourceInfo.h"
#include "engine/clResourceState.h"
#include "http/clHttpRequest.h"

class TclMultiInternetControl;
class TclInternetItemList;

// One error reported during a run.
struct TclInternetError {
  std::string Text;
  int32_t Code = 0;
};

class TclInternetItem {
public:
  // Made by the list, which assigns its ID.
  TclInternetItem(TclInternetItemList* aList, TclMultiInternetControl* aControl);
  // A busy item is stopped and waited for; the control is told; the list lets go of it.
  virtual ~TclInternetItem();
  TclInternetItem(const TclInternetItem&) = delete;
  TclInternetItem& operator=(const TclInternetItem&) = delete;

  // Starts a run, or queues it when the control already runs its most items (asynchronous
  // starts only); a start of an item that waits in the queue is ignored. Synchronous: returns
  // when the run is over, serving the thread's messages meanwhile. A busy item raises
  // EclInternetError "Operation is in progress" (-1).
  void Start(bool aIsAsynch = true);
  // Takes the item out of the control's queue and stops its threaders; the run then ends the
  // usual way. The byte ranges stay for a resume.
  void Stop();
  bool IsBusy() const { return !FThreaders.empty(); }
  // The resource info, requested first (an information-only run) when the item has none:
  // asynchronous answers null, synchronous waits for it.
  TclResourceInfo* GetResourceInfo(bool aIsAsynch = true);
  // Closes the shared connection in use (the control's, else the item's own).
  void CloseConnection();
  // Sends a DELETE for URL and waits for it; raises its error unless it succeeded.
  void DeleteRemoteFile();
  TclCustomThreader* GetThreader(int32_t aIndex) const { return FThreaders.at(size_t(aIndex))->Threader; }
  int32_t ResourceConnectionCount() const { return int32_t(FThreaders.size()); }
  TclInternetConnection& ResourceConnections(int32_t aIndex) const { return GetThreader(aIndex)->Connection(); }

  virtual void Assign(const TclInternetItem& aSource);

  TclMultiInternetControl& Control() const { return *FControl; }
  // Position in the list, and the number the list gave the item.
  int32_t Index() const;
  int32_t ID() const { return FID; }

  // Target stream given by the user (not owned); LocalFile is then not written.
  TStream* DataStream() const { return FDataStream; }
  void SetDataStream(TStream* aValue) { FDataStream = aValue; }
  // Setting it parses it: UserName and Password become the URL's (so set them after URL).
  const std::string& URL() const { return FURL; }
  virtual void SetURL(const std::string& aValue);
  const std::string& UserName() const { return FUserName; }
  void SetUserName(const std::string& aValue);
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& aValue);
  // Overrides the URL's port; 0: the URL's.
  int32_t Port() const { return FPort; }
  void SetPort(int32_t aValue);
  const std::string& LocalFile() const { return FLocalFile; }
  void SetLocalFile(const std::string& aValue);
  TclProcessPriority Priority() const { return FPriority; }
  void SetPriority(TclProcessPriority aValue) { FPriority = aValue; }
  TclCertificateFlags CertificateFlags() const { return FCertificateFlags; }
  void SetCertificateFlags(TclCertificateFlags aValue) { FCertificateFlags = aValue; }
  // Ranges wanted; values outside 1..10 are ignored.
  int32_t ThreadCount() const { return FThreadCount; }
  void SetThreadCount(int32_t aValue);
  // One connection for all threaders of the item, kept open between requests.
  bool KeepConnection() const { return FKeepConnection; }
  void SetKeepConnection(bool aValue) { FKeepConnection = aValue; }
  // Request object whose header lines go with every request; not owned, unlinked when it is
  // destroyed.
  TclHttpRequest* HttpRequest() const { return FHttpRequest.Get(); }
  void SetHttpRequest(TclHttpRequest* aValue);
  // Also send the request object's body text as the URL's query.
  bool UseHttpRequest() const { return FUseHttpRequest; }
  void SetUseHttpRequest(bool aValue) { FUseHttpRequest = aValue; }
  void* Data() const { return FData; }
  void SetData(void* aValue) { FData = aValue; }

  // What the last run found.
  TclResourceInfo* ResourceInfo() const { return FResourceInfo.get(); }
  TclResourceStateList& ResourceState() { return FResourceState; }
  const TclResourceStateList& ResourceState() const { return FResourceState; }
  const std::vector<TclInternetError>& Errors() const { return FErrors; }
  // Reply header lines of the threader that ended last.
  const TStrings& HttpResponseHeader() const { return FHttpResponseHeader; }

protected:
  // Keeps the first exception of the handlers it runs, so that the run's own steps all happen
  // before it is raised.
  class TclFirstError {
  public:
    template <typename TStep>
    void Run(TStep aStep) {
      try {
        aStep();
      } catch (...) {
        if (!FError) FError = std::current_exception();
      }
    }
    void Raise() {
      if (FError) std::rethrow_exception(FError);
    }

  private:
    std::exception_ptr FError;
  };

  // One running threader and the range it works on (none for the information request of an
  // item without ranges), with the copy of the resource info a data threader fills.
  struct TclThreaderHolder {
    TclCustomThreader* Threader = nullptr;
    TclResourceStateItem* Range = nullptr;
    std::unique_ptr<TclResourceInfo> Info;
  };

  // A new threader of the item's kind; aDataStream null for the information request.
  virtual TclCustomThreader* CreateThreader(const std::string& aURL, TStream* aDataStream,
                                            bool aIsGetResourceInfo) = 0;
  // Settings of the control and the item onto a new threader.
  virtual void ConfigureThreader(TclCustomThreader& aThreader);
  // A run begins: the control's busy count goes up and the information threader starts.
  virtual void BeginRun(bool aInformationOnly);
  virtual void ResourceInfoReceived(const TclResourceInfo* aInfo);
  virtual void SetLastStatus(TclProcessStatus aStatus);
  // The last threader has ended.
  virtual void RunCompleted() = 0;

  // Makes a threader for aRange (null: none) with the item's settings and events; a data
  // threader gets a copy of the resource info and of the parsed URL, so it requests no
  // information and parses nothing. Started by the caller.
  TclCustomThreader* AddThreader(TclResourceStateItem* aRange, TStream* aDataStream, bool aIsGetResourceInfo);
  // Reply header, commit, the control told, busy count down, OnProcessCompleted; a handler's
  // exception is raised after all of them.
  void Finish();
  virtual void Commit() {}
  // The stream data threaders write to; null outside a data phase.
  virtual TStream* TransferStream() const { return nullptr; }
  // Stops a busy item and waits for it, without OnProcessCompleted: the most derived destructor
  // calls it while the whole item still exists.
  void Shutdown();
  // Forgets the ranges (threaders keep running, but no longer report to a range).
  void ClearResourceState();
  void AddError(const std::string& aText, int32_t aCode);
  // The settings that locate the resource changed: ranges and resource info are dropped when
  // the item is idle; the control's OnChanged either way.
  void Changed();
  // A new LocalFile without dropping the ranges (the file the run goes on with).
  void AssignLocalFile(const std::string& aValue) { FLocalFile = aValue; }
  bool Committing() const { return FCommitting; }
  // Stop was called during this run: a phase that ends meanwhile starts no further work.
  bool StopRequested() const { return FStopRequested; }
  const TclUrlParser& ParsedURL() const { return FParsedURL; }

private:
  friend class TclMultiInternetControl;
  friend class TclMultiDownLoader;
  friend class TclDownLoadList;
  struct TclIdleSignal;

  // Stores a setting that locates the resource or its file, when it differs: Changed.
  template <typename T>
  void SetLocating(T& aField, const T& aValue) {
    if (aField == aValue) return;
    aField = aValue;
    Changed();
  }
  void WireThreader(TclThreaderHolder& aHolder);
  void ThreaderStatusChanged(TclThreaderHolder& aHolder, TclProcessStatus aStatus);
  void ThreaderUrlParsing(TclUrlParser& aParser);
  void ThreaderDataProceed(TclThreaderHolder& aHolder, int64_t aPosition, const char* aData, int32_t aSize);
  void ThreaderEnded(TclThreaderHolder* aHolder);
  // The first range other than aExcept whose threader failed, once a range ended well.
  void RestartFailedRange(const TclResourceStateItem* aExcept);
  // Serves the thread's messages until the item is idle.
  void WaitUntilIdle();
  // The shared connection of the item's threaders, if any.
  TclInternetConnection* SharedConnection();
  std::string RequestURL() const;

  TclInternetItemList* FList;
  TclMultiInternetControl* FControl;
  int32_t FID;
  TStream* FDataStream = nullptr;
  std::vector<std::unique_ptr<TclThreaderHolder>> FThreaders;
  std::string FPassword;
  std::string FUserName;
  std::string FURL;
  TclProcessStatus FLastStatus = psUnknown;
  TclProcessPriority FPriority = ppNormal;
  std::unique_ptr<TclResourceInfo> FResourceInfo;
  std::vector<TclInternetError> FErrors;
  TclCertificateFlags FCertificateFlags;
  int32_t FThreadCount = 1;
  TclResourceStateList FResourceState;
  bool FKeepConnection = false;
  std::unique_ptr<TclInternetConnection> FOwnConnection;
  void* FData = nullptr;
  TclLink<TclHttpRequest> FHttpRequest;
  bool FUseHttpRequest = false;
  TStrings FHttpResponseHeader;
  int32_t FPort = 0;
  bool FCommitting = false;
  bool FStopRequested = false;
  std::string FLocalFile;
  // Of the threader that ended last: its reply header and parsed URL.
  TStrings FLastResponseHeader;
  TclUrlParser FParsedURL;
  std::shared_ptr<TclIdleSignal> FIdle;
  bool FDestroying = false;
};

// The items of a control in order, each with an ID counted up from 0. Items are made by Add of a
// list of their kind; freeing an item takes it out, and the items after it move down by one.
class TclInternetItemList {
public:
  TclInternetItemList() = default;
  virtual ~TclInternetItemList();
  TclInternetItemList(const TclInternetItemList&) = delete;
  TclInternetItemList& operator=(const TclInternetItemList&) = delete;

  int32_t Count() const { return int32_t(FItems.size()); }
  TclInternetItem* Item(int32_t aIndex) const { return FItems.at(size_t(aIndex)); }
  int32_t IndexOf(const TclInternetItem* aItem) const;
  // Frees the item at aIndex.
  void Delete(int32_t aIndex);
  // Frees every item (busy ones are stopped and waited for).
  void Clear();
  // Clear, and the next item gets ID 0 again.
  void ClearAndResetID();

protected:
  // Takes ownership of a new item.
  void Append(TclInternetItem* aItem) { FItems.push_back(aItem); }

private:
  friend class TclInternetItem;
  int32_t NextID() { return FNextID++; }
  void Remove(TclInternetItem* aItem);

  std::vector<TclInternetItem*> FItems;
  int32_t FNextID = 0;
};
