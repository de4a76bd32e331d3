#pragma once
// The "onMetaData" object: computed from the tags of a finished file (the metadata scan) and
// written back as the file's first tag (the rewrite).
#include <optional>
#include <string>
#include <vector>

#include "flvbind/Amf.h"
#include "flvbind/FLVLib.h"
#include "flvbind/FlvMetaScan.h"

struct FlvMetaObject : public ScriptDataObject {
public:
  FlvMetaObject() : ScriptDataObject("onMetaData") {}
  // A leading script data tag is taken as it is; otherwise the values come from scanning the
  // tags. False, with nothing stored, when the file cannot be read or holds no timed tag.
  bool ParseFromFile(const std::string& aPath);
  // Rewrites aPath so that it begins with this object as its script data tag, through the work
  // file aPath + ".$$$", which replaces aPath only when complete. False leaves aPath as it was.
  bool UpdateToFile(const std::string& aPath);

  // A join written straight into its final form: room for this object's tag after the header,
  // each joined tag counted as the scan would count it, then the tag put in its place. The file
  // ends as ParseFromFile and UpdateToFile would leave the plain join, with its data written once.
  // False when there is no room for the gap (the join then goes on without one).
  bool ReserveTag(FileWriteAble& aWriter, const FlvHeaderRecord& aHeader);
  void AddJoinedTag(const FlvTagRecord& aTag);
  // Back to the plain join, for a join that ends without metadata.
  void DropReservation(FileWriteAble& aWriter);
  // Fills the gap and passes the finished file through the work file aPath + ".$$$". False, with
  // the plain join in aPath, when that cannot give the rewrite's result (the scan found no time,
  // aPath names another file, the work file cannot be made): the caller then rewrites as usual.
  bool PlaceTag(FileWriteAble& aWriter, const std::string& aPath);

private:
  std::optional<TFlvTagTally> FJoinTally;
};

// The script data tag of aMeta, timestamp 0, as the rewrite writes it.
std::vector<uint8_t> MetadataTagBytes(const ScriptDataObject& aMeta);
