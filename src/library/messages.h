// The message log: a shared record (DMESSAGES, exported as data) that callers fill in, and the
// routines that classify, count and write its message to the console, a message file, a
// comma-separated log file and, for located messages, MapInfo interchange text objects.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "kelvara.h"

namespace kelvara {

using MessageRecord = kelvara_dmessages;
static_assert(sizeof(MessageRecord) == 7096, "the shared message record is packed");

// The location that stands for none.
constexpr double kNoLocation = -99999.0;

enum Severity { kSeverityNone = 0, kSeverityError = 1, kSeverityWarning = 2,
                kSeverityCheck = 3, kSeverityUnstable = 4 };

// The exported record.
MessageRecord& messageRecord();

// A text field of the record without its trailing padding (blanks and NULs).
std::string recordText(const char* field, std::size_t size);
template <std::size_t N>
std::string recordText(const char (&field)[N]) { return recordText(field, N); }
// Writes value left-aligned into a text field of the record, blank-padded, cut at its size.
void setRecordText(char* field, std::size_t size, std::string_view value);
template <std::size_t N>
void setRecordText(char (&field)[N], std::string_view value) { setRecordText(field, N, value); }

// Classify, count, log, display (see kelvara.h for n), then DMESSAGECLEAR.
void DMESSAGE(int n);
// Write the located message to its graphics and attribute files, then DMESSAGE(n).
void DMESSAGEXY(int n, double x, double y);
// Blank the texts, the prefix and the extra fields; no location; one-line flag cleared.
void DMESSAGECLEAR();
// All six counts to 0.
void DMESSAGERESETCOUNTERS();
// 80 underscores on the console, and in the unit when it is > 0.
void DLINE(int unit);

}  // namespace kelvara
