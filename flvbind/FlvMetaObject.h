#pragma once
// The "onMetaData" object: computed from the tags of a finished file (the metadata scan) and
// written back as the file's first tag (the rewrite).
#include <string>

#include "flvbind/Amf.h"
#include "flvbind/FLVLib.h"

struct FlvMetaObject : public ScriptDataObject {
public:
  FlvMetaObject() : ScriptDataObject("onMetaData") {}
  // A leading script data tag is taken as it is; otherwise the values come from scanning the
  // tags. False, with nothing stored, when the file cannot be read or holds no timed tag.
  bool ParseFromFile(const std::string& aPath);
  // Rewrites aPath so that it begins with this object as its script data tag, through the work
  // file aPath + ".$$$", which replaces aPath only when complete. False leaves aPath as it was.
  bool UpdateToFile(const std::string& aPath);
};
