// The exported operations: each catches every failure of its work and reports it by its result.
#include "flvbind/FLVLib.h"

#include <new>

#include "flvbind/FileReadAble.h"
#include "flvbind/FileWriteAble.h"
#include "flvbind/FlvMetaObject.h"
#include "flvbind/FlvTag.h"

namespace {
constexpr int32_t cMaxTagDataSize = 0xFFFFFF;  // DataSize is a 24-bit field

template <class F>
int Guarded(F aWork) {
  try {
    return aWork() ? 1 : 0;
  } catch (const std::exception&) {
    return 0;
  }
}
}  // namespace

extern "C" {

FileReadAble* CreateFileReadAble(const char* path) {
  if (!path) return nullptr;
  try {
    return FileReadAble::Open(path).release();
  } catch (const std::exception&) {
    return nullptr;
  }
}

void DeleteFileReadAble(FileReadAble* reader) { delete reader; }

FileWriteAble* CreateFileWriteAble(const char* path) {
  if (!path) return nullptr;
  try {
    return FileWriteAble::Create(path).release();
  } catch (const std::exception&) {
    return nullptr;
  }
}

int FlushFileWriteAble(FileWriteAble* writer) {
  return writer && Guarded([&] {
           writer->Flush();
           return true;
         });
}

void DeleteFileWritable(FileWriteAble* writer) { delete writer; }

int Flv_ReadHeader(FileReadAble* reader, FlvHeaderRecord* header) {
  return reader && header && Guarded([&] { return ReadFlvHeader(*reader, *header); });
}

int Flv_ReadTag(FileReadAble* reader, int readData, FlvTagRecord* tag) {
  if (!reader || !tag) return 0;
  return Guarded([&] {
    ReadFlvTag(*reader, readData != 0, *tag);
    return true;
  });
}

int Flv_WriteHeader(FileWriteAble* writer, const FlvHeaderRecord* header) {
  return writer && header && Guarded([&] {
           WriteFlvHeader(*writer, *header);
           return true;
         });
}

int Flv_WriteTag(FileWriteAble* writer, const FlvTagRecord* tag) {
  return writer && tag && Guarded([&] { return WriteFlvTag(*writer, *tag); });
}

void Flv_FreeTag(FlvTagRecord* tag) {
  if (tag) FreeFlvTag(*tag);
}

FlvMetaObject* FlvMetaCreateObject(void) { return new (std::nothrow) FlvMetaObject(); }

int FlvMetaParseFromFile(FlvMetaObject* meta, const char* path) {
  return meta && path && Guarded([&] { return meta->ParseFromFile(path); });
}

int FlvMetaUpdateToFile(FlvMetaObject* meta, const char* path) {
  return meta && path && Guarded([&] { return meta->UpdateToFile(path); });
}

void FlvMetaDeleteObject(FlvMetaObject* meta) { delete meta; }

int FlvMetaReserveTag(FlvMetaObject* meta, FileWriteAble* writer, const FlvHeaderRecord* header) {
  return meta && writer && header && Guarded([&] { return meta->ReserveTag(*writer, *header); });
}

void FlvMetaAddTag(FlvMetaObject* meta, const FlvTagRecord* tag) {
  if (meta && tag) meta->AddJoinedTag(*tag);
}

int FlvMetaDropReservation(FlvMetaObject* meta, FileWriteAble* writer) {
  return meta && writer && Guarded([&] {
           meta->DropReservation(*writer);
           return true;
         });
}

int FlvMetaPlaceTag(FlvMetaObject* meta, FileWriteAble* writer, const char* path) {
  return meta && writer && path && Guarded([&] { return meta->PlaceTag(*writer, path); });
}

int32_t FlvMuplex_WriteDataTag(uint8_t* buffer, const uint8_t* data, int32_t dataSize, uint32_t timestamp,
                               int32_t tagType) {
  if (dataSize < 0 || dataSize > cMaxTagDataSize || (dataSize > 0 && !data)) return 0;
  if (!buffer) return 2 * dataSize + cFlvTagOverhead;
  return BuildFlvTag(buffer, data, dataSize, timestamp, tagType);
}

int32_t FlvMuplex_GetMaxFrameSize(int32_t dataSize) { return dataSize + 20; }

}  // extern "C"
