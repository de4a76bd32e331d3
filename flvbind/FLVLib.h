#pragma once
// The exported interface of FLVLib.dll: FLV file objects, header and tag reading and writing, and
// the "onMetaData" object. Every operation reports failure only through its result (0, false or
// null); nothing is printed.
#include <stdint.h>

#if defined(__GNUC__)
#define FLVLIB_API __attribute__((visibility("default")))
#else
#define FLVLIB_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Opaque handles.
typedef struct FileReadAble FileReadAble;
typedef struct FileWriteAble FileWriteAble;
typedef struct FlvMetaObject FlvMetaObject;

enum { FLV_TAG_AUDIO = 8, FLV_TAG_VIDEO = 9, FLV_TAG_SCRIPT = 18 };

typedef struct FlvHeaderRecord {
  int32_t version;
  int32_t hasVideo;  // flag bit 0
  int32_t hasAudio;  // flag bit 2
} FlvHeaderRecord;

// Every pointer below points into the tag's raw buffer.
typedef struct FlvAudioInfo {
  int32_t soundFormat;
  int32_t soundRate;  // rate index 0..3
  int32_t soundSize;  // 0: 8 bit, 1: 16 bit
  int32_t soundType;  // 0: mono, 1: stereo
  const uint8_t* payload;
  int32_t payloadSize;
} FlvAudioInfo;

typedef struct FlvVideoInfo {
  int32_t frameType;
  int32_t codecId;
  int32_t width;
  int32_t height;
  int32_t hAdjust;  // VP6 codecs
  int32_t vAdjust;
  const uint8_t* codecData;
  int32_t codecDataSize;
  const uint8_t* alphaData;  // VP6 with alpha
  int32_t alphaDataSize;
  const uint8_t* body;  // the data after its first byte
  int32_t bodySize;
} FlvVideoInfo;

typedef union FlvStreamInfo {
  FlvAudioInfo audio;
  FlvVideoInfo video;
} FlvStreamInfo;

typedef struct FlvTagRecord {
  int32_t type;
  uint32_t timestamp;  // milliseconds, the extended byte as bits 24-31
  int32_t streamId;
  FlvStreamInfo info;
  uint8_t* data;  // rawBuffer + 11; null when read without data
  int32_t dataSize;
  uint8_t* rawBuffer;  // tag header, data and trailing PreviousTagSize, as stored; owned
  int32_t rawSize;     // dataSize + 15
  int64_t filePosition;
} FlvTagRecord;

FLVLIB_API FileReadAble* CreateFileReadAble(const char* path);
FLVLIB_API void DeleteFileReadAble(FileReadAble* reader);
// Reading and writing go through large buffers. A write failure shows at a later write or at
// FlushFileWriteAble (1 when every byte written so far is in the file); DeleteFileWritable writes
// what is left without telling whether it could.
FLVLIB_API FileWriteAble* CreateFileWriteAble(const char* path);
FLVLIB_API int FlushFileWriteAble(FileWriteAble* writer);
FLVLIB_API void DeleteFileWritable(FileWriteAble* writer);

FLVLIB_API int Flv_ReadHeader(FileReadAble* reader, FlvHeaderRecord* header);
FLVLIB_API int Flv_ReadTag(FileReadAble* reader, int readData, FlvTagRecord* tag);
FLVLIB_API int Flv_WriteHeader(FileWriteAble* writer, const FlvHeaderRecord* header);
FLVLIB_API int Flv_WriteTag(FileWriteAble* writer, const FlvTagRecord* tag);
FLVLIB_API void Flv_FreeTag(FlvTagRecord* tag);

FLVLIB_API FlvMetaObject* FlvMetaCreateObject(void);
FLVLIB_API int FlvMetaParseFromFile(FlvMetaObject* meta, const char* path);
FLVLIB_API int FlvMetaUpdateToFile(FlvMetaObject* meta, const char* path);
FLVLIB_API void FlvMetaDeleteObject(FlvMetaObject* meta);

// A join that writes its data once: after the header, FlvMetaReserveTag leaves room in writer for
// the "onMetaData" tag (0: no room, the join goes on without it); FlvMetaAddTag counts each tag
// written; FlvMetaPlaceTag (writer flushed) then makes path what FlvMetaParseFromFile and
// FlvMetaUpdateToFile would make of the plain join, work file included. When it gives 0, path holds
// the plain join and those two do the work. FlvMetaDropReservation turns the file back into the
// plain join, for a join that ends without metadata.
FLVLIB_API int FlvMetaReserveTag(FlvMetaObject* meta, FileWriteAble* writer, const FlvHeaderRecord* header);
FLVLIB_API void FlvMetaAddTag(FlvMetaObject* meta, const FlvTagRecord* tag);
FLVLIB_API int FlvMetaDropReservation(FlvMetaObject* meta, FileWriteAble* writer);
FLVLIB_API int FlvMetaPlaceTag(FlvMetaObject* meta, FileWriteAble* writer, const char* path);

// Builds one complete tag (header, data, PreviousTagSize) in buffer; returns dataSize + 15. With a
// null buffer nothing is written and 2 * dataSize + 15 comes back.
FLVLIB_API int32_t FlvMuplex_WriteDataTag(uint8_t* buffer, const uint8_t* data, int32_t dataSize, uint32_t timestamp,
                                          int32_t tagType);
FLVLIB_API int32_t FlvMuplex_GetMaxFrameSize(int32_t dataSize);

#ifdef __cplusplus
}
#endif
