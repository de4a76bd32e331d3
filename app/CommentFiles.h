#pragma once
// The comment list as the site sends it (raw deflate) turned into the XML file that is stored.
#include <string>

// The comment file of a listing row: the row's name cleaned for a file name with ".xml", after
// aNumber and a space unless aNumber is empty; the name is cut so that it and its temporary name
// fit in one folder entry.
std::string CommentFileName(const std::string& aRowName, const std::string& aNumber);

// Largest comment list kept: a reply that inflates beyond it is refused, not held in memory.
inline constexpr size_t kMaxCommentBytes = 64u << 20;

// Inflates zlib-format data (15-bit window) in steps of 4096 bytes. The end of the input ends
// the inflation normally, so a stream without its Adler-32 trailer is whole; an error of the data
// (a wrong trailer included) or an output beyond kMaxCommentBytes is a failure.
bool InflateComment(const std::string& aCompressed, std::string& aOutput);

// The XML text of a comment reply: raw deflate (inflated behind the zlib header 0x78 0x9C), data
// that already carries a zlib header, or XML text as it is. False when the reply gives no text
// that begins as a comment list does (an XML declaration or the root element "i").
bool DecodeCommentReply(const std::string& aReply, std::string& aXml);
