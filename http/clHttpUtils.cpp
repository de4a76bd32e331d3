#include "http/clHttpUtils.h"

void TclHttpProxySettings::Clear() { Assign(TclHttpProxySettings()); }

void TclHttpProxySettings::Assign(const TclHttpProxySettings& aSource) {
  SetAuthorizationType(aSource.FAuthorizationType);
  SetUserName(aSource.FUserName);
  SetPassword(aSource.FPassword);
  SetServer(aSource.FServer);
  SetPort(aSource.FPort);
}
