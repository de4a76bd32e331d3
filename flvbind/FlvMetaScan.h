#pragma once
// The metadata scan: duration, sizes, data rates, frame rate and codecs of an FLV file, from its
// tags in file order.
#include "flvbind/Amf.h"
#include "flvbind/FLVLib.h"

struct FileReadAble;
class TOwnedFlvTag;

// aFirst holds the first tag, read with its data. Fills aArray and gives true, or gives false and
// leaves aArray alone when no audio or video tag carries a time.
bool ScanFlvMetadata(FileReadAble& aReader, const FlvHeaderRecord& aHeader, TOwnedFlvTag& aFirst, AmfEcmaArray& aArray);
